#pragma once
// A TCP control connection that connects out without blocking, retries until connected and
// reconnects by itself after each loss.

#include <cstdint>
#include <string>

#include "control/ConnectorBase.h"
#include "control/ServiceNet.h"

namespace Control {

class ConnectorNet : public ConnectorBase<ConnectorNet, ServiceNet> {
 public:
  static constexpr unsigned retry_after_error_ms = 12000;  // SO_ERROR reported a failure

  ConnectorNet();
  // "a.b.c.d" or "a.b.c.d:port".
  explicit ConnectorNet(const std::string& address);
  ConnectorNet(const std::string& host, unsigned short port);

  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }

 protected:
  void TryConnect();
  void OnSocketEvent(int fd, short revents);

 private:
  friend class ConnectorBase<ConnectorNet, ServiceNet>;
  INet4::Addr Address() const;

  uint16_t port_ = 0;
  std::string host_;
};

extern template class ConnectorBase<ConnectorNet, ServiceNet>;

}  // namespace Control
