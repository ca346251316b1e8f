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

// `path` made absolute against the directory `cwd` (itself absolute), without "." parts,
// doubled or trailing slashes. ".." parts are kept: only the kernel knows where they lead
// past a symbolic link.
std::string absolute(const std::string& path, const std::string& cwd);

// Fixes the root for the whole run, before anything is opened under it: a relative root is
// made absolute against the working directory (which daemon mode leaves for "/") and put
// back into the environment, so that every later path and every child program see the same
// root. False, with the reason in `error`, when the root names no directory that can be
// searched; an unset or empty root (the real paths) always does.
bool settle_root(std::string& error);

}  // namespace Paths
