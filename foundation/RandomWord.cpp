#include "foundation/RandomWord.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace Random {

namespace {

bool from_kernel(uint32_t& out) {
  ssize_t n;
  // Never waits: a daemon started before the pool is ready must not stall its first call.
  do n = ::getrandom(&out, sizeof out, GRND_NONBLOCK);
  while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof out)) return true;
  // The kernel's own device, not a board driver: the real path, whatever the path root.
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  do n = ::read(fd, &out, sizeof out);
  while (n < 0 && errno == EINTR);
  ::close(fd);
  return n == static_cast<ssize_t>(sizeof out);
}

// A 64-bit finaliser that spreads every input bit over the result.
uint64_t mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

uint32_t word() {
  uint32_t out = 0;
  if (from_kernel(out)) return out;
  static uint64_t count = 0;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t clock = static_cast<uint64_t>(now.tv_sec) * 1000000000ULL + static_cast<uint64_t>(now.tv_nsec);
  const uint64_t z = mix(clock ^ (static_cast<uint64_t>(::getpid()) << 40) ^ mix(++count));
  return static_cast<uint32_t>(z >> 32);
}

}  // namespace Random
