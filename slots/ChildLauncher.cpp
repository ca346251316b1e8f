#include "slots/ChildLauncher.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Paths.h"

namespace {
ChildLauncher forkExec;

void say(const char* text) {
  // Raw writes: the child must not flush stdio buffers that it shares with the daemon.
  ssize_t ignored = ::write(STDOUT_FILENO, text, std::strlen(text));
  ignored = ::write(STDOUT_FILENO, "\n", 1);
  (void)ignored;
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
  const pid_t pid = ::fork();
  if (pid != 0) {
    const int error = errno;
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
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
