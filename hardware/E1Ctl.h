#pragma once
// E1 trunk, clock and CAS control. This is its start-up shell: bound in its place in the service order, it takes no
// command yet, so its commands fall through to the server's "unexpectedMsgType".
#include "control/CtrlSrvService.h"

class E1Ctl : public CtrlSrv::Service {
 public:
  static E1Ctl* instance();

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }

 private:
  E1Ctl() = default;
};
