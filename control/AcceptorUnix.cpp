#include "control/AcceptorUnix.h"

#include <sys/socket.h>
#include <unistd.h>

#include "control/UnixAddress.h"

namespace Control {

AcceptorUnix::AcceptorUnix() : AcceptorBase("AcceptorUnix::OnSocketEvent") {}

AcceptorUnix::AcceptorUnix(const std::string& path) : AcceptorUnix() { path_ = path; }

int AcceptorUnix::NewSocket() { return ::socket(AF_UNIX, SOCK_STREAM, 0); }

bool AcceptorUnix::BindAddress() {
  ::unlink(path_.c_str());
  return UnixAddress::bind(listen_socket_.get(), path_) == 0;
}

int AcceptorUnix::AcceptPeer(std::string& peer) {
  sockaddr_un sa;
  socklen_t len = UnixAddress::size;
  const int fd = ::accept4(listen_socket_.get(), reinterpret_cast<sockaddr*>(&sa), &len,
                           SOCK_CLOEXEC);
  if (fd >= 0) peer = UnixAddress::path_of(sa, len);
  return fd;
}

}  // namespace Control
