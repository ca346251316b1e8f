#pragma once
// Bus clock control. This is its start-up shell: bound in its place in the service order, it takes no
// command yet, so its commands fall through to the server's "unexpectedMsgType".
#include "control/CtrlSrvService.h"

class BusCtl : public CtrlSrv::Service {
 public:
  static BusCtl* instance();

  // Leaves the bus clock to the board from now on (--disable-clock).
  void DisableControl() { control_ = false; }
  bool control_enabled() const { return control_; }

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }

 private:
  BusCtl() = default;
  bool control_ = true;
};
