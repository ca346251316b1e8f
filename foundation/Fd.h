#pragma once
// The owning descriptor wrapper (-1 when closed; copies are close-on-exec duplicates) and the
// small descriptor toolbox: blocking mode, close-on-exec and select() on descriptor sets.
#include <sys/select.h>

#include "foundation/Mux.h"

class Fd {
 public:
  Fd() = default;
  // Takes ownership of d.
  explicit Fd(int d) : fd_(d) {}
  Fd(const Fd& o) : fd_(o.dup()) {}
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(const Fd& o);
  Fd& operator=(Fd&& o) noexcept;
  ~Fd();

  // A new close-on-exec duplicate owned by the caller; -1 when closed, the negative result
  // of dup() when that fails.
  int dup() const;
  // Closes when open (descriptor becomes -1) and returns close()'s result; on a closed Fd
  // sets errno to EBADF and returns -1.
  int close();
  bool NonBlock();

  int get() const { return fd_; }
  // Gives up ownership without closing.
  int release() {
    int d = fd_;
    fd_ = -1;
    return d;
  }
  // Closes the held descriptor and takes ownership of d.
  void reset(int d = -1);
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Closes d, keeping errno (the failure that ends its use): an empty Fd, returned in d's place.
Fd Abandoned(Fd& d);

// O_NONBLOCK set or cleared; true on success.
bool NonBlockMode(int fd);
bool BlockMode(int fd);
// FD_CLOEXEC set or cleared; true when setting the flags failed.
bool SetCloexec(int fd, bool on);

namespace Mux {

// A descriptor set with its highest member (-1 when empty).
struct Set {
  fd_set set;
  int max = -1;

  Set() { FD_ZERO(&set); }
  void add(int fd);
  void remove(int fd);
  bool has(int fd) const { return fd >= 0 && FD_ISSET(fd, &set); }
  void clear() {
    FD_ZERO(&set);
    max = -1;
  }
};

int max_fd(Set& a, Set& b);
int max_fd(Set& a, Set& b, Set& c);

// select() over the sets; a set with no member is passed as null; without a time value the
// wait has no limit.
int select(Set& rd);
int select(Set& rd, Mux::timeval& tv);
int select(Set& rd, Set& wr);
int select(Set& rd, Set& wr, Mux::timeval& tv);
int select(Set& rd, Set& wr, Set& ex);
int select(Set& rd, Set& wr, Set& ex, Mux::timeval& tv);
int select_rd(Set& rd, Mux::timeval& tv);
int select_wr(Set& wr, Mux::timeval& tv);

}  // namespace Mux
