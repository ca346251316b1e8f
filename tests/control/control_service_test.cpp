// A control connection over a socket pair: frames out and in, the deferred end, Send outside
// Connected, oversized blocks and an exhausted packet pool.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "control/ServiceUnix.h"
#include "foundation/Packet.h"

namespace {

using vxtest::count;
using vxtest::frame;
using vxtest::Recorder;

using TestService = vxtest::TakenService;

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0);
    svc.Bind(&rec);
    svc.service_name("server");
    ASSERT_TRUE(svc.Activate());
  }
  void TearDown() override {
    if (fd[1] >= 0) ::close(fd[1]);
  }
  void connect() {
    svc.Take(fd[0]);
    ASSERT_EQ(svc.state(), Control::State::Connected);
  }
  int fd[2];
  Recorder rec;
  TestService svc;
};

TEST_F(ServiceTest, SendWritesOneFrameAndReceivedFramesReachTheNotify) {
  connect();
  EXPECT_EQ(rec.connects, 1);
  EXPECT_EQ(svc.connection_name(), "peer");
  svc.Send("0123456789", 10);
  const auto bytes = vxtest::drain(fd[1]);
  EXPECT_EQ(bytes, frame("0123456789"));

  // A notify may answer from inside OnMessage.
  rec.echo = &svc;
  const auto ping = frame("ping");
  ASSERT_EQ(::write(fd[1], ping.data(), ping.size()), ssize_t(ping.size()));
  vxtest::pump(2);
  EXPECT_EQ(rec.messages, std::vector<std::string>{"ping"});
  EXPECT_EQ(vxtest::drain(fd[1]), ping);
}

TEST_F(ServiceTest, SendOutsideConnected) {
  vxtest::CaptureStreams cap;
  svc.Send("x", 1);
  EXPECT_EQ(cap.err.str(), "Control::Service::Send() ignore Send request in Connecting state.\n");
  connect();
  svc.Disconnect();
  cap.clear();
  svc.Send("x", 1);
  EXPECT_EQ(svc.state(), Control::State::Deactivating);
  EXPECT_EQ(cap.err.str(), "");
}

TEST_F(ServiceTest, EndIsReportedOnceInTheNextPass) {
  connect();
  vxtest::CaptureStreams cap;
  ::close(fd[1]);
  fd[1] = -1;
  // One pass serves the socket: the end is seen at once, OnDisconnect waits for the next pass.
  EXPECT_TRUE(vxtest::pump_until([&] { return svc.state() != Control::State::Connected; }));
  EXPECT_EQ(cap.err.str(), "control connection peer closed.\n");
  EXPECT_EQ(svc.state(), Control::State::Deactivating);
  EXPECT_EQ(rec.disconnects, 0);
  vxtest::pump(3);
  EXPECT_EQ(svc.state(), Control::State::Connecting);
  EXPECT_EQ(svc.impl_on_disconnects, 1);
  EXPECT_EQ(rec.disconnects, 1);
}

TEST_F(ServiceTest, DisconnectClosesTheSocketAndTwiceGivesOneEnd) {
  connect();
  // Another holder of the same socket must not keep the connection open for the peer.
  Fd other(::dup(fd[0]));
  vxtest::CaptureStreams cap;
  svc.Disconnect();
  svc.Disconnect();
  EXPECT_EQ(count(cap.err.str(), "closed."), 1);
  EXPECT_TRUE(vxtest::peer_closed(fd[1]));
  vxtest::pump(3);
  EXPECT_EQ(rec.disconnects, 1);

  // Also without a connection, Disconnect gives the closed line and one OnDisconnect.
  cap.clear();
  svc.Disconnect();
  vxtest::pump(3);
  EXPECT_EQ(cap.err.str(), "control connection peer closed.\n");
  EXPECT_EQ(rec.disconnects, 2);
}

TEST_F(ServiceTest, WhileTheEndIsPendingNoNewSocketIsTakenAndDeactivateDoesNotRestart) {
  connect();
  vxtest::CaptureStreams cap;
  svc.Disconnect();
  vxtest::SocketPair second;
  svc.Take(::dup(second.fd[0]), "second");
  EXPECT_EQ(svc.state(), Control::State::Deactivating);
  EXPECT_EQ(rec.connects, 1);

  svc.Deactivate();
  vxtest::pump(3);
  EXPECT_EQ(svc.state(), Control::State::Idle);
  EXPECT_EQ(svc.impl_on_disconnects, 0);
  EXPECT_EQ(rec.disconnects, 1);
}

TEST_F(ServiceTest, PeerThatNeverReadsCostsTheLoopOneDeadlineAtMost) {
  const int small = 4096;
  setsockopt(fd[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  setsockopt(fd[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  connect();
  vxtest::CaptureStreams cap;
  const std::string block(30000, 's');
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) svc.Send(block.data(), int(block.size()));
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_LT(waited, std::chrono::milliseconds(2500));
  EXPECT_EQ(svc.state(), Control::State::Deactivating);
  EXPECT_EQ(svc.GetOverflowCounter(), 1u);
  EXPECT_EQ(count(cap.err.str(), "write timeout"), 1);
  EXPECT_TRUE(vxtest::peer_closed(fd[1]));
  vxtest::pump(2);
  EXPECT_EQ(rec.disconnects, 1);
}

TEST_F(ServiceTest, BlockLargerThanOneFrameIsRefusedAndTheConnectionStays) {
  connect();
  vxtest::CaptureStreams cap;
  std::string big(65532, 'b');
  svc.Send(big.data(), int(big.size()));
  svc.Send(big.data(), -1);
  EXPECT_EQ(count(cap.err.str(), "refused"), 2);
  EXPECT_EQ(svc.state(), Control::State::Connected);
  EXPECT_TRUE(vxtest::drain(fd[1]).empty());

  // The largest block that fits goes out as a frame of length 65535.
  int big_buf = 1 << 20;
  setsockopt(fd[0], SOL_SOCKET, SO_SNDBUF, &big_buf, sizeof big_buf);
  big.pop_back();
  svc.Send(big.data(), int(big.size()));
  const auto bytes = vxtest::drain(fd[1]);
  ASSERT_EQ(bytes.size(), 65535u);
  EXPECT_EQ(bytes[2], 0xFF);
  EXPECT_EQ(bytes[3], 0xFF);
}

TEST_F(ServiceTest, ExhaustedPoolDropsTheBlockAndKeepsTheConnection) {
  connect();
  std::vector<Packet> hold = vxtest::exhaust_packet_pool();
  vxtest::CaptureStreams cap;
  svc.Send("abc", 3);
  EXPECT_EQ(count(cap.err.str(), "no packet buffer"), 1);
  EXPECT_EQ(svc.state(), Control::State::Connected);

  // A read that finds no buffer ends this one connection, with a line; nothing else happens.
  const auto f = frame("in");
  ASSERT_EQ(::write(fd[1], f.data(), f.size()), ssize_t(f.size()));
  vxtest::pump(1);
  EXPECT_EQ(svc.state(), Control::State::Deactivating);
  EXPECT_EQ(count(cap.err.str(), "no packet buffer to read into"), 1);
  hold.clear();
  vxtest::pump(2);
  EXPECT_EQ(rec.disconnects, 1);
  EXPECT_TRUE(vxtest::peer_closed(fd[1]));
}

}  // namespace
