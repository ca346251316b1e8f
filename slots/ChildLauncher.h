#pragma once
// How the daemon starts and signals every external program (pppd, the fax programs, the T.38
// engine and its instance query). The default forks and execs the program from under the path
// root; unit tests put a recorder in its place so that no process is started.
#include <string>
#include <sys/types.h>
#include <vector>

class ChildLauncher {
 public:
  // What the child does before execv.
  struct Prelude {
    bool sleeps = false;           // sleep(pause) first
    unsigned pause = 0;            // seconds
    const char* banner = nullptr;  // a line for the standard output
    bool reportFailure = false;    // "fail to exec!" on the standard output when execv fails
    int input = -1;                // the child's standard input when > 0; 0 keeps the daemon's
                                   // own open across execv
    int output = -1;               // the child's standard output when >= 0
    int failure = 2;               // the exit status of a child whose execv fails
  };

  virtual ~ChildLauncher() = default;
  // Starts argv[0] (an absolute path of the system, taken under the path root) with argv;
  // the child's pid, or -1 with errno set. A child whose execv fails ends with _exit(failure).
  virtual int Start(const std::vector<std::string>& argv, const Prelude& prelude);
  virtual int Kill(int pid, int signal);

  // At the daemon's exit, after every slot is gone: kills and reaps each child started here
  // that still runs, so that none outlives the daemon. One that ended, or that the loop reaped
  // already, is left alone (its number may be another process's by now).
  static void EndAll();

  // The launcher in use (never null).
  static ChildLauncher* current;
};
