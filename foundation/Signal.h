#pragma once
// Installation of POSIX signal handlers. Each call returns the result of sigaction().
#include <csignal>

namespace IPC {

class Signal {
 public:
  // A signal mask: the empty set plus the signals given.
  class Set {
   public:
    Set() { sigemptyset(&set_); }
    Set(int a, int b) : Set() { add(a); add(b); }
    Set(int a, int b, int c) : Set() { add(a); add(b); add(c); }
    Set& add(int sig) {
      sigaddset(&set_, sig);
      return *this;
    }
    const sigset_t& get() const { return set_; }
    // True when sig is a valid signal number.
    static bool is_signal(int sig);

   private:
    sigset_t set_;
  };

  using Handler = void (*)(int);
  using InfoHandler = void (*)(int, siginfo_t*, void*);

  static int ignore(int sig);
  static int system(int sig);
  static int handle(int sig, Handler h, const Set& mask, int flags);
  static int handle(int sig, Handler h, int flags);
  static int handle(int sig, InfoHandler h, const Set& mask, int flags);
  static int handle(int sig, InfoHandler h, int flags);
  // Whether a system call interrupted by the signal fails with EINTR (enable) or restarts.
  static int disable_int(int sig);
  static int enable_int(int sig);
};

}  // namespace IPC
