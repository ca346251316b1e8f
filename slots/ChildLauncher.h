#pragma once
// How the modem slots start and signal their external programs (pppd, the fax programs).
// The default forks and execs the program from under the path root; unit tests put a
// recorder in its place so that no process is started.
#include <string>
#include <vector>

class ChildLauncher {
 public:
  // What the child does before execv.
  struct Prelude {
    bool sleeps = false;           // sleep(pause) first
    unsigned pause = 0;            // seconds
    const char* banner = nullptr;  // a line for the standard output
    bool reportFailure = false;    // "fail to exec!" on the standard output when execv fails
  };

  virtual ~ChildLauncher() = default;
  // Starts argv[0] (an absolute path of the system, taken under the path root) with argv;
  // the child's pid, or -1 with errno set. A child whose execv fails ends with _exit(2).
  virtual int Start(const std::vector<std::string>& argv, const Prelude& prelude);
  virtual int Kill(int pid, int signal);

  // The launcher in use (never null).
  static ChildLauncher* current;
};
