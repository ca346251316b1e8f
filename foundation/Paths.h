#pragma once
// The one place where the system's fixed absolute paths are mapped under a private root.
// VOXRELAY_ROOT (empty or unset: the real paths) is prefixed to every path the daemon opens,
// so tests and the simulated board never touch the machine's own /dev, /var or /usr/local.
#include <string>

namespace Paths {

// The current root prefix, without a trailing slash ("" when unset).
std::string root();

// The path under the root: rooted("/var/run/server.pid") -> "$VOXRELAY_ROOT/var/run/server.pid".
std::string rooted(const std::string& absolute);

}  // namespace Paths
