#pragma once
// The bus self-test service. This is its start-up shell: bound in its place in the service order, it takes no
// command yet, so its commands fall through to the server's "unexpectedMsgType".
#include "control/CtrlSrvService.h"

class HwTests : public CtrlSrv::Service {
 public:
  static HwTests* instance();

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }

 private:
  HwTests() = default;
};
