#include "foundation/Syslog.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "foundation/Mux.h"
#include "foundation/Paths.h"

SysLogManager syslogManager;

namespace {
const char kDefaultIdent[] = "syslog-il";
}  // namespace

SysLogManager::SysLogManager() : type_(SOCK_DGRAM), ident_(kDefaultIdent), facility_(LOG_USER) {
  address_.sun_family = AF_UNIX;
  std::strcpy(address_.sun_path, "/dev/log");
}

SysLogManager::~SysLogManager() { close_socket(); }

void SysLogManager::close_socket() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  connected_ = false;
}

void SysLogManager::openlog(const char* ident, int options, int facility) {
  openlog_internal(ident, options, facility);
}

void SysLogManager::closelog() {
  close_socket();
  ident_ = kDefaultIdent;
  type_ = SOCK_DGRAM;
  batch_length_ = 0;
  count_ = 0;
}

void SysLogManager::openlog_internal(const char* ident, int options, int facility) {
  if (ident) ident_ = ident;
  options_ = options;
  if (facility != 0 && (facility & ~0x3f8) == 0) facility_ = facility;

  for (int attempt = 0; attempt < 2; ++attempt) {
    if (socket_ < 0) {
      const std::string path = Paths::rooted("/dev/log");
      address_ = sockaddr_un{};
      address_.sun_family = AF_UNIX;
      // A root too long for a socket address leaves no log socket rather than a cut path.
      if (path.size() >= sizeof address_.sun_path) return;
      std::memcpy(address_.sun_path, path.c_str(), path.size() + 1);
      if (options_ & LOG_NDELAY) {
        socket_ = ::socket(AF_UNIX, type_ | SOCK_CLOEXEC, 0);
        if (socket_ < 0) return;
      }
    }
    if (socket_ < 0 || connected_) return;
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) == 0) {
      connected_ = true;
      return;
    }
    const int err = errno;
    close_socket();
    if (err != EPROTOTYPE) return;
    type_ = type_ == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
  }
}

void SysLogManager::syslog(int priority, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vsyslog_internal(priority, format, ap);
  va_end(ap);
}

