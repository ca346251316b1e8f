// The control port's acceptor over loopback: one controller at a time, refusal and probing of
// the current connection, real closing of ended connections, bind retry and listen failure.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "control/AcceptorNetCheckConnection.h"
#include "control/TPKTTracer.h"

namespace {

bool fail_listen = false;
// While set, accept4() fails as a process out of descriptors does; every call is counted.
bool fail_accept = false;
int accept_calls = 0;
// When not negative, the congestion-avoidance state that TCP_INFO reports for every socket.
int fake_ca_state = -1;
// While set, TCP_INFO comes back four bytes long, as an emulator returns it.
bool short_tcp_info = false;

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

extern "C" int accept4(int fd, sockaddr* addr, socklen_t* len, int flags) {
  ++accept_calls;
  if (fail_accept) {
    errno = EMFILE;
    return -1;
  }
  using Fn = int (*)(int, sockaddr*, socklen_t*, int);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "accept4"));
  return real(fd, addr, len, flags);
}

// Lets a test show the probe a link that is retransmitting, which loopback never does.
extern "C" int getsockopt(int fd, int level, int name, void* value, socklen_t* len) {
  using Fn = int (*)(int, int, int, void*, socklen_t*);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "getsockopt"));
  const int r = real(fd, level, name, value, len);
  if (r == 0 && fake_ca_state >= 0 && level == IPPROTO_TCP && name == TCP_INFO && *len >= 2)
    static_cast<uint8_t*>(value)[1] = static_cast<uint8_t>(fake_ca_state);
  if (r == 0 && short_tcp_info && level == IPPROTO_TCP && name == TCP_INFO && *len >= 4) {
    std::memset(value, 0, 4);
    *len = 4;
  }
  return r;
}

namespace {

using vxtest::count;
using vxtest::Recorder;

class Acceptor : public Control::AcceptorNetCheckConnection {
 public:
  explicit Acceptor(int port) : AcceptorNetCheckConnection(port) {}
  uint16_t bound_port() const { return vxtest::local_port(listen_socket_.get()); }
  void poke() { OnSocketEvent(listen_socket_.get(), POLLIN); }
  // Idle time, interval and count of the probed connection's keepalive.
  std::string keepalive() const {
    std::string out;
    for (int opt : {TCP_KEEPIDLE, TCP_KEEPINTVL, TCP_KEEPCNT}) {
      int v = 0;
      socklen_t len = sizeof v;
      getsockopt(probe_socket_.get(), IPPROTO_TCP, opt, &v, &len);
      out += (out.empty() ? "" : "/") + std::to_string(v);
    }
    return out;
  }
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
  // A controller taken, and a second one knocking: the probe of the first runs.
  int probing() {
    const int c1 = client();
    EXPECT_TRUE(connected());
    client();
    EXPECT_TRUE(vxtest::pump_until([&] { return acc.check_state() == Acceptor::CheckRunning; }));
    return c1;
  }
  void tick() {
    clock.advance(1000);
    vxtest::pump(1);
  }

  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  Recorder rec;
  Acceptor acc{0};
  uint16_t port = 0;
  std::vector<int> clients;
};

// Whether this kernel hands out TCP_INFO as the probe reads it: a whole record whose first
// byte is the state. qemu-user does not (it returns four bytes as one int).
bool tcp_info_carried() {
  const int l = vxtest::listen_loopback();
  const int c = vxtest::connect_to(vxtest::local_port(l));
  uint8_t info[92] = {};
  socklen_t len = sizeof info;
  const bool ok = c >= 0 && ::getsockopt(c, IPPROTO_TCP, TCP_INFO, info, &len) == 0 && len >= 8 &&
                  info[0] == TCP_ESTABLISHED;
  ::close(c);
  ::close(l);
  return ok;
}

// The cases where the probe's verdict rests on what TCP_INFO reports.
class AcceptorProbeTest : public AcceptorTest {
 protected:
  void SetUp() override {
    if (!tcp_info_carried()) GTEST_SKIP() << "TCP_INFO is not carried here (an emulator?)";
    AcceptorTest::SetUp();
  }
};

TEST_F(AcceptorProbeTest, SecondControllerIsRefusedWhileTheFirstIsHealthyAndAnUnhealthyOneIsDropped) {
  const int c1 = client();
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 1);
  EXPECT_EQ(count(cap.out.str(), "new connection from 127.0.0.1:"), 1);

