#include "control/UnixAddress.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace Control {

static_assert(sizeof(sockaddr_un) >= UnixAddress::size);

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

}  // namespace Control
