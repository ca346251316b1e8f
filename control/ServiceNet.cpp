#include "control/ServiceNet.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <iostream>

namespace Control {

ServiceNet::ServiceNet() { peer_.Reset(); }

bool ServiceNet::Connected(const Fd& socket, const INet4::Addr& peer) {
  if (state_ == State::Deactivating) return false;
  const int one = 1;
  if (setsockopt(socket.get(), SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) != 0 && verbose_)
    std::cerr << "fail set keepalive to control socket." << std::endl;
  if (setsockopt(socket.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 && verbose_)
    std::cerr << "fail to turn off Nagle algorithm." << std::endl;
  peer_ = peer;
  return SetupConnection(socket, NameOf(peer_));
}

}  // namespace Control
