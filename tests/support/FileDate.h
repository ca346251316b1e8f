#pragma once
// Files dated past 2038 (the end of a 32-bit time_t), as a board whose clock was set late or a
// copy from another machine leaves them. A build whose time_t is 32 bits cannot even name such
// a date through the C library, so there the kernel's 64-bit call is made directly: the tests
// that use this then show what that build does with the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <string>

namespace vxtest {

// 2040-01-01 00:00:00 UTC, in seconds since the epoch.
inline constexpr int64_t k2040 = 2208988800;

// Sets the access and modification times of `path` (a final link itself, not followed);
// 0 or errno.
inline int date_file(const std::string& path, int64_t seconds) {
#if defined(SYS_utimensat_time64)
  if (sizeof(time_t) < sizeof(int64_t)) {
    const int64_t times[4] = {seconds, 0, seconds, 0};  // two kernel timespecs: seconds, nanoseconds
    return ::syscall(SYS_utimensat_time64, AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
  }
#endif
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

}  // namespace vxtest
