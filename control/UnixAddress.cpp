#include "control/UnixAddress.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace Control {

static_assert(sizeof(sockaddr_un) >= UnixAddress::size);

namespace {

// Runs bind() or connect() with the address of path.
int with_path(int fd, const std::string& path, int (*call)(int, const sockaddr*, socklen_t)) {
  sockaddr_un sa;
  if (!UnixAddress::make(path, sa)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return call(fd, reinterpret_cast<const sockaddr*>(&sa), UnixAddress::size);
}

}  // namespace

bool UnixAddress::make(const std::string& path, sockaddr_un& out) {
  std::memset(&out, 0, sizeof out);
  out.sun_family = AF_UNIX;
  if (path.size() > max_path) return false;
  std::memcpy(out.sun_path, path.data(), path.size());
  return true;
}

std::string UnixAddress::path_of(const sockaddr_un& a, socklen_t len) {
  const socklen_t head = offsetof(sockaddr_un, sun_path);
  if (len <= head) return std::string();
  const std::size_t room = std::min<std::size_t>(len - head, sizeof a.sun_path);
  return std::string(a.sun_path, strnlen(a.sun_path, room));
}

int UnixAddress::bind(int fd, const std::string& path) { return with_path(fd, path, ::bind); }

int UnixAddress::connect(int fd, const std::string& path) {
  return with_path(fd, path, ::connect);
}

}  // namespace Control
