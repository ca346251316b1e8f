#pragma once
// A driver device watched by the event loop that delivers fixed-size event records: reads them
// without holding the loop, gives the device up when it stops delivering and opens it again at
// the owner's next request or on a slow retry timer (putting back what its clients hold on),
// retries on a backing-off timer the work the device refused while it stays present, and
// numbers the requests whose ids the records carry back.
#include <cstddef>
#include <cstdint>

#include "foundation/Event.h"
#include "foundation/TimerEvent.h"

namespace Hardware {

class DeviceEventReader : public Event {
 public:
  // The largest record a device may have.
  static constexpr size_t kMaxRecordSize = 64;

  // How long a device that went away is left before it is tried again, unless a request
  // tries it first.
  static constexpr unsigned kRetryMs = 1000;
  // Work the present device refused is tried again after this, then at twice the last
  // interval, up to kRetryMs: soon when the device was only busy, without flooding it.
  static constexpr unsigned kSettleMs = 10;

  // Opens the device and watches it; nothing when it is open already. Opened again after a
  // loss, the owner puts back what its clients hold on (OnReopened).
  void init();
  bool is_open() const { return m_fd >= 0; }

  // Reads and delivers every record the device holds.
  void OnEvent(int fd, short revents);
  // Delivers the records in what one read returned (whole records; a trailing piece is dropped).
  void OnRecords(const uint8_t* data, size_t size);

  // The counter of the ids that requests give the device and its records carry back (the last
  // id handed out); settable for tests of its wrap.
  uint32_t request_counter() const { return m_counter; }
  void set_request_counter(uint32_t value) { m_counter = value; }

  // What of a timeslot's pass was logged as left undone (note_pass).
  struct Notes {
    bool clean_up = false;  // a clean-up still owed
    bool put_back = false;  // settings of live clients not taken back
  };

 protected:
  struct Device {
    const char* (*path)();   // asked at each open
    size_t record_size;      // at most kMaxRecordSize
    const char* tag;         // the device in the read-failure and short-record lines
    const char* open_fail;   // the start of the line logged when it does not open
    const char* watch_name;  // the name of the watch in the loop's status
  };

  // Opens the device at once.
  explicit DeviceEventReader(const Device& device);
  ~DeviceEventReader() override;

  // The next request id: the counter plus one, never 0.
  uint32_t next_id();
  // init() when closed; false, with "<what> fail: (interface not opened)", when still closed.
  bool opened(const char* what, unsigned timeslot);

  // A request on the device (pointer or by-value form), opened first when it is closed. A
  // descriptor the driver has given up (ENODEV, EBADF) is dropped and the request is tried once
  // more on a new one. Fails (-1, errno of the open) while the device cannot be opened.
  int request(uint32_t number, void* arg);
  int request_value(uint32_t number, unsigned long value);

  // The device is open again after a loss: the owner puts back, with request(), the features
  // that its live clients hold on (a loss here is not retried).
  virtual void OnReopened() {}

  // One whole record, as the device laid it out.
  virtual void OnRecord(const uint8_t* record) = 0;

  // The owner holds work the device has not taken yet: settle() is called on the backing-off
  // timer until it answers that nothing is left (the interval starts again at kSettleMs).
  void settle_later();
  // Carries out the owed work, quietly; true when nothing is left.
  virtual bool settle() { return true; }
  // What a timeslot's pass left undone, logged once per change: the clean-up of settings no live
  // client wants (owed) and its completion; the settings of live clients the device has not taken
  // back (left) and their return, while live clients remain (live) to have them.
  void note_pass(unsigned timeslot, bool owed, bool left, bool live, Notes& notes) const;

 private:
  // The device stopped delivering (end of file, error or hang-up): closed, to be reopened at
  // the next request or by the retry timer.
  void lost();
  void OnRetry();
  void OnSettle();
  // Opens the device; false (errno kept in m_openError) when it does not open.
  bool reopen(bool quiet);
  template <typename Issue>
  int issue(Issue call);

  Device m_device;
  // The descriptor the requests go to, as the open returned it (the watch has a duplicate of
  // its own): the board finds a driver by the descriptor it handed out.
  int m_fd = -1;
  uint32_t m_counter = 0;
  Timer m_retry;
  Timer m_settle;
  unsigned m_settleMs = kSettleMs;  // the wait before the next settle()
  bool m_inSettle = false;          // settle() runs from the timer, which it re-arms itself
  int m_openError = 0;
  bool m_lost = false;       // given up after it was open: reopening puts the features back
  bool m_restoring = false;  // OnReopened runs
  bool m_retryLogged = false;
};

}  // namespace Hardware
