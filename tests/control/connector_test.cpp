// The connectors: the TCP one's retry schedule after failed attempts, reconnection after a
// loss and address forms; the Unix-domain acceptor and connector against each other.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "control/AcceptorUnix.h"
#include "control/ConnectorNet.h"
#include "control/ConnectorUnix.h"
#include "tests/support/TempDir.h"

namespace {

using vxtest::count;
using vxtest::Recorder;

class Connector : public Control::ConnectorNet {
 public:
  using ConnectorNet::ConnectorNet;
  void poke(short revents) { OnSocketEvent(-1, revents); }
};

// Advances the clock in two steps and checks that the next attempt comes exactly at `ms`.
void expect_attempt_after(vxtest::TestClock& clock, vxtest::CaptureStreams& cap,
                          const std::string& line, unsigned ms) {
  const int before = count(cap.err.str(), line);
  clock.advance(ms - 1);
  vxtest::pump(2);
  ASSERT_EQ(count(cap.err.str(), line), before) << "attempt before " << ms << " ms";
  clock.advance(1);
  ASSERT_TRUE(vxtest::pump_until([&] { return count(cap.err.str(), line) == before + 1; }))
      << "no attempt after " << ms << " ms";
}

TEST(Connector, ImmediateFailureWaits20sAndSoErrorWaits12sAfterTheFastRetries) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  {
    // The broadcast address is unreachable at once.
    Connector c("255.255.255.255", 9);
    ASSERT_TRUE(c.Activate());
    const std::string line = "can't connect to 255.255.255.255:9 : ";
    EXPECT_EQ(count(cap.err.str(), line), 1);
    for (int i = 0; i < 7; ++i) expect_attempt_after(clock, cap, line, 1000);
    expect_attempt_after(clock, cap, line, 20000);
  }
  {
    cap.clear();
    Connector c("127.0.0.1", vxtest::free_port());
    ASSERT_TRUE(c.Activate());
    const std::string line = "fail to connect to 127.0.0.1:";
    for (int i = 0; i < 8; ++i) {
      // Fire the retry without a poll, then report writability as a refused connect does.
      if (i) clock.advance(1000);
      multiplexer.timers_schedule();
      c.poke(POLLOUT);
      ASSERT_EQ(count(cap.err.str(), line), i + 1);
    }
    clock.advance(11999);
    multiplexer.timers_schedule();
    EXPECT_EQ(multiplexer.timer_count(), 1u);  // the retry is still waiting
    clock.advance(1);
    multiplexer.timers_schedule();
    EXPECT_EQ(multiplexer.timer_count(), 0u);  // the retry ran: a connect is under way
    const int after = count(cap.err.str(), line);
    c.poke(POLLOUT);
    EXPECT_EQ(count(cap.err.str(), line), after + 1);
  }
}

TEST(Connector, ReconnectsTenSecondsAfterALossAndDeactivateEndsAtOnce) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  const int l = vxtest::listen_loopback();
  const uint16_t port = vxtest::local_port(l);
  Recorder rec;
  Control::ConnectorNet c("127.0.0.1", port);
  c.Bind(&rec);
  auto open_fds = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
  const auto fds = open_fds();
  ASSERT_TRUE(c.Activate());
  ASSERT_TRUE(vxtest::pump_until([&] { return rec.connects == 1; }));
  EXPECT_EQ(count(cap.out.str(), "connected to 127.0.0.1:" + std::to_string(port) + ".\n"), 1);
  // Dropped from this side, the connection is really closed and no descriptor stays behind.
  int server = ::accept(l, nullptr, nullptr);
  c.Disconnect();
  EXPECT_TRUE(vxtest::peer_closed(server));
  ::close(server);
  ASSERT_TRUE(vxtest::pump_until([&] { return rec.disconnects == 1; }));
  EXPECT_EQ(c.state(), Control::State::Connecting);
  EXPECT_EQ(open_fds(), fds);

  clock.advance(9999);
  vxtest::pump(3);
  EXPECT_EQ(rec.connects, 1);
  clock.advance(1);
  ASSERT_TRUE(vxtest::pump_until([&] { return rec.connects == 2; }));
  server = ::accept(l, nullptr, nullptr);

  // Deactivate closes at once, with no OnDisconnect and no reconnection.
  c.Deactivate();
  EXPECT_EQ(c.state(), Control::State::Idle);
  EXPECT_TRUE(vxtest::peer_closed(server));
  clock.advance(20000);
  vxtest::pump(3);
  EXPECT_EQ(rec.disconnects, 1);
  EXPECT_EQ(rec.connects, 2);
  ::close(server);
  ::close(l);
}

