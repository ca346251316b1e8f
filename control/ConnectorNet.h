#pragma once
// A TCP control connection that connects out without blocking, retries until connected and
// reconnects by itself after each loss.

#include <cstdint>
#include <string>

#include "control/ServiceNet.h"
#include "foundation/Event.h"
#include "foundation/TimerEvent.h"

namespace Control {

class ConnectorNet : public ServiceNet {
 public:
  static constexpr int fast_retries = 7;
  static constexpr unsigned fast_retry_ms = 1000;
  static constexpr unsigned retry_after_refusal_ms = 20000;  // connect failed at once
  static constexpr unsigned retry_after_hangup_ms = 15000;   // POLLERR/POLLHUP while connecting
  static constexpr unsigned retry_after_error_ms = 12000;    // SO_ERROR reported a failure
  static constexpr unsigned reconnect_ms = 10000;            // after a connection was lost

  ConnectorNet();
  // "a.b.c.d" or "a.b.c.d:port".
  explicit ConnectorNet(const std::string& address);
  ConnectorNet(const std::string& host, unsigned short port);
  ~ConnectorNet() override;

  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

  void TryConnect();
  void OnSocketEvent(int fd, short revents);
  void OnTimeout(Timer*);

 private:
  INet4::Addr Address() const;
  void Retry(unsigned long_interval_ms);

  uint16_t port_ = 0;
  std::string host_;
  Fd connect_socket_;
  Timer retry_timer_;
  Event connect_event_;
  int countdown_ = 0;
};

}  // namespace Control
