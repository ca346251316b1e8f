#include "foundation/Signal.h"

namespace IPC {

bool Signal::Set::is_signal(int sig) {
  sigset_t s;
  sigemptyset(&s);
  return sigismember(&s, sig) == 0;
}

namespace {

int install(int sig, void (*plain)(int), Signal::InfoHandler info, const sigset_t& mask, int flags) {
  struct sigaction sa {};
  if (info) {
    sa.sa_sigaction = info;
    flags |= SA_SIGINFO;
  } else {
    sa.sa_handler = plain;
    flags &= ~SA_SIGINFO;
  }
  sa.sa_mask = mask;
  sa.sa_flags = flags;
  return sigaction(sig, &sa, nullptr);
}

}  // namespace

int Signal::ignore(int sig) { return install(sig, SIG_IGN, nullptr, Set().get(), 0); }
int Signal::system(int sig) { return install(sig, SIG_DFL, nullptr, Set().get(), 0); }

int Signal::handle(int sig, Handler h, const Set& mask, int flags) { return install(sig, h, nullptr, mask.get(), flags); }
int Signal::handle(int sig, Handler h, int flags) { return install(sig, h, nullptr, Set().get(), flags); }
int Signal::handle(int sig, InfoHandler h, const Set& mask, int flags) {
  return install(sig, nullptr, h, mask.get(), flags);
}
int Signal::handle(int sig, InfoHandler h, int flags) { return install(sig, nullptr, h, Set().get(), flags); }

namespace {
// What siginterrupt() does: the installed action keeps everything but SA_RESTART.
int set_restart(int sig, bool restart) {
  struct sigaction sa {};
  if (sigaction(sig, nullptr, &sa) != 0) return -1;
  if (restart) sa.sa_flags |= SA_RESTART; else sa.sa_flags &= ~SA_RESTART;
  return sigaction(sig, &sa, nullptr);
}
}  // namespace

int Signal::disable_int(int sig) { return set_restart(sig, true); }
int Signal::enable_int(int sig) { return set_restart(sig, false); }

}  // namespace IPC