  const int c2 = client();
  ASSERT_TRUE(vxtest::pump_until([&] { return count(cap.err.str(), "refuse connection") == 1; }));
  EXPECT_TRUE(vxtest::peer_closed(c2));
  EXPECT_EQ(count(cap.err.str(), "CheckConnectionState CheckConnection\n"), 1);
  EXPECT_EQ(acc.check_state(), Acceptor::CheckRunning);
  EXPECT_EQ(acc.keepalive(), "1/1/3");

  // The first controller is untouched, and the next check finds it healthy.
  acc.Send("hi", 2);
  EXPECT_EQ(vxtest::drain(c1), vxtest::frame("hi"));
  tick();
  EXPECT_EQ(count(cap.err.str(), "CheckConnectionState Idle\n"), 1);
  EXPECT_EQ(acc.check_state(), Acceptor::CheckIdle);
  EXPECT_EQ(acc.keepalive(), "7200/75/9");
  EXPECT_EQ(acc.state(), Control::State::Connected);

  // The next knock probes again; a link out of its open state for two ticks is dropped.
  client();
  ASSERT_TRUE(vxtest::pump_until([&] { return acc.check_state() == Acceptor::CheckRunning; }));
  const std::string name = acc.connection_name();

  fake_ca_state = 4;  // loss recovery
  tick();
  EXPECT_EQ(acc.state(), Control::State::Connected);
  cap.clear();
  tick();
  fake_ca_state = -1;
  EXPECT_EQ(cap.err.str(), "connection from " + name + " closed: tcp socket change ca_state.\n" +
                               "control connection " + name + " closed.\n" +
                               "CheckConnectionState Idle\n");
  EXPECT_EQ(acc.check_state(), Acceptor::CheckIdle);
  EXPECT_EQ(acc.keepalive(), "7200/75/9");
  // The controller itself is alive: it must see the end although the probe keeps its copy.
  EXPECT_TRUE(vxtest::peer_closed(c1));
  vxtest::pump(2);
  EXPECT_EQ(rec.disconnects, 1);
  client();
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 2);
}

TEST_F(AcceptorProbeTest, DeadControllerIsDroppedByTheProbeAndTheNextOneIsAdmitted) {
  const int c1 = probing();

  // The reset reaches the server socket at once; the check tick runs before the socket's event.
  vxtest::close_with_reset(c1);
  clients.erase(clients.begin());
  tick();
  EXPECT_EQ(count(cap.err.str(), " closed: tcp socket change state.\n"), 1) << cap.err.str();
  EXPECT_NE(acc.state(), Control::State::Connected);
  vxtest::pump(2);
  EXPECT_EQ(rec.disconnects, 1);
  EXPECT_EQ(acc.state(), Control::State::Connecting);

  client();
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 2);
}

TEST_F(AcceptorTest, ShortTcpInfoSaysNothingAndTheControllerStays) {
  probing();
  short_tcp_info = true;
  for (int i = 0; i < 3; ++i) tick();
  short_tcp_info = false;
  EXPECT_EQ(acc.state(), Control::State::Connected);
  EXPECT_EQ(acc.check_state(), Acceptor::CheckRunning);
  EXPECT_EQ(rec.disconnects, 0);
}

TEST_F(AcceptorTest, OutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
  fail_accept = true;
  accept_calls = 0;
  client();
  ASSERT_TRUE(vxtest::pump_until([&] { return accept_calls > 0; }));
  EXPECT_EQ(count(cap.err.str(), "accept failed: Too many open files, accepting again in 1000 ms\n"),
            1);
  // The pending peer keeps the socket readable, yet no pass accepts again during the pause.
  const int calls = accept_calls;
  vxtest::pump(5);
  EXPECT_EQ(accept_calls, calls);
  fail_accept = false;
  clock.advance(1000);
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 1);
}

