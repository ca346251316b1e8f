#include "slots/ChildLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <vector>

#include "foundation/Paths.h"

namespace {
ChildLauncher forkExec;

// The children started and not known to be reaped; checked without reaping, so that the
// loop's own reaping still hands every end to its watcher.
std::vector<pid_t> started;

enum class Child { running, ended, gone };
Child look(pid_t pid) {
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return Child::gone;
  return info.si_pid == 0 ? Child::running : Child::ended;
}

void note_started(pid_t pid) {
  std::erase_if(started, [](pid_t p) { return look(p) != Child::running; });
  started.push_back(pid);
}

void say(const char* text) {
  // Raw writes: the child must not flush stdio buffers that it shares with the daemon.
  ssize_t ignored = ::write(STDOUT_FILENO, text, std::strlen(text));
  ignored = ::write(STDOUT_FILENO, "\n", 1);
  (void)ignored;
}

// The size of this process's descriptor table: no descriptor is open at or above it. A forked
// child's table is cut to just above its highest open descriptor, so this is about the count
// in use, not the process's limit. Read from the kernel's status of the process; without it,
// the limit.
int table_size() {
  const int status = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (status >= 0) {
    char text[1024];
    const ssize_t got = ::read(status, text, sizeof text - 1);
    ::close(status);
    if (got > 0) {
      text[got] = 0;
      if (const char* field = std::strstr(text, "\nFDSize:")) {
        const char* c = field + 8;
        while (*c == ' ' || *c == '\t') ++c;
        int size = 0;
        for (; *c >= '0' && *c <= '9' && size < (1 << 24); ++c) size = size * 10 + (*c - '0');
        if (size > 0) return size;
      }
    }
  }
  constexpr rlim_t kMost = 1 << 20;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < kMost) return static_cast<int>(limit.rlim_cur);
  return kMost;
}

// In the child, before anything that may take time: closes every descriptor that execv would
// close. A driver releases what a descriptor holds only at the last close of its file, so a
// duplicate left in the child would keep a session, channel or modem the daemon has let go.
// Each number of the table is asked once (a listing of the open ones costs the kernel far
// more per descriptor); raw system calls only, as the child of a fork should. `last` (the
// pipe the daemon waits on) is closed after all the others.
void drop_close_on_exec(int last) {
  const int size = table_size();
  for (int fd = 0; fd < size; ++fd) {
    const int flags = fd == last ? -1 : ::fcntl(fd, F_GETFD);
    if (flags >= 0 && (flags & FD_CLOEXEC)) ::close(fd);
  }
  if (last >= 0) ::close(last);
}

// The daemon waits at most this long for a child to drop its descriptors: a few system calls,
// unless the machine is loaded far beyond what the board can carry.
constexpr int kDropWaitMs = 1000;

// Parent side: reads the child's pipe to its end, which comes when the child has closed its
// close-on-exec descriptors (the write end among them), exec'd or died.
void wait_for_drop(int readEnd, int pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDropWaitMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{readEnd, POLLIN, 0};
    const int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char c;
    const ssize_t n = ::read(readEnd, &c, 1);
    if (n == 0 || (n < 0 && errno != EINTR)) return;
  }
  std::cerr << "child " << pid << " still holds the daemon's descriptors after " << kDropWaitMs << " ms"
            << std::endl;
}
}  // namespace

ChildLauncher* ChildLauncher::current = &forkExec;

int ChildLauncher::Start(const std::vector<std::string>& args, const Prelude& prelude) {
  // Everything the child needs is ready before fork: it only sleeps, writes and execs.
  const std::string path = Paths::rooted(args.at(0));
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // Until execv the child would run the daemon's own signal handlers: a hang-up sent to it in
  // that window would be taken by them and lost to the program, which then runs on until it
  // is killed. Signals stay blocked across fork; the child puts the caught ones back to
  // their default before unblocking, so that one already sent ends it as it would end the
  // program (a slot destroyed at once still sees its child end).
  sigset_t all, old;
  ::sigfillset(&all);
  ::sigprocmask(SIG_SETMASK, &all, &old);
  // The child closes its write end of this pipe once its other close-on-exec descriptors are
  // gone; without a pipe (no descriptor left) the child still drops them, only the daemon
  // does not wait.
  int dropped[2] = {-1, -1};
  bool watched = ::pipe2(dropped, O_CLOEXEC) == 0;
  if (watched && dropped[1] <= STDERR_FILENO) {
    // A daemon started without its standard descriptors: the child's input or output would
    // take the write end's place before the others are dropped.
    const int moved = ::fcntl(dropped[1], F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(dropped[1]);
    dropped[1] = moved;
    if (moved < 0) ::close(dropped[0]);
    watched = moved >= 0;
  }
  const pid_t pid = ::fork();
  if (pid != 0) {
    const int error = errno;
    if (watched) {
      ::close(dropped[1]);
      if (pid > 0) wait_for_drop(dropped[0], pid);
      ::close(dropped[0]);
    }
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    if (pid > 0) note_started(pid);
    errno = error;
    return pid;
  }
  for (int s = 1; s < NSIG; ++s) {
    struct sigaction sa {};
    if (::sigaction(s, nullptr, &sa) != 0 || sa.sa_handler == SIG_IGN || sa.sa_handler == SIG_DFL) continue;
    sa = {};
    sa.sa_handler = SIG_DFL;
    ::sigaction(s, &sa, nullptr);
  }
  if (prelude.input > 0) {
    ::dup2(prelude.input, 0);
  } else if (prelude.input == 0) {
    ::fcntl(0, F_SETFD, 0);
  }
  if (prelude.output >= 0 && prelude.output != 1) ::dup2(prelude.output, 1);
  drop_close_on_exec(dropped[1]);
  // The program starts with nothing blocked, as a fresh process.
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (prelude.sleeps) ::sleep(prelude.pause);
  if (prelude.banner) say(prelude.banner);
  ::execv(path.c_str(), argv.data());
  if (prelude.reportFailure) say("fail to exec!");
  // Not exit(): the daemon's atexit handlers and stdio buffers belong to the parent.
  ::_exit(prelude.failure);
}

int ChildLauncher::Kill(int pid, int signal) { return ::kill(pid, signal); }

void ChildLauncher::EndAll() {
  for (const pid_t pid : started) {
    // Only a child of ours that has not been reaped: its number is still its own.
    if (look(pid) != Child::running) continue;
    std::clog << "child " << pid << " still runs at exit, killing ..." << std::endl;
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  started.clear();
}
