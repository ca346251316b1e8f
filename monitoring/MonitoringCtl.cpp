#include "monitoring/MonitoringCtl.h"

#include "foundation/IniFile.h"

MonitoringCtl* MonitoringCtl::instance() {
  static MonitoringCtl monitoring;
  return &monitoring;
}

void MonitoringCtl::Configure(IniFile::File& file) { agents_ = file["snmpagent"]->SubSectionCount(); }
