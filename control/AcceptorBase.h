#pragma once
// What the TCP and Unix-domain acceptors share: a listening socket whose bind is retried until
// it succeeds, and the acceptance of one peer at a time with the others refused.
//
// Derived supplies its address family (reached as a friend, so that the acceptors' virtual
// hooks stay the ones of a control connection): NewSocket() creates the socket,
// SetSocketOptions() prepares it before the first bind, BindAddress() binds it (false with
// errno set) and AcceptPeer(peer) accepts one peer and fills its address.

#include <string>

#include "foundation/AcceptPause.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/TimerEvent.h"

namespace Control {

template <class Derived, class ServiceBase>
class AcceptorBase : public ServiceBase {
 public:
  static constexpr unsigned bind_retry_ms = 5000;
  // How long accepting pauses when the process is out of descriptors or memory: the pending
  // peer keeps the listening socket readable, so polling on would spin the loop.
  static constexpr unsigned accept_pause_ms = AcceptPause::pause_ms;

  ~AcceptorBase() override;

  void HoldPeers(bool hold) override { accept_pause_.Hold(hold); }

 protected:
  // event_name: the name the listening event shows in the loop's status table.
  explicit AcceptorBase(const char* event_name);

  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override {}
  virtual void ImplRefuseConnection() {}
  // A peer is about to be taken on socket: false (with a line saying why) refuses it, before
  // anything of the connection is set up. ImplConnected follows once it is taken,
  // ImplNotConnected when it could not be.
  virtual bool ImplAccepting(const Fd&, const std::string& /*peer*/) { return true; }
  virtual void ImplConnected() {}
  virtual void ImplNotConnected() {}

  // Binds and listens; false when listening failed for good (the service is then Idle).
  bool BindSocket();
  void OnTimeout(Timer*);
  void OnSocketEvent(int fd, short revents);

  Fd listen_socket_;
  Timer bind_timer_;
  AcceptPause accept_pause_;
  Event listen_event_;

 private:
  Derived& self() { return static_cast<Derived&>(*this); }
};

}  // namespace Control
