// The control port's acceptor over loopback: one controller at a time, refusal and probing of
// the current connection, real closing of ended connections, bind retry and listen failure.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "control/AcceptorNetCheckConnection.h"

namespace {

bool fail_listen = false;

}  // namespace

// Lets a test make listen() fail, which no socket set-up on loopback can provoke reliably.
extern "C" int listen(int fd, int backlog) {
  if (fail_listen) {
    errno = EOPNOTSUPP;
    return -1;
  }
  using Fn = int (*)(int, int);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "listen"));
  return real(fd, backlog);
}

namespace {

using vxtest::count;
using vxtest::Recorder;

class Acceptor : public Control::AcceptorNetCheckConnection {
 public:
  explicit Acceptor(int port) : AcceptorNetCheckConnection(port) {}
  uint16_t bound_port() const { return vxtest::local_port(listen_socket_.get()); }
  void poke() { OnSocketEvent(listen_socket_.get(), POLLIN); }
};

class AcceptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    acc.Bind(&rec);
    acc.service_name("server");
    ASSERT_TRUE(acc.Activate());
    port = acc.bound_port();
  }
  void TearDown() override {
    for (int fd : clients) ::close(fd);
  }
  int client() {
    const int fd = vxtest::connect_to(port);
    EXPECT_GE(fd, 0);
    clients.push_back(fd);
    return fd;
  }
  bool connected() {
    return vxtest::pump_until([&] { return acc.state() == Control::State::Connected; });
  }

  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  Recorder rec;
  Acceptor acc{0};
  uint16_t port = 0;
  std::vector<int> clients;
};

TEST_F(AcceptorTest, SecondControllerIsRefusedWhileTheFirstIsHealthy) {
  const int c1 = client();
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 1);
  EXPECT_EQ(count(cap.out.str(), "new connection from 127.0.0.1:"), 1);

  const int c2 = client();
  ASSERT_TRUE(vxtest::pump_until([&] { return count(cap.err.str(), "refuse connection") == 1; }));
  EXPECT_TRUE(vxtest::peer_closed(c2));
  EXPECT_EQ(count(cap.err.str(), "CheckConnectionState CheckConnection\n"), 1);
  EXPECT_EQ(acc.check_state(), Acceptor::CheckRunning);

  // The first controller is untouched, and the next check finds it healthy.
  acc.Send("hi", 2);
  EXPECT_EQ(vxtest::drain(c1), vxtest::frame("hi"));
  clock.advance(1000);
  vxtest::pump(1);
  EXPECT_EQ(count(cap.err.str(), "CheckConnectionState Idle\n"), 1);
  EXPECT_EQ(acc.check_state(), Acceptor::CheckIdle);
  EXPECT_EQ(acc.state(), Control::State::Connected);
}

TEST_F(AcceptorTest, DeadControllerIsDroppedByTheProbeAndTheNextOneIsAdmitted) {
  const int c1 = client();
  ASSERT_TRUE(connected());
  client();
  ASSERT_TRUE(vxtest::pump_until([&] { return acc.check_state() == Acceptor::CheckRunning; }));

  // The reset reaches the server socket at once; the check tick runs before the socket's event.
  vxtest::close_with_reset(c1);
  clients.erase(clients.begin());
  clock.advance(1000);
  vxtest::pump(1);
  EXPECT_EQ(count(cap.err.str(), " closed: tcp socket change state.\n"), 1) << cap.err.str();
  EXPECT_NE(acc.state(), Control::State::Connected);
  vxtest::pump(2);
  EXPECT_EQ(rec.disconnects, 1);
  EXPECT_EQ(acc.state(), Control::State::Connecting);

  client();
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 2);
}

TEST_F(AcceptorTest, DroppedConnectionIsReallyClosedSoTheControllerCanComeBack) {
  const int c1 = client();
  ASSERT_TRUE(connected());
  // As the heartbeat drop does: the acceptor still holds its probe copy of the socket.
  acc.Disconnect();
  EXPECT_TRUE(vxtest::peer_closed(c1));
  vxtest::pump(2);
  client();
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 2);
}

TEST_F(AcceptorTest, PeerArrivingWhileTheEndIsPendingIsRefusedNotHeld) {
  client();
  ASSERT_TRUE(connected());
  acc.Disconnect();
  const int c2 = client();
  acc.poke();
  EXPECT_EQ(acc.state(), Control::State::Deactivating);
  EXPECT_EQ(count(cap.err.str(), "refuse connection from 127.0.0.1:"), 1);
  EXPECT_TRUE(vxtest::peer_closed(c2));
  vxtest::pump(2);
  client();
  ASSERT_TRUE(connected());
}

TEST_F(AcceptorTest, OneReadinessReportTakesEveryWaitingPeer) {
  // The listen backlog of 1 lets the kernel complete two handshakes before a pass.
  const int c1 = client();
  const int c2 = client();
  vxtest::pump(1);
  EXPECT_EQ(acc.state(), Control::State::Connected);
  EXPECT_EQ(count(cap.out.str(), "new connection"), 1);
  EXPECT_EQ(count(cap.err.str(), "refuse connection"), 1);
  EXPECT_FALSE(vxtest::peer_closed(c1));
  EXPECT_TRUE(vxtest::peer_closed(c2));
}

TEST(AcceptorSetup, BusyPortIsRetriedEvery5000ms) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  const int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  const uint16_t port = vxtest::local_port(holder);

  Control::AcceptorNet acc(port);
  ASSERT_TRUE(acc.Activate());
  const std::string line = std::string("can't bind to socket: \"") + std::strerror(EADDRINUSE) +
                           "\"  waiting...\n";
  EXPECT_EQ(cap.err.str(), line);
  EXPECT_EQ(acc.state(), Control::State::Connecting);
  clock.advance(4999);
  vxtest::pump(1);
  EXPECT_EQ(count(cap.err.str(), "can't bind"), 1);
  clock.advance(1);
  vxtest::pump(1);
  EXPECT_EQ(count(cap.err.str(), "can't bind"), 2);

  ::close(holder);
  clock.advance(5000);
  vxtest::pump(1);
  EXPECT_EQ(count(cap.err.str(), "can't bind"), 2);
  const int c = vxtest::connect_to(port);
  ASSERT_GE(c, 0);
  EXPECT_TRUE(vxtest::pump_until([&] { return acc.state() == Control::State::Connected; }));
  ::close(c);
}

TEST(AcceptorSetup, FailedListenIsReportedToTheCaller) {
  vxtest::CaptureStreams cap;
  Control::AcceptorNetCheckConnection acc(0);
  fail_listen = true;
  const bool ok = acc.Activate();
  fail_listen = false;
  EXPECT_FALSE(ok);
  EXPECT_EQ(acc.state(), Control::State::Idle);
  EXPECT_EQ(cap.err.str(), std::string("can't listen socket: ") + std::strerror(EOPNOTSUPP) + "\n");
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

}  // namespace
