#pragma once
// Unix-domain socket addresses of the Unix control connections: a path of at most 107
// characters in a 110-byte address.

#include <sys/socket.h>
#include <sys/un.h>

#include <string>

namespace Control {

struct UnixAddress {
  static constexpr std::size_t max_path = 107;
  static constexpr socklen_t size = 110;

  // False when the path does not fit.
  static bool make(const std::string& path, sockaddr_un& out);
  // The path held by an address that accept() filled (empty for an unnamed peer).
  static std::string path_of(const sockaddr_un& a, socklen_t len);

  // bind() and connect() to a path: 0, or -1 with errno set (ENAMETOOLONG when the path does
  // not fit, so that the caller reports it like any other failure).
  static int bind(int fd, const std::string& path);
  static int connect(int fd, const std::string& path);
};

}  // namespace Control
