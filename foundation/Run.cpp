#include "foundation/Run.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "foundation/Paths.h"

namespace Linux {

namespace {

// The id written in a pid file held by another process; 0 when it reads as no id.
int read_pid(int fd) {
  char text[24];
  ssize_t n;
  do n = ::pread(fd, text, sizeof text - 1, 0);
  while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;
  text[n] = '\0';
  char* end = nullptr;
  const long pid = std::strtol(text, &end, 10);
  return end != text && pid > 0 && pid <= 0x7fffffff ? static_cast<int>(pid) : 0;
}

bool same_file(int fd, const std::string& path) {
  struct stat held, named;
  return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

}  // namespace

Run::Run(const char* name, Write when) : path_(Paths::rooted(std::string("/var/run/") + name + ".pid")) {
  // A fresh path root has no var/run yet: without the folder there is no file to lock, and a
  // second process on the same root would not see this one.
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ignored);
  // The file is opened as it is: its contents are the holder's until the lock is ours.
  // A holder that ends removes the file before it lets the lock go; a lock taken on the
  // file it removed is not the claim, so the one now named by the path is tried again.
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_SYNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      error_ = errno;
      return;
    }
    int r;
    do r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r < 0 && errno == EINTR);
    if (r < 0 && errno == EWOULDBLOCK) {
      error_ = errno;
      holder_ = read_pid(fd);
      ::close(fd);
      return;
    }
    if (r < 0) error_ = errno;  // a file system without locks: held as before, unguarded
    if (r < 0 || same_file(fd, path_)) {
      fd_ = fd;
      if (when == Write::now) write();
      return;
    }
    ::close(fd);
  }
  error_ = EAGAIN;
}

void Run::write() {
  if (fd_ < 0) return;
  if (::ftruncate(fd_, 0) != 0) return;
  char text[32];
  int n = std::snprintf(text, sizeof text, "%d", static_cast<int>(::getpid()));
  const char* p = text;
  off_t at = 0;
  while (n > 0) {
    ssize_t w = ::pwrite(fd_, p, n, at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    p += w;
    at += w;
    n -= static_cast<int>(w);
  }
  ::fsync(fd_);
}

Run::~Run() {
  if (fd_ >= 0) {
    // Removed while still locked: a process that waits for the file then finds it gone.
    ::unlink(path_.c_str());
    ::close(fd_);
  }
}

bool stat_command_is(const char* stat, std::size_t len, const char* name) {
  const char* open = static_cast<const char*>(std::memchr(stat, '(', len));
  if (!open) return false;
  const char* close = nullptr;
  for (const char* p = stat + len; p > stat;) {
    if (*--p == ')') {
      close = p;
      break;
    }
  }
  if (!close || close < open) return false;
  const std::size_t n = static_cast<std::size_t>(close - open - 1);
  return std::strlen(name) == n && std::memcmp(open + 1, name, n) == 0;
}

}  // namespace Linux

namespace {

// The real /proc of this machine, not the path root: the process looked for is a real
// process beside this one, and nothing is written there.
// A stat file that could not be opened for want of descriptors or memory sets unreadable:
// the process may well be there.
bool proc_is(int pid, const char* name, bool& unreadable) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOMEM) unreadable = true;
    return false;
  }
  char buf[255];
  ssize_t n;
  do n = ::read(fd, buf, sizeof buf);
  while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return false;
  return Linux::stat_command_is(buf, static_cast<std::size_t>(n), name);
}

// A directory entry's name as a process id; 0 for anything that is not a plain number.
int entry_pid(const char* s) {
  if (*s < '1' || *s > '9') return 0;
  long v = 0;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return 0;
    v = v * 10 + (*s - '0');
    if (v > 0x7fffffff) return 0;
  }
  return static_cast<int>(v);
}

}  // namespace

int find_proc_by_name(const char* name, int pid) {
  const int found = look_for_proc_by_name(name, pid);
  return found > 0 ? found : -1;
}

int look_for_proc_by_name(const char* name, int pid) {
  bool unreadable = false;
  if (pid > 0 && proc_is(pid, name, unreadable)) return pid;
  DIR* dir = ::opendir("/proc");
  if (!dir) return kProcUnreadable;
  int found = -1;
  while (dirent* e = ::readdir(dir)) {
    int p = entry_pid(e->d_name);
    if (p > 0 && proc_is(p, name, unreadable)) {
      found = p;
      break;
    }
  }
  ::closedir(dir);
  return found < 0 && unreadable ? kProcUnreadable : found;
}

namespace Console {

void SwitchToBinaryMode() {
  termios t {};
  if (::tcgetattr(0, &t) != 0) std::cerr << "can't obtain terminal attributes" << std::endl;
  t.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL);
  if (::tcsetattr(0, TCSADRAIN, &t) != 0) std::cerr << "can't set terminal attributes" << std::endl;
}

void SwitchToNonBlockMode() {
  int on = 1;
  if (::ioctl(0, FIONBIO, &on) != 0) std::cerr << "can't switch terminal to blocked mode" << std::endl;
}

}  // namespace Console

void timestamp(std::ostream& os) {
  time_t now = ::time(nullptr);
  if (now == static_cast<time_t>(-1)) return;
  tm local {};
  if (!::localtime_r(&now, &local)) return;
  char buf[256];
  std::size_t n = std::strftime(buf, sizeof buf, "%d/%m %H:%M:%S", &local);
  os.write(buf, static_cast<std::streamsize>(n));
}
