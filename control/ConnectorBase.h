#pragma once
// What the TCP and Unix-domain connectors share: the connecting socket and event, the retry
// timer with its fast-retry countdown, and reconnection after each loss.
//
// Derived supplies TryConnect(), one connection attempt (reached as a friend, so that the
// connectors' virtual hooks stay the ones of a control connection); it starts with
// OpenSocket() and ends a failed attempt with Retry().

#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/TimerEvent.h"

namespace Control {

template <class Derived, class ServiceBase>
class ConnectorBase : public ServiceBase {
 public:
  static constexpr int fast_retries = 7;
  static constexpr unsigned fast_retry_ms = 1000;
  static constexpr unsigned retry_after_refusal_ms = 20000;  // connect failed at once
  static constexpr unsigned retry_after_hangup_ms = 15000;   // POLLERR/POLLHUP while connecting
  static constexpr unsigned reconnect_ms = 10000;            // after a connection was lost

  ~ConnectorBase() override;

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

  void OnTimeout(Timer*);
  // Stops watching the previous attempt and opens a non-blocking socket for the next; on
  // failure (a shortage of descriptors, say) logs (kind names the socket in the lines:
  // "socket", "domain socket") and retries as after a refused connect.
  bool OpenSocket(int domain, int protocol, const char* kind);
  // Watches the connecting socket for events; a watch that cannot be made (no descriptor for
  // its duplicate) is logged and the attempt retried, or the connection would never be seen.
  bool WatchSocket(short events);
  // Drops the failed attempt and times the next: fast while the countdown lasts, after
  // long_interval_ms from then on.
  void Retry(unsigned long_interval_ms);
  // Whether a failure to make or watch the socket is to be logged: once per kind of failure
  // until an attempt gets further, not at every retry.
  bool FirstFailure(int code);

  Fd connect_socket_;
  Timer retry_timer_;
  Event connect_event_;
  int countdown_ = 0;
  int logged_failure_ = 0;  // the failure logged last (kind and errno); 0: none

 private:
  Derived& self() { return static_cast<Derived&>(*this); }
};

}  // namespace Control
