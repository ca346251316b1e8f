#pragma once
// A driver device watched by the event loop that delivers fixed-size event records: reads them
// without holding the loop, gives the device up when it stops delivering, so that the owner's
// next request reopens it, and numbers the requests whose ids the records carry back.
#include <cstddef>
#include <cstdint>

#include "foundation/Event.h"

namespace Hardware {

class DeviceEventReader : public Event {
 public:
  // The largest record a device may have.
  static constexpr size_t kMaxRecordSize = 64;

  // Opens the device and watches it; nothing when it is open already.
  void init();
  bool is_open() const { return fd() >= 0; }

  // Reads and delivers every record the device holds.
  void OnEvent(int fd, short revents);
  // Delivers the records in what one read returned (whole records; a trailing piece is dropped).
  void OnRecords(const uint8_t* data, size_t size);

  // The counter of the ids that requests give the device and its records carry back (the last
  // id handed out); settable for tests of its wrap.
  uint32_t request_counter() const { return m_counter; }
  void set_request_counter(uint32_t value) { m_counter = value; }

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
  ~DeviceEventReader() override = default;

  // The next request id: the counter plus one, never 0.
  uint32_t next_id();
  // init() when closed; false, with "<what> fail: (interface not opened)", when still closed.
  bool opened(const char* what, unsigned timeslot);

  // One whole record, as the device laid it out.
  virtual void OnRecord(const uint8_t* record) = 0;

 private:
  // The device stopped delivering (end of file, error or hang-up): closed, to be reopened at
  // the next request.
  void lost(const char* why);

  Device m_device;
  uint32_t m_counter = 0;
};

}  // namespace Hardware
