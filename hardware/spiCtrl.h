#pragma once
// SPI status of the line interfaces. This is its start-up shell: bound in its place in the service order, it takes no
// command yet, so its commands fall through to the server's "unexpectedMsgType".
#include "control/CtrlSrvService.h"

class spiCtrl : public CtrlSrv::Service {
 public:
  static spiCtrl* instance();

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }

 private:
  spiCtrl() = default;
};
