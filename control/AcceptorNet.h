#pragma once
// A TCP control connection that listens on a port and serves one peer at a time; further
// peers are accepted and closed at once while one is connected.

#include <cstdint>

#include "control/ServiceNet.h"
#include "foundation/Event.h"
#include "foundation/TimerEvent.h"

namespace Control {

class AcceptorNet : public ServiceNet {
 public:
  static constexpr unsigned bind_retry_ms = 5000;

  AcceptorNet();
  explicit AcceptorNet(int port);
  AcceptorNet(int port, bool verbose);
  ~AcceptorNet() override;

  uint16_t port() const { return port_; }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override {}
  virtual void ImplRefuseConnection() {}
  virtual void ImplConnected(Fd) {}

  // Binds and listens; false when listening failed for good (the service is then Idle).
  bool BindSocket();
  void OnTimeout(Timer*);
  void OnSocketEvent(int fd, short revents);

  uint16_t port_ = 0;
  Fd listen_socket_;
  Timer bind_timer_;
  Event listen_event_;
};

}  // namespace Control
