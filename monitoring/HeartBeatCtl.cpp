#include "monitoring/HeartBeatCtl.h"

#include <iostream>

#include "control/CtrlSrvServer.h"
#include "foundation/Mux.h"

HeartBeatCtl* HeartBeatCtl::instance() {
  static HeartBeatCtl heartbeat;
  return &heartbeat;
}

// Not armed by the connection: a controller that only listens (trunk status, power and the
// other signals) stays. A dead one is found by the acceptor's probe when the next knocks.
void HeartBeatCtl::OnConnect() {}

void HeartBeatCtl::OnDisconnect() { watchdog_.reset(); }

bool HeartBeatCtl::OnCommand(LGCP::Command const& command) {
  ResetTimeOut();
  if (command.getID() != LGCP::Command::e_ping) return false;
  Success();
  return true;
}

// Every command restarts the period. The timer is armed once and not moved per command (that
// would cost a timer event and a timer-list update per command): it runs out at the first
// deadline and is re-armed then for what is left after the latest command.
void HeartBeatCtl::ResetTimeOut() {
  last_command_ms_ = Mux::milliseconds();
  if (!watchdog_.is_set()) watchdog_.set(timeout_ms_, &HeartBeatCtl::OnHeartbeatTimeout, this);
}

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
  const uint32_t quiet = Mux::milliseconds() - last_command_ms_;
  if (quiet < timeout_ms_) {
    watchdog_.set(timeout_ms_ - quiet, &HeartBeatCtl::OnHeartbeatTimeout, this);
    return;
  }
  std::clog << "heartbeat timeout!!!" << std::endl;
  ctrlServer.OnHeartbeatTimeout();
}

void HeartBeatCtl::PutHeader(std::ostream& os) const { os << "heartbeat: "; }
