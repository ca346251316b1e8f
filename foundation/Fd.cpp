#include "foundation/Fd.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

Fd& Fd::operator=(const Fd& o) {
  if (this == &o) return *this;
  int d = o.dup();
  close();
  fd_ = d;
  return *this;
}

Fd& Fd::operator=(Fd&& o) noexcept {
  if (this == &o) return *this;
  if (fd_ >= 0) ::close(fd_);
  fd_ = o.fd_;
  o.fd_ = -1;
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::dup() const {
  if (fd_ < 0) return -1;
  int d = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  return d;
}

Fd Abandoned(Fd& d) {
  const int error = errno;
  d.close();
  errno = error;
  return Fd();
}

int Fd::close() {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  int r = ::close(fd_);
  fd_ = -1;
  return r;
}

bool Fd::NonBlock() {
  if (fd_ < 0) return false;
  return NonBlockMode(fd_);
}

void Fd::reset(int d) {
  if (fd_ >= 0 && fd_ != d) ::close(fd_);
  fd_ = d;
}

bool NonBlockMode(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0) return false;
  return ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) >= 0;
}

bool BlockMode(int fd) {
  int fl = ::fcntl(fd, F_GETFL);
  if (fl < 0) return false;
  return ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) >= 0;
}

bool SetCloexec(int fd, bool on) {
  int fl = ::fcntl(fd, F_GETFD);
  if (fl < 0) fl = 0;
  fl = on ? (fl | FD_CLOEXEC) : (fl & ~FD_CLOEXEC);
  return ::fcntl(fd, F_SETFD, fl) < 0;
}

namespace Mux {

void Set::add(int fd) {
  if (fd < 0 || fd >= FD_SETSIZE) return;
  FD_SET(fd, &set);
  if (fd > max) max = fd;
}

void Set::remove(int fd) {
  if (fd < 0 || fd >= FD_SETSIZE) return;
  FD_CLR(fd, &set);
  if (fd == max) {
    while (max >= 0 && !FD_ISSET(max, &set)) --max;
  }
}

int max_fd(Set& a, Set& b) { return a.max > b.max ? a.max : b.max; }
int max_fd(Set& a, Set& b, Set& c) {
  int m = max_fd(a, b);
  return m > c.max ? m : c.max;
}

namespace {
fd_set* arg(Set* s) { return s && s->max >= 0 ? &s->set : nullptr; }

int do_select(Set* rd, Set* wr, Set* ex, Mux::timeval* tv) {
  int m = -1;
  for (Set* s : {rd, wr, ex})
    if (s && s->max > m) m = s->max;
  struct ::timeval t;
  struct ::timeval* tp = nullptr;
  if (tv) {
    t.tv_sec = tv->seconds;
    t.tv_usec = tv->microseconds;
    tp = &t;
  }
  return ::select(m + 1, arg(rd), arg(wr), arg(ex), tp);
}
}  // namespace

int select(Set& rd) { return do_select(&rd, nullptr, nullptr, nullptr); }
int select(Set& rd, Mux::timeval& tv) { return do_select(&rd, nullptr, nullptr, &tv); }
int select(Set& rd, Set& wr) { return do_select(&rd, &wr, nullptr, nullptr); }
int select(Set& rd, Set& wr, Mux::timeval& tv) { return do_select(&rd, &wr, nullptr, &tv); }
int select(Set& rd, Set& wr, Set& ex) { return do_select(&rd, &wr, &ex, nullptr); }
int select(Set& rd, Set& wr, Set& ex, Mux::timeval& tv) { return do_select(&rd, &wr, &ex, &tv); }
int select_rd(Set& rd, Mux::timeval& tv) { return do_select(&rd, nullptr, nullptr, &tv); }
int select_wr(Set& wr, Mux::timeval& tv) { return do_select(nullptr, &wr, nullptr, &tv); }

}  // namespace Mux