// The trace listener pauses as the control acceptor does; a shortage that lasts over several
// pauses is told once, and the queued peer is taken when descriptors are back.
TEST(TraceListener, OutOfDescriptorsPausesWithOneLineAndTakesThePeerAfterwards) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  TPKTTracer tracer;
  const uint16_t port = vxtest::free_port();
  ASSERT_TRUE(tracer.Listen(port));
  fail_accept = true;
  accept_calls = 0;
  const int c = vxtest::connect_to(port);
  ASSERT_GE(c, 0);
  ASSERT_TRUE(vxtest::pump_until([&] { return accept_calls > 0; }));
  for (int pause = 0; pause < 3; ++pause) {
    const int calls = accept_calls;
    vxtest::pump(5);
    EXPECT_EQ(accept_calls, calls);
    clock.advance(1000);
    ASSERT_TRUE(vxtest::pump_until([&] { return accept_calls > calls; }));
  }
  EXPECT_EQ(count(cap.log.str(), "ACP accept failed: Too many open files, accepting again in 1000 ms\n"), 1);
  fail_accept = false;
  clock.advance(1000);
  EXPECT_TRUE(vxtest::pump_until([&] { return tracer.clients() == 1; }));
  ::close(c);
}

TEST_F(AcceptorTest, DroppedConnectionIsReallyClosedAndAPeerArrivingMeanwhileIsRefused) {
  const int c1 = client();
  ASSERT_TRUE(connected());
  // As the heartbeat drop does: the acceptor still holds its probe copy of the socket.
  acc.Disconnect();
  EXPECT_TRUE(vxtest::peer_closed(c1));
  // A peer accepted while the end is pending is refused, not held.
  const int c2 = client();
  acc.poke();
  EXPECT_EQ(acc.state(), Control::State::Deactivating);
  EXPECT_EQ(count(cap.err.str(), "refuse connection from 127.0.0.1:"), 1);
  EXPECT_TRUE(vxtest::peer_closed(c2));
  vxtest::pump(2);
  client();
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 2);
}

TEST_F(AcceptorTest, AHeldPeerWaitsInTheBacklogUntilTheHoldEndsEvenAcrossAnAcceptPause) {
  accept_calls = 0;
  acc.HoldPeers(true);
  client();
  vxtest::pump(5);
  EXPECT_EQ(accept_calls, 0);
  EXPECT_EQ(acc.state(), Control::State::Connecting);
  acc.HoldPeers(false);
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 1);
  acc.Disconnect();
  vxtest::pump(2);
  ASSERT_EQ(acc.state(), Control::State::Connecting);

  // A pause that ends during a hold does not end the hold; a hold that ends during a pause
  // leaves the pause its time.
  fail_accept = true;
  client();
  ASSERT_TRUE(vxtest::pump_until([&] { return accept_calls > 1; }));
  fail_accept = false;
  acc.HoldPeers(true);
  const int calls = accept_calls;
  clock.advance(1000);
  vxtest::pump(5);
  EXPECT_EQ(accept_calls, calls);
  fail_accept = true;
  acc.HoldPeers(false);
  ASSERT_TRUE(vxtest::pump_until([&] { return accept_calls > calls; }));
  fail_accept = false;
  acc.HoldPeers(true);
  acc.HoldPeers(false);
  vxtest::pump(5);
  EXPECT_EQ(accept_calls, calls + 1);
  clock.advance(1000);
  ASSERT_TRUE(connected());
  EXPECT_EQ(rec.connects, 2);
}

TEST(AcceptorSetup, BusyPortIsRetriedEvery5000ms) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  const int holder = vxtest::listen_loopback(1);
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
  TPKTTracer tracer;  // the trace listener too
  EXPECT_FALSE(tracer.Listen(0));
  fail_listen = false;
  EXPECT_FALSE(ok);
  EXPECT_EQ(acc.state(), Control::State::Idle);
  EXPECT_EQ(cap.err.str(), std::string("can't listen socket: ") + std::strerror(EOPNOTSUPP) + "\n");
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

}  // namespace
