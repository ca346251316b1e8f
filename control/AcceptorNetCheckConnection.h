#pragma once
// The control port's acceptor: one controller at a time, and while refused peers knock, the
// current controller's connection is probed (TCP state, fast keepalive) so that a dead one is
// dropped and the newcomer can get in on its next attempt.

#include "control/AcceptorNet.h"

namespace Control {

class AcceptorNetCheckConnection : public AcceptorNet {
 public:
  enum CheckState { CheckIdle = 0, CheckRunning = 1 };
  static constexpr unsigned check_interval_ms = 1000;

  AcceptorNetCheckConnection();
  explicit AcceptorNetCheckConnection(int port);
  AcceptorNetCheckConnection(int port, bool verbose);
  ~AcceptorNetCheckConnection() override;

  CheckState check_state() const { return check_state_; }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplRefuseConnection() override;
  bool ImplAccepting(const Fd& socket, const std::string& peer) override;
  void ImplConnected() override;
  void ImplNotConnected() override;

  void CheckConnection();
  void SetupKeepAlive(bool fast);
  void OnCheckConnectionTimeout(Timer*);

  Timer check_timer_;
  // A copy of the controller's socket, for the checks; made before the controller is taken,
  // so that one that cannot be checked is refused rather than cut later.
  Fd probe_socket_;
  CheckState check_state_ = CheckIdle;
  int countdown_ = 0;
};

}  // namespace Control
