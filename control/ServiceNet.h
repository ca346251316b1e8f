#pragma once
// A control connection over TCP: sets the connection's socket options and names it by the
// peer's address.

#include "control/ControlService.h"
#include "foundation/INet4.h"

namespace Control {

class ServiceNet : public Service {
 public:
  ServiceNet();
  const INet4::Addr& peer() const { return peer_; }

 protected:
  // Takes a new TCP connection (keepalive on, Nagle off) unless the end of the previous one is
  // still pending.
  void Connected(const Fd& socket, const INet4::Addr& peer);

  INet4::Addr peer_;
};

}  // namespace Control
