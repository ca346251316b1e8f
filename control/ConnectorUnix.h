#pragma once
// A Unix-domain control connection that connects to a socket path, optionally from a bound
// local path, and reconnects after each loss; the counterpart of ConnectorNet.

#include <string>

#include "control/ServiceUnix.h"
#include "foundation/Event.h"
#include "foundation/TimerEvent.h"

namespace Control {

class ConnectorUnix : public ServiceUnix {
 public:
  static constexpr int fast_retries = 7;
  static constexpr unsigned fast_retry_ms = 1000;
  static constexpr unsigned retry_after_refusal_ms = 20000;
  static constexpr unsigned retry_after_hangup_ms = 15000;
  static constexpr unsigned reconnect_ms = 10000;

  ConnectorUnix();
  explicit ConnectorUnix(const std::string& remote);
  ConnectorUnix(const std::string& remote, const std::string& local);
  ~ConnectorUnix() override;

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

  void TryConnect();
  void OnSocketEvent(int fd, short revents);
  void OnTimeout(Timer*);

 private:
  void Retry(unsigned long_interval_ms);

  std::string remote_;
  std::string local_;
  Fd connect_socket_;
  Timer retry_timer_;
  Event connect_event_;
  int countdown_ = 0;
};

}  // namespace Control
