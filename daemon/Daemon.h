#pragma once
// Daemon mode: detaches the process and sends std::cout, std::cerr and std::clog (and raw
// writes to descriptors 1 and 2) to syslog, or in mode 1 to hourly log files.
#include <string>

namespace Daemon {

struct Params {
  enum Mode { Syslog = 0, LogFile = 1 };
  int mode = Syslog;
  bool keepDir = false;  // false: the working directory becomes "/"
  std::string name = "unknown";  // syslog identity, or the log directory in mode 1
};

// Detaches and redirects on the first call; later calls do nothing.
void Init(Params const& params);

// The identity of this build's syslog records: "vxr-" and the version tag, at most 79 bytes.
std::string Identity(const std::string& name);

}  // namespace Daemon

// Start-up's daemon mode: syslog under the identity "vxr-" followed by the version tag.
void RunDaemon();
