// Asynchronous copy and connect on real descriptors through the event loop.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "control/ASyncConnect.h"
#include "control/ASyncCopy.h"
#include "tests/control/TestSupport.h"

namespace {

using Copy = ASync::Copy;
using Connect = ASync::Connect;

struct CopyEnds {
  std::vector<int> statuses;
  void On(Copy::Status::Type s) { statuses.push_back(s); }
};

// A non-blocking socket pair: a copy reads from rd (written at wr) or writes to a (read at b),
// and a can be filled up on demand.
struct Pair : vxtest::SocketPair {
  Pair() : SocketPair(SOCK_NONBLOCK) {}
  int& a = fd[0];
  int& b = fd[1];
  int& rd = fd[0];
  int& wr = fd[1];
  void close_wr() { close_peer(); }
  // Fills a's send side until it would block; returns the bytes written.
  size_t fill() {
    std::vector<char> junk(65536, 'j');
    size_t total = 0;
    for (;;) {
      const ssize_t n = ::send(a, junk.data(), junk.size(), MSG_NOSIGNAL);
      if (n <= 0) return total;
      total += size_t(n);
    }
  }
};

class CopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    copy.Bind(&CopyEnds::On, &ends);
  }
  Copy::EventsParams masks(uint32_t flush) {
    Copy::EventsParams e;
    e.flush = flush;
    return e;
  }
  CopyEnds ends;
  Copy copy;
};

TEST_F(CopyTest, CopiesEverythingThroughTheLoopAndEndsDone) {
  Pair src;
  Pair dst;
  std::string sent;
  for (int i = 0; sent.size() < 50000; ++i) sent += std::to_string(i) + ",";
  copy.set_bufsize(777);
  copy.Start(Fd(::dup(src.rd)), Fd(::dup(dst.a)));
  EXPECT_EQ(copy.status(), Copy::Status::running);
  std::string got;
  size_t at = 0;
  ASSERT_TRUE(vxtest::pump_until([&] {
    if (at < sent.size()) {
      const ssize_t n = ::write(src.wr, sent.data() + at, std::min<size_t>(4096, sent.size() - at));
      if (n > 0) at += size_t(n);
      if (at == sent.size()) src.close_wr();
    }
    const auto b = vxtest::drain(dst.b);
    got.append(b.begin(), b.end());
    return !ends.statuses.empty();
  }));
  const auto rest = vxtest::drain(dst.b);
  got.append(rest.begin(), rest.end());
  EXPECT_EQ(ends.statuses, std::vector<int>{Copy::Status::done});
  EXPECT_EQ(got, sent);
  EXPECT_EQ(copy.copied(), sent.size());
  EXPECT_EQ(copy.bufsize(), 777u);
}

TEST_F(CopyTest, EmptySourceEndsDoneAtOnceOrAfterTheFlushEvent) {
  for (const bool flush : {false, true}) {
    ends.statuses.clear();
    Pair src;
    Pair dst;
    src.close_wr();
    copy.set_events(flush ? Copy::EventsParams{} : masks(0));
    copy.Start(Fd(::dup(src.rd)), Fd(::dup(dst.a)));
    if (flush) {
      EXPECT_EQ(copy.status(), Copy::Status::flushing);
      EXPECT_TRUE(ends.statuses.empty());
      vxtest::pump(1);
    }
    EXPECT_EQ(ends.statuses, std::vector<int>{Copy::Status::done}) << "flush " << flush;
  }
}