void SysLogManager::vsyslog_internal(int priority, const char* format, va_list ap) {
  if (!(mask_ & (1 << (priority & 7)))) return;
  if ((priority & 0x3f8) == 0) priority |= facility_;

  // Appends to the record, keeping it within kRecordSize - 1 characters.
  std::size_t len = 0;
  auto account = [&](int n) {
    if (n > 0) len += static_cast<std::size_t>(n);
    if (len > sizeof record_ - 1) len = sizeof record_ - 1;
  };
  account(std::snprintf(record_, sizeof record_, "<%d>", priority));
  time_t now = static_cast<time_t>(Mux::seconds());
  struct tm t;
  if (::localtime_r(&now, &t)) account(static_cast<int>(std::strftime(record_ + len, sizeof record_ - len, "%h %e %T ", &t)));
  const std::size_t ident_at = len;
  if (!ident_.empty()) account(std::snprintf(record_ + len, sizeof record_ - len, "%s", ident_.c_str()));
  if (options_ & LOG_PID) account(std::snprintf(record_ + len, sizeof record_ - len, "[%d]", static_cast<int>(::getpid())));
  if (!ident_.empty()) account(std::snprintf(record_ + len, sizeof record_ - len, ": "));
  account(std::vsnprintf(record_ + len, sizeof record_ - len, format, ap));
  record_[len] = '\0';

  if (options_ & LOG_PERROR) {
    const char* from = record_ + ident_at;
    std::size_t n = len - ident_at;
    struct iovec v[2] = {{const_cast<char*>(from), n}, {const_cast<char*>("\n"), 1}};
    ssize_t r = ::writev(2, v, (n > 0 && from[n - 1] == '\n') ? 1 : 2);
    (void)r;
  }

  if (!connected_) openlog_internal(ident_.c_str(), options_ | LOG_NDELAY, 0);
  if (connected_ && sendmsg_internal(record_, static_cast<unsigned>(len + 1)) >= 0) return;
  if (connected_) {
    close_socket();
    openlog_internal(ident_.c_str(), options_ | LOG_NDELAY, 0);
    if (connected_ && sendmsg_internal(record_, static_cast<unsigned>(len + 1)) >= 0) return;
  }
  close_socket();
  if (options_ & LOG_CONS) {
    int fd = ::open(Paths::rooted("/dev/console").c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      char line[kRecordSize + 2];
      int n = std::snprintf(line, sizeof line, "%s\r\n", record_ + ident_at);
      if (n > 0) {
        ssize_t r = ::write(fd, line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
        (void)r;
      }
      ::close(fd);
    }
  }
}

int SysLogManager::sendmsg_internal(const char* data, unsigned length) {
  if (!(batch_length_ + length < kBatchSize && count_ < static_cast<int>(kMaxRecords))) {
    // Cannot happen while the send threshold holds; should it, the waiting records go first
    // and this one starts the next batch instead of being lost.
    int r = sendmsg();
    if (r < 0) return r;
  }
  std::memcpy(batch_ + batch_length_, data, length);
  vector_[count_].iov_base = batch_ + batch_length_;
  vector_[count_].iov_len = length;
  ++count_;
  batch_length_ += length;
  if (count_ == static_cast<int>(kMaxRecords) || batch_length_ >= kSendThreshold) return sendmsg();
  return 0;
}

int SysLogManager::send_batch() {
  // A datagram names the log socket, so it reaches whatever listens there now; a stream
  // socket refuses any address, its connection says where the bytes go.
  header_ = msghdr{};
  if (type_ == SOCK_DGRAM) {
    header_.msg_name = &address_;
    header_.msg_namelen = sizeof address_;
  }
  header_.msg_iov = vector_;
  header_.msg_iovlen = static_cast<std::size_t>(count_);
  ssize_t r;
  do r = ::sendmsg(socket_, &header_, MSG_NOSIGNAL);
  while (r < 0 && errno == EINTR);
  return static_cast<int>(r);
}

int SysLogManager::sendmsg() {
  if (count_ == 0) return 0;
  int r = 0;
  if (socket_ >= 0) {
    r = send_batch();
    if (r < 0 && connected_) {
      // The log daemon dropped the connection (it restarted): connect anew and send again,
      // so the batch is not lost.
      close_socket();
      openlog_internal(ident_.c_str(), options_ | LOG_NDELAY, 0);
      if (connected_) r = send_batch();
    }
  }
  batch_length_ = 0;
  count_ = 0;
  return r;
}

// ---- stream buffers ----

SysLogStreamBuf::SysLogStreamBuf(int facility, int level) : SysLogStreamBuf(facility, level, 1024) {}

SysLogStreamBuf::SysLogStreamBuf(int facility, int level, std::streamsize size) : priority_(facility | level) {
  setbuf(new char[size], size);
}

SysLogStreamBuf::~SysLogStreamBuf() { delete[] buffer_; }

std::basic_streambuf<char>* SysLogStreamBuf::setbuf(char* buffer, std::streamsize size) {
  if (size < 2) return this;
  sync();
  delete[] buffer_;
  buffer_ = buffer;
  setp(buffer, buffer + size - 1);
  return this;
}

SysLogStreamBuf::int_type SysLogStreamBuf::overflow(int_type c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  if (pptr() == epptr()) return traits_type::eof();
  return sputc(traits_type::to_char_type(c));
}

template <class Emit>
bool SysLogStreamBuf::cut_lines(Emit emit) {
  if (!buffer_) return false;
  char* p = pbase();
  char* end = pptr();
  *end = '\0';  // the byte kept free past the put area
  char* nl = static_cast<char*>(std::memchr(p, '\n', end - p));
  if (!nl) {
    if (end != epptr()) return false;  // wait for the line's end
    emit(p);
    setp(pbase(), epptr());
    return true;
  }
  while (p < end) {
    nl = static_cast<char*>(std::memchr(p, '\n', end - p));
    if (nl) *nl = '\0';
    emit(p);
    if (!nl) break;
    p = nl + 1;
  }
  setp(pbase(), epptr());
  return true;
}

int SysLogStreamBuf::sync() {
  cut_lines([this](const char* line) { ::syslog(priority_, "%s", line); });
  return 0;
}

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int level) : SysLogStreamBuf(facility, level, 16384) {}

int ManagedSysLogStreamBuf::sync() {
  if (cut_lines([this](const char* line) { syslogManager.syslog(priority_, "%s", line); })) syslogManager.sendmsg();
  return 0;
}
