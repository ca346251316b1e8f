#include "monitoring/HeartBeatCtl.h"

#include <iostream>

#include "control/CtrlSrvServer.h"

HeartBeatCtl* HeartBeatCtl::instance() {
  static HeartBeatCtl heartbeat;
  return &heartbeat;
}

// Armed at once: a peer that connects and never sends a command would otherwise hold the
// single controller place for ever.
void HeartBeatCtl::OnConnect() { ResetTimeOut(); }

void HeartBeatCtl::OnDisconnect() { watchdog_.reset(); }

bool HeartBeatCtl::OnCommand(LGCP::Command const& command) {
  ResetTimeOut();
  if (command.getID() != LGCP::Command::e_ping) return false;
  Success();
  return true;
}

void HeartBeatCtl::ResetTimeOut() { watchdog_.set(timeout_ms_, &HeartBeatCtl::OnHeartbeatTimeout, this); }

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
  std::clog << "heartbeat timeout!!!" << std::endl;
  ctrlServer.OnHeartbeatTimeout();
}

void HeartBeatCtl::PutHeader(std::ostream& os) const { os << "heartbeat: "; }