TEST(Connector, RefusedAttemptsAreRetriedFastSevenTimesThenAfter15sEvenAfterAReconnection) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  const uint16_t port = vxtest::free_port();
  Recorder rec;
  Connector c("127.0.0.1", port);
  c.Bind(&rec);
  ASSERT_TRUE(c.Activate());
  const std::string line = "fail to connect to 127.0.0.1:";
  ASSERT_TRUE(vxtest::pump_until([&] { return count(cap.err.str(), line) == 1; }));
  for (int i = 0; i < 7; ++i) expect_attempt_after(clock, cap, line, 1000);
  expect_attempt_after(clock, cap, line, 15000);
  EXPECT_EQ(c.state(), Control::State::Connecting);

  // The controller's peer comes up; the connection is made, then lost.
  int l = vxtest::listen_loopback(4, port);
  clock.advance(15000);
  ASSERT_TRUE(vxtest::pump_until([&] { return rec.connects == 1; }));
  ::close(::accept(l, nullptr, nullptr));
  ::close(l);
  ASSERT_TRUE(vxtest::pump_until([&] { return rec.disconnects == 1; }));

  // The reconnection fails, and the next attempt takes the long interval.
  expect_attempt_after(clock, cap, line, 10000);
  expect_attempt_after(clock, cap, line, 15000);
  c.Deactivate();
  EXPECT_EQ(multiplexer.timer_count(), 0u);
}

TEST(Connector, AddressForms) {
  Control::ConnectorNet a("127.0.0.1:5000");
  EXPECT_EQ(a.host(), "127.0.0.1");
  EXPECT_EQ(a.port(), 5000);
  Control::ConnectorNet b("10.1.2.3");
  EXPECT_EQ(b.host(), "10.1.2.3");
  EXPECT_EQ(b.port(), 0);

  // A port suffix in the host text wins over the port given beside it.
  vxtest::CaptureStreams cap;
  const int l = vxtest::listen_loopback();
  const uint16_t port = vxtest::local_port(l);
  Recorder rec;
  Control::ConnectorNet c("127.0.0.1:" + std::to_string(port), 161);
  c.Bind(&rec);
  c.Activate();
  EXPECT_TRUE(vxtest::pump_until([&] { return rec.connects == 1; }));
  c.Deactivate();
  ::close(l);
}

TEST(UnixConnection, ConnectorFindsTheAcceptorRefusesASecondAndReconnects) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  vxtest::TempDir tmp("vxunix");
  ASSERT_FALSE(tmp.path().empty());
  const std::string dir = tmp.path(), path = dir + "/ctl";

  Recorder server_rec, client_rec, other_rec;
  Control::ConnectorUnix client(path, dir + "/me");
  client.Bind(&client_rec);
  ASSERT_TRUE(client.Activate());
  EXPECT_EQ(vxtest::count(cap.err.str(), "can't connect to " + path + " : "), 1);

  Control::AcceptorUnix server(path);
  server.Bind(&server_rec);
  ASSERT_TRUE(server.Activate());
  clock.advance(1000);
  ASSERT_TRUE(vxtest::pump_until([&] { return server_rec.connects == 1 && client_rec.connects == 1; }));
  EXPECT_EQ(server.connection_name(), dir + "/me");
  EXPECT_EQ(vxtest::count(cap.log.str(), "connected to " + path + "\n"), 1);

  client.Send("hello", 5);
  ASSERT_TRUE(vxtest::pump_until([&] { return server_rec.messages.size() == 1; }));
  EXPECT_EQ(server_rec.messages[0], "hello");

  Control::ConnectorUnix other(path);
  other.Bind(&other_rec);
  other.Activate();
  ASSERT_TRUE(vxtest::pump_until([&] { return vxtest::count(cap.err.str(), "refuse connection from") == 1; }));
  EXPECT_EQ(server_rec.connects, 1);
  other.Deactivate();

  server.Disconnect();
  ASSERT_TRUE(vxtest::pump_until([&] { return client_rec.disconnects == 1; }));
  clock.advance(10000);
  ASSERT_TRUE(vxtest::pump_until([&] { return server_rec.connects == 2; }));

  client.Deactivate();
  server.Deactivate();
}

TEST(UnixConnection, PathTooLongForTheAddressIsAFailureNotATruncation) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  const std::string error = std::strerror(ENAMETOOLONG);
  // 108 characters: one more than the address holds.
  const std::string path = "/tmp/" + std::string(103, 'p');

  Control::AcceptorUnix server(path);
  ASSERT_TRUE(server.Activate());
  EXPECT_EQ(cap.err.str(), "can't bind to socket: \"" + error + "\"  waiting...\n");
  EXPECT_EQ(server.state(), Control::State::Connecting);
  server.Deactivate();

  cap.clear();
  Control::ConnectorUnix client(path, path);
  ASSERT_TRUE(client.Activate());
  EXPECT_EQ(cap.err.str(), "can't bind to domain socket '" + path + "': \"" + error + "\n" +
                               "can't connect to " + path + " : " + error + "\n");
  EXPECT_EQ(client.state(), Control::State::Connecting);
  client.Deactivate();
}

}  // namespace
