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
  // failure logs (kind names the socket in the lines: "socket", "domain socket") and
  // deactivates, with no retry.
  bool OpenSocket(int domain, int protocol, const char* kind);
  // Drops the failed attempt and times the next: fast while the countdown lasts, after
  // long_interval_ms from then on.
  void Retry(unsigned long_interval_ms);

  Fd connect_socket_;
  Timer retry_timer_;
  Event connect_event_;
  int countdown_ = 0;

 private:
  Derived& self() { return static_cast<Derived&>(*this); }
};

}  // namespace Control