TEST_F(CopyTest, FailuresOfEitherSide) {
  // A source that fails before any byte was copied.
  Pair dst;
  Fd dir(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  copy.Start(dir, Fd(::dup(dst.a)));
  EXPECT_EQ(ends.statuses, std::vector<int>{Copy::Status::failed});

  // A destination that hangs up while the copy waits for input.
  ends.statuses.clear();
  Pair src;
  Pair gone;
  copy.Start(Fd(::dup(src.rd)), Fd(::dup(gone.a)));
  ::close(gone.b);
  gone.b = -1;
  ASSERT_TRUE(vxtest::pump_until([&] { return !ends.statuses.empty(); }));
  EXPECT_EQ(ends.statuses, std::vector<int>{Copy::Status::failed});
  EXPECT_EQ(copy.error(), 0);
}

// A copy whose destination is full, so that one buffer is still being written when Stop()
// ends the input: the rest is written before the end, unless the destination fails or the
// buffer is resized meanwhile.
TEST_F(CopyTest, DrainingEndsDoneFailedOrAborted) {
  for (const int want : {Copy::Status::done, Copy::Status::failed, Copy::Status::aborted}) {
    ends.statuses.clear();
    Pair src;
    Pair dst;
    copy.set_events(masks(0));
    const size_t filled = dst.fill();
    ASSERT_EQ(::write(src.wr, std::string(1000, 'x').data(), 1000), 1000);
    copy.Start(Fd(::dup(src.rd)), Fd(::dup(dst.a)));
    copy.Stop();
    ASSERT_EQ(copy.status(), Copy::Status::draining);
    if (want == Copy::Status::failed) {
      ::close(dst.b);
      dst.b = -1;
    } else if (want == Copy::Status::aborted) {
      copy.set_bufsize(16);
      EXPECT_EQ(ends.statuses, std::vector<int>{want});
    }
    size_t got = 0;
    ASSERT_TRUE(vxtest::pump_until([&] {
      if (dst.b >= 0) got += vxtest::drain(dst.b).size();
      return !ends.statuses.empty();
    }));
    if (dst.b >= 0) got += vxtest::drain(dst.b).size();
    vxtest::pump(3);  // nothing more comes, and nothing touches an old buffer
    EXPECT_EQ(ends.statuses, std::vector<int>{want});
    if (want == Copy::Status::done) {
      EXPECT_EQ(got, filled + 1000);
    }
    EXPECT_EQ(copy.status(), want);
  }
}

struct ConnectEnds {
  std::vector<int> statuses;
  std::vector<int> fds;
  Connect* restart = nullptr;
  void On(Connect::Status::Type s, Fd fd) {
    statuses.push_back(s);
    fds.push_back(fd.get());
    if (s == Connect::Status::connected) kept = fd;  // the handler keeps a duplicate
  }
  Fd kept;
};

class ConnectTest : public ::testing::Test {
 protected:
  void SetUp() override { connect.Bind(&ConnectEnds::On, &ends); }
  int listener(int backlog) { return vxtest::listen_loopback(backlog); }
  std::string address(int s) { return "127.0.0.1:" + std::to_string(vxtest::local_port(s)); }
  ConnectEnds ends;
  Connect connect;
};

TEST_F(ConnectTest, ConnectsRefusesParsesAndStops) {
  const int s = listener(4);
  connect.Start(address(s), 1000);
  ASSERT_TRUE(vxtest::pump_until([&] { return !ends.statuses.empty(); }));
  EXPECT_EQ(ends.statuses, std::vector<int>{Connect::Status::connected});
  ASSERT_TRUE(ends.kept);
  const int peer = ::accept(s, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  ASSERT_EQ(::write(ends.kept.get(), "hi", 2), 2);
  char b[2];
  EXPECT_EQ(::read(peer, b, 2), 2);
  ::close(peer);
  ::close(s);

  // Refused, unparsable and stopped.
  ends.statuses.clear();
  ends.fds.clear();
  connect.Start("127.0.0.1:" + std::to_string(vxtest::free_port()), 1000);
  ASSERT_TRUE(vxtest::pump_until([&] { return !ends.statuses.empty(); }));
  EXPECT_EQ(ends.statuses, std::vector<int>{Connect::Status::failed});
  EXPECT_EQ(ends.fds, std::vector<int>{-1});

  // An address that does not parse never becomes a connection to 0.0.0.0.
  for (const char* bad : {"nonsense", "127.0.0.1:70000"}) {
    ends.statuses.clear();
    connect.Start(bad, 1000);
    EXPECT_EQ(ends.statuses, std::vector<int>{Connect::Status::failed}) << bad;
  }

  ends.statuses.clear();
  connect.Stop();  // not connecting: nothing
  EXPECT_TRUE(ends.statuses.empty());
}

TEST_F(ConnectTest, NoAnswerWithinTheLimitFailsOnce) {
  vxtest::TestClock clock;
  // A listener whose backlog is full drops further SYNs, so the attempt stays in progress.
  const int s = listener(0);
  std::vector<int> clients;
  for (int i = 0; i < 4; ++i) {
    int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in sa = vxtest::loopback(vxtest::local_port(s));
    ::connect(c, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    clients.push_back(c);
  }
  vxtest::pump(2);
  connect.Start(address(s), 500);
  if (connect.status() != Connect::Status::connecting) GTEST_SKIP() << "the backlog did not hold";
  vxtest::pump(1);
  if (!ends.statuses.empty()) GTEST_SKIP() << "the kernel completed the connection";
  clock.advance(500);
  vxtest::pump(1);
  EXPECT_EQ(ends.statuses, std::vector<int>{Connect::Status::failed});
  for (int c : clients) ::close(c);
  ::close(s);
}

}  // namespace
