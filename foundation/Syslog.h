#pragma once
// The daemon's own syslog client and the stream buffers that send std::cout, std::cerr and
// std::clog to it line by line. Records are formatted here and the records of one flush
// reach the local socket "/dev/log" together, in one send, each ended by a zero byte.
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>

#include <streambuf>
#include <string>

class SysLogManager {
 public:
  SysLogManager();
  SysLogManager(const SysLogManager&) = delete;
  SysLogManager& operator=(const SysLogManager&) = delete;
  ~SysLogManager();

  void openlog(const char* ident, int options, int facility);
  void closelog();
  // Formats one record and queues it; it is sent with the batch.
  void syslog(int priority, const char* format, ...) __attribute__((format(printf, 3, 4)));
  // Sends the waiting records in one message; the result of the send (0: nothing waited).
  int sendmsg();

  static constexpr unsigned kRecordSize = 1024;
  static constexpr unsigned kBatchSize = 16384;
  static constexpr unsigned kMaxRecords = 256;
  // A batch this full is sent at once, so that a further record of the largest size fits.
  static constexpr unsigned kSendThreshold = 12289;

  bool connected() const { return connected_; }
  unsigned waiting() const { return static_cast<unsigned>(count_); }

 private:
  void openlog_internal(const char* ident, int options, int facility);
  void vsyslog_internal(int priority, const char* format, va_list ap);
  int sendmsg_internal(const char* data, unsigned length);
  int send_batch();
  void close_socket();

  int type_;
  int socket_ = -1;
  bool connected_ = false;
  int options_ = 0;
  std::string ident_;
  int facility_;
  int mask_ = 0xff;
  sockaddr_un address_{};
  char record_[kRecordSize];
  char batch_[kBatchSize];
  unsigned batch_length_ = 0;
  msghdr header_{};
  iovec vector_[kMaxRecords];
  int count_ = 0;
};

extern SysLogManager syslogManager;

// Cuts the text written to a stream into lines and logs each line with one priority
// through the system's syslog(); the last byte of the buffer is kept for a zero.
class SysLogStreamBuf : public std::basic_streambuf<char> {
 public:
  // facility as a facility value (LOG_DAEMON), level as a level (LOG_ERR).
  SysLogStreamBuf(int facility, int level);
  ~SysLogStreamBuf() override;
  SysLogStreamBuf(const SysLogStreamBuf&) = delete;
  SysLogStreamBuf& operator=(const SysLogStreamBuf&) = delete;

 protected:
  SysLogStreamBuf(int facility, int level, std::streamsize size);
  std::basic_streambuf<char>* setbuf(char* buffer, std::streamsize size) override;
  int sync() override;
  int_type overflow(int_type c) override;

  // Passes each complete line (and, once one is complete, a last partial line) to emit;
  // true when anything was passed. Text without a line end stays unless the buffer is full.
  template <class Emit>
  bool cut_lines(Emit emit);

  char* buffer_ = nullptr;
  int priority_;
};

// The same through the daemon's own client: the lines of one flush go out in one send.
class ManagedSysLogStreamBuf : public SysLogStreamBuf {
 public:
  ManagedSysLogStreamBuf(int facility, int level);

 protected:
  int sync() override;
};
