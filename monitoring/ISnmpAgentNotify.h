#pragma once
// Callback of the SNMP agent link into the monitoring service: a connection to an agent came up.
#include <string>

class ISnmpAgentNotify {
 public:
  virtual ~ISnmpAgentNotify() = default;
  virtual void OnSnmpAgentConnect(std::string const&) {}
};
