#pragma once
// A Unix-domain control connection that connects to a socket path, optionally from a bound
// local path, and reconnects after each loss; the counterpart of ConnectorNet.

#include <string>

#include "control/ConnectorBase.h"
#include "control/ServiceUnix.h"

namespace Control {

class ConnectorUnix : public ConnectorBase<ConnectorUnix, ServiceUnix> {
 public:
  ConnectorUnix();
  explicit ConnectorUnix(const std::string& remote);
  ConnectorUnix(const std::string& remote, const std::string& local);

 protected:
  void TryConnect();
  void OnSocketEvent(int fd, short revents);

 private:
  friend class ConnectorBase<ConnectorUnix, ServiceUnix>;

  std::string remote_;
  std::string local_;
};

extern template class ConnectorBase<ConnectorUnix, ServiceUnix>;

}  // namespace Control
