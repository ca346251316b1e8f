#pragma once
// Process helpers: the pid file, look-up of another process by name, terminal set-up of
// standard input and a local-time stamp.
#include <cstddef>
#include <iosfwd>
#include <string>

namespace Linux {

// The pid file "/var/run/<name>.pid" (under the path root): holds this process's id while the
// object lives and is removed when it is destroyed. The file is locked for as long as it is
// held, so that a second process given the same root sees that a live one holds it and leaves
// the file as it is; a file that no live process holds (left by one that died) is taken over.
// The lock belongs to the open file, not to the process: it stays with daemon mode's child.
// The file's folder is made when it is missing.
class Run {
 public:
  enum class Write { now, later };

  // Claims the file; with Write::now also writes the id (otherwise write() does, later).
  explicit Run(const char* name, Write when = Write::now);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // Replaces the file's contents with this process's id; nothing unless held().
  void write();

  const std::string& path() const { return path_; }
  // Whether this object holds the file (it could be opened and no one else holds it).
  bool held() const { return fd_ >= 0; }
  // Another live process holds the file: its id as the file gives it (0 when unreadable).
  bool taken() const { return holder_ >= 0; }
  int holder() const { return holder_; }
  // Why the file could not be held, or (while held) locked: an errno value, 0 when neither.
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int holder_ = -1;
  int error_ = 0;
  std::string path_;
};

// True when the text of a "/proc/<pid>/stat" file names the command `name`: the text
// between the first "(" and the last ")". A short, empty or malformed text never matches.
bool stat_command_is(const char* stat, std::size_t len, const char* name);

}  // namespace Linux

// The id of a running process whose command name is `name`, or -1; `pid`, when above 0,
// is tried first.
int find_proc_by_name(const char* name, int pid);

// The result of look_for_proc_by_name when it could not look: /proc, or a process's entry in
// it, could not be read (as in a shortage of descriptors), so no process is known to be gone.
constexpr int kProcUnreadable = -2;
// As find_proc_by_name, but kProcUnreadable rather than -1 when the answer is not known.
int look_for_proc_by_name(const char* name, int pid);

namespace Console {
// Standard input without line editing and echo (signals still work).
void SwitchToBinaryMode();
// Standard input without blocking reads.
void SwitchToNonBlockMode();
}  // namespace Console

// Writes the local time as "%d/%m %H:%M:%S".
void timestamp(std::ostream& os);
