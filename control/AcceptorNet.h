#pragma once
// A TCP control connection that listens on a port and serves one peer at a time; further
// peers are accepted and closed at once while one is connected.

#include <cstdint>

#include "control/AcceptorBase.h"
#include "control/ServiceNet.h"

namespace Control {

class AcceptorNet : public AcceptorBase<AcceptorNet, ServiceNet> {
 public:
  AcceptorNet();
  explicit AcceptorNet(int port);
  AcceptorNet(int port, bool verbose);

  uint16_t port() const { return port_; }

 protected:
  uint16_t port_ = 0;

 private:
  friend class AcceptorBase<AcceptorNet, ServiceNet>;
  int NewSocket();
  void SetSocketOptions();
  // Any local address, the port given at construction.
  bool BindAddress();
  int AcceptPeer(INet4::Addr& peer);
};

extern template class AcceptorBase<AcceptorNet, ServiceNet>;

}  // namespace Control
