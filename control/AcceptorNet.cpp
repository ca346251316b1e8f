#include "control/AcceptorNet.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace Control {

AcceptorNet::AcceptorNet() : AcceptorNet(0, true) {}

AcceptorNet::AcceptorNet(int port) : AcceptorNet(port, true) {}

AcceptorNet::AcceptorNet(int port, bool verbose)
    : AcceptorBase("AcceptorNet::OnSocketEvent"), port_(static_cast<uint16_t>(port)) {
  verbose_ = verbose;
}

int AcceptorNet::NewSocket() { return ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP); }

void AcceptorNet::SetSocketOptions() {
  const int one = 1;
  setsockopt(listen_socket_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
}

bool AcceptorNet::BindAddress() {
  struct sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  sa.sin_port = htons(port_);
  return ::bind(listen_socket_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

int AcceptorNet::AcceptPeer(INet4::Addr& peer) {
  socklen_t len = INet4::Addr::sa_len();
  return ::accept4(listen_socket_.get(), peer.sa(), &len, SOCK_CLOEXEC);
}

}  // namespace Control
