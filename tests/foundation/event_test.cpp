#include "foundation/Event.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include "LoopTest.h"
#include "foundation/Fd.h"

namespace {

using EventTest = LoopTest;

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }
bool is_cloexec(int fd) { return (::fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

TEST(FdTest, OwnsItsDescriptorAndCopiesAreCloseOnExecDuplicates) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::close(p[1]);
  int raw = p[0];
  {
    Fd a(raw);
    Fd b(a);
    EXPECT_NE(b.get(), raw);
    EXPECT_TRUE(is_cloexec(b.get()));
    EXPECT_FALSE(is_cloexec(raw));
    Fd c;
    EXPECT_FALSE(c);
    EXPECT_EQ(c.dup(), -1);
    int old_b = b.get();
    Fd& same = b;
    b = same;  // self-assignment changes nothing
    EXPECT_EQ(b.get(), old_b);
    c = a;
    EXPECT_TRUE(c);
    b = Fd();
    EXPECT_FALSE(b);
    EXPECT_FALSE(is_open(old_b));
    EXPECT_EQ(c.close(), 0);
    errno = 0;
    EXPECT_EQ(c.close(), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(c.NonBlock());
    EXPECT_TRUE(a.NonBlock());
    EXPECT_TRUE(::fcntl(raw, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(BlockMode(raw));
    EXPECT_FALSE(::fcntl(raw, F_GETFL) & O_NONBLOCK);
    EXPECT_FALSE(SetCloexec(raw, true));
    EXPECT_TRUE(is_cloexec(raw));
    EXPECT_FALSE(SetCloexec(raw, false));
    EXPECT_FALSE(is_cloexec(raw));
  }
  EXPECT_FALSE(is_open(raw));
  EXPECT_TRUE(SetCloexec(raw, true));
  EXPECT_FALSE(NonBlockMode(raw));
}

struct Reader {
  std::vector<std::pair<int, short>> calls;
  void on(int fd, short revents) { calls.emplace_back(fd, revents); }
};

TEST_F(EventTest, WatchesItsOwnDuplicateAndCallsTheBoundMember) {
  Pipe p;
  p.fill();
  Reader r;
  Event ev;
  EXPECT_EQ(ev.name(), "Unknown");
  ev.Bind("reader", &Reader::on, &r);
  {
    Fd caller(::fcntl(p.rd, F_DUPFD_CLOEXEC, 0));
    ev.Schedule(caller, POLLIN);
  }  // the caller's copy is closed: the event keeps watching
  EXPECT_TRUE(ev.attached);
  EXPECT_NE(ev.fd(), p.rd);
  multiplexer.run_once(0);
  ASSERT_EQ(r.calls.size(), 1u);
  EXPECT_EQ(r.calls[0], std::make_pair(ev.fd(), short(POLLIN)));
  EXPECT_EQ(ev.counter(), 1u);

  // A new mask on its own descriptor keeps that descriptor.
  int own = ev.fd();
  ev.Schedule(ev.own_fd(), POLLOUT);
  EXPECT_EQ(ev.fd(), own);
  EXPECT_EQ(ev.events(), POLLOUT);
  multiplexer.run_once(0);
  EXPECT_EQ(r.calls.size(), 1u);  // poll() found nothing: no handler is served

  ev.Release();
  EXPECT_FALSE(ev.attached);
  EXPECT_EQ(ev.fd(), -1);
  EXPECT_FALSE(is_open(own));
  EXPECT_NE(ev.handler(), nullptr);
  EXPECT_FALSE(multiplexer.event_exists(&ev));
}

TEST_F(EventTest, ScheduleWithClosedFdLeavesTheEventIdle) {
  Event ev;
  ev.Schedule(Fd(), POLLIN);
  EXPECT_FALSE(ev.attached);
  EXPECT_EQ(ev.events(), POLLIN);
  EXPECT_EQ(multiplexer.handler_count(), 0u);
}

TEST_F(EventTest, HangupIsServedAndCountedOnlyWhenInTheMask) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  Fd mine(sv[0]);
  ::close(sv[1]);
  Reader r;
  Event ev;
  ev.Bind("hup", &Reader::on, &r);
  ev.Schedule(mine, POLLPRI);
  multiplexer.run_once(0);
  ASSERT_EQ(r.calls.size(), 1u);
  EXPECT_EQ(r.calls[0].second, POLLHUP);
  EXPECT_EQ(ev.counter(), 0u);
  ev.Schedule(mine, POLLHUP);
  multiplexer.run_once(0);
  EXPECT_EQ(ev.counter(), 1u);
}

TEST_F(EventTest, DestroyedEventLeavesTheLoop) {
  Pipe p;
  p.fill();
  Reader r;
  auto ev = std::make_unique<Event>();
  ev->Bind("gone", &Reader::on, &r);
  ev->Schedule(Fd(::fcntl(p.rd, F_DUPFD_CLOEXEC, 0)), POLLIN);
  ev.reset();
  EXPECT_EQ(multiplexer.handler_count(), 0u);
  EXPECT_FALSE(multiplexer.run_once(0));
  EXPECT_TRUE(r.calls.empty());
}

// A handler may rebind, re-schedule or destroy its own event from inside its call.
TEST_F(EventTest, HandlerMayReleaseOrRescheduleItsOwnEvent) {
  Pipe p;
  p.fill();
  struct Self {
    Event ev;
    int calls = 0;
    void on(int, short) {
      ++calls;
      ev.Schedule(ev.own_fd(), POLLIN);  // waits in the pending list
      ev.Bind("self2", &Self::again, this);
    }
    void again(int, short) {
      ++calls;
      ev.Release();
    }
  } s;
  s.ev.Bind("self", &Self::on, &s);
  s.ev.Schedule(Fd(::fcntl(p.rd, F_DUPFD_CLOEXEC, 0)), POLLIN);
  multiplexer.run_once(0);
  EXPECT_EQ(s.calls, 1);
  EXPECT_TRUE(multiplexer.event_exists(&s.ev));
  multiplexer.run_once(0);
  EXPECT_EQ(s.calls, 2);
  EXPECT_FALSE(multiplexer.event_exists(&s.ev));
}

}  // namespace
