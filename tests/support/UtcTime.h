#pragma once
// Local time set to UTC for the life of the object, so that lines and file names stamped with
// local time are the same on every machine; and UTC calendar times as the loop clock counts them.
#include <stdlib.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace vxtest {

class UtcTimeZone {
 public:
  UtcTimeZone() {
    if (const char* tz = getenv("TZ")) old_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ~UtcTimeZone() {
    old_ ? setenv("TZ", old_->c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  UtcTimeZone(const UtcTimeZone&) = delete;
  UtcTimeZone& operator=(const UtcTimeZone&) = delete;

 private:
  std::optional<std::string> old_;
};

// Microseconds since the epoch of a UTC calendar time (month and day from 1).
inline uint64_t utc_usec(int year, int mon, int day, int h, int m, int s, int usec = 0) {
  struct tm t {};
  t.tm_year = year - 1900, t.tm_mon = mon - 1, t.tm_mday = day, t.tm_hour = h, t.tm_min = m, t.tm_sec = s;
  return static_cast<uint64_t>(timegm(&t)) * 1000000u + static_cast<uint64_t>(usec);
}

}  // namespace vxtest
