#pragma once
// Process helpers: the pid file, look-up of another process by name, terminal set-up of
// standard input and a local-time stamp.
#include <cstddef>
#include <iosfwd>
#include <string>

namespace Linux {

// Writes this process's id to "/var/run/<name>.pid" (under the path root) and removes the
// file again when destroyed.
class Run {
 public:
  explicit Run(const char* name);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// True when the text of a "/proc/<pid>/stat" file names the command `name`: the text
// between the first "(" and the last ")". A short, empty or malformed text never matches.
bool stat_command_is(const char* stat, std::size_t len, const char* name);

}  // namespace Linux

// The id of a running process whose command name is `name`, or -1; `pid`, when above 0,
// is tried first.
int find_proc_by_name(const char* name, int pid);

namespace Console {
// Standard input without line editing and echo (signals still work).
void SwitchToBinaryMode();
// Standard input without blocking reads.
void SwitchToNonBlockMode();
}  // namespace Console

// Writes the local time as "%d/%m %H:%M:%S".
void timestamp(std::ostream& os);
