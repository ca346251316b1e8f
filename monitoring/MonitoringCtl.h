#pragma once
// The monitoring service, bound last. This is its start-up shell: it takes the SNMP agent
// configuration and answers no command, so board-wide commands fall through to the server.
#include "control/CtrlSrvService.h"

namespace IniFile {
class File;
}

class MonitoringCtl : public CtrlSrv::Service {
 public:
  static MonitoringCtl* instance();

  // Reads the section "snmpagent" (one agent link per subsection).
  void Configure(IniFile::File& file);
  int agent_count() const { return agents_; }

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }

 private:
  MonitoringCtl() = default;
  int agents_ = 0;
};
