#pragma once
// A Unix-domain control connection that listens on a socket path and serves one peer at a
// time; the counterpart of AcceptorNet.

#include <string>

#include "control/ServiceUnix.h"
#include "foundation/Event.h"
#include "foundation/TimerEvent.h"

namespace Control {

class AcceptorUnix : public ServiceUnix {
 public:
  static constexpr unsigned bind_retry_ms = 5000;

  AcceptorUnix();
  explicit AcceptorUnix(const std::string& path);
  ~AcceptorUnix() override;

  const std::string& path() const { return path_; }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override {}
  virtual void ImplRefuseConnection() {}
  virtual void ImplConnected(Fd) {}

  bool BindSocket();
  void OnTimeout(Timer*);
  void OnSocketEvent(int fd, short revents);

  std::string path_;
  Fd listen_socket_;
  Timer bind_timer_;
  Event listen_event_;
};

}  // namespace Control
