#pragma once
// A control connection over TCP: sets the connection's socket options and names it by the
// peer's address.

#include <string>

#include "control/ControlService.h"
#include "foundation/INet4.h"

namespace Control {

class ServiceNet : public Service {
 public:
  using Peer = INet4::Addr;

  ServiceNet();
  const INet4::Addr& peer() const { return peer_; }

  // "a.b.c.d:port": the connection's name and how the logs show the peer.
  static std::string NameOf(const INet4::Addr& peer) { return peer.GetString(); }

 protected:
  // Takes a new TCP connection (keepalive on, Nagle off) unless the end of the previous one is
  // still pending. False when the connection was not taken (see SetupConnection).
  bool Connected(const Fd& socket, const INet4::Addr& peer);

  INet4::Addr peer_;
};

}  // namespace Control
