// The stream layer and the control connection over it, on socket pairs: reading into
// packets, failures as status reports, answers gathered per chunk, the deferred end, and the
// bounded send to a peer that stops reading.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "control/ProtocolsFamily.h"
#include "control/StrmProtocol.h"
#include "foundation/Packet.h"

namespace {

using vxtest::count;
using vxtest::frame;

Packet packet(const std::string& s) {
  Packet p;
  p.reserve_head(0);
  if (!s.empty()) std::memcpy(p.put(s.size()), s.data(), s.size());
  return p;
}

std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

// A stream layer alone on a socket pair; answers each byte received with "<byte>!" written
// down at once when echo is set, and may end the layer after the first answer.
class Owner : public ProtocolsFamily {
 public:
  explicit Owner(bool attach = true) {
    strm = new StrmProtocol;
    add_protocol_tail(strm);
    if (attach) strm->attach(Fd(::dup(sp.fd[0])));
  }
  void on_message(Packet& in) override {
    got.append(reinterpret_cast<const char*>(in.data()), in.length());
    for (unsigned i = 0; echo && i < in.length(); ++i) {
      Packet p = packet({static_cast<char>(in.data()[i]), '!'});
      strm->message(p);
      if (end_after_first) return strm->release();
    }
  }
  void on_deactivated(Protocol*, Protocol_status s) override {
    ++ends;
    last = s->message();
    ok = s->success();
  }

  vxtest::SocketPair sp;
  StrmProtocol* strm;
  std::string got, last;
  int ends = 0;
  bool ok = false, echo = false, end_after_first = false;
};

TEST(Stream, ReadsWhatArrivesAndReportsEndsAndFailures) {
  {
    Owner o;
    Fd(o.sp.fd[0]).NonBlock();
    o.activate();
    ASSERT_EQ(::write(o.sp.fd[1], "hello", 5), 5);
    vxtest::pump(2);
    EXPECT_EQ(o.got, "hello");
    EXPECT_EQ(o.strm->read_measure().counter, 1u);
    o.strm->on_event(o.sp.fd[0], POLLIN);  // nothing queued: EAGAIN is harmless
    EXPECT_EQ(o.ends, 0);
    o.sp.close_peer();
    EXPECT_TRUE(vxtest::pump_until([&] { return o.ends == 1; }));
    EXPECT_FALSE(o.ok);
    // A Unix-domain peer's close reads as a hang-up, a TCP peer's as end of stream.
    EXPECT_TRUE(o.last.rfind("read error: ", 0) == 0 || o.last.rfind("pollhup: ", 0) == 0) << o.last;
    EXPECT_FALSE(o.strm->attached());
  }
  {
    Owner o;  // a hang-up wins over pending data
    o.activate();
    ASSERT_EQ(::write(o.sp.fd[1], "x", 1), 1);
    o.strm->on_event(o.sp.fd[0], POLLIN | POLLHUP);
    EXPECT_EQ(o.got, "");
    EXPECT_EQ(o.last.rfind("pollhup: ", 0), 0u);
  }
  {
    Owner o(false);
    o.activate();
    EXPECT_EQ(o.last, "fd not attached");
    o.strm->attach(Fd(::dup(o.sp.fd[0])));
    o.activate();
    Packet empty = packet("");
    o.strm->message(empty);
    EXPECT_EQ(o.ends, 1);
    EXPECT_TRUE(vxtest::drain(o.sp.fd[1]).empty());
    EXPECT_EQ(o.strm->write_measure().counter, 1u);

    o.sp.close_peer();
    vxtest::CaptureStreams cap;
    Packet p = packet("abc");
    o.strm->message(p);
    EXPECT_EQ(o.ends, 2);
    EXPECT_EQ(o.last, std::string("write error: ") + std::strerror(EPIPE));
    EXPECT_NE(cap.err.str().find("write error, sendbuf="), std::string::npos);
    EXPECT_NE(cap.err.str().find(", error="), std::string::npos);
  }
}

TEST(Stream, AnswersToOneChunkGoOutTogetherInOrderAndOthersAtOnce) {
  Owner o;
  o.echo = true;
  o.activate();
  ASSERT_EQ(::write(o.sp.fd[1], "abc", 3), 3);
  vxtest::pump(2);
  EXPECT_EQ(text(vxtest::drain(o.sp.fd[1])), "a!b!c!");
  EXPECT_EQ(o.strm->write_measure().counter, 1u) << "one write for the chunk's three answers";
  Packet p = packet("zz");
  o.strm->message(p);
  EXPECT_EQ(text(vxtest::drain(o.sp.fd[1])), "zz");

  // A layer released while answering still delivers what it gathered before the end.
  o.end_after_first = true;
  ASSERT_EQ(::write(o.sp.fd[1], "xy", 2), 2);
  vxtest::pump(2);
  EXPECT_FALSE(o.strm->attached());
  EXPECT_EQ(text(vxtest::drain(o.sp.fd[1])), "x!");
}

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    svc.Bind(&rec);
    svc.service_name("server");
    ASSERT_TRUE(svc.Activate());
  }
  // Hands the service its end of the pair (it alone holds it then).
  void connect() {
    mine = sp.fd[0];
    sp.fd[0] = -1;
    svc.Take(mine);
    ASSERT_EQ(svc.state(), Control::State::Connected);
  }
  void write(const std::vector<uint8_t>& f) { ASSERT_EQ(::write(sp.fd[1], f.data(), f.size()), ssize_t(f.size())); }
  vxtest::SocketPair sp;
  vxtest::Recorder rec;
  vxtest::TakenService svc;
  vxtest::CaptureStreams cap;
  int mine = -1;
};

TEST_F(ServiceTest, FramesBothWaysAndSendOutsideConnected) {
  svc.Send("x", 1);
  EXPECT_EQ(cap.err.str(), "Control::Service::Send() ignore Send request in Connecting state.\n");
  connect();
  EXPECT_EQ(rec.connects, 1);
  EXPECT_EQ(svc.connection_name(), "peer");
  svc.Send("0123456789", 10);
  EXPECT_EQ(vxtest::drain(sp.fd[1]), frame("0123456789"));
  rec.echo = &svc;  // a notify may answer from inside OnMessage
  write(frame("ping"));
  vxtest::pump(2);
  EXPECT_EQ(rec.messages, std::vector<std::string>{"ping"});
  EXPECT_EQ(vxtest::drain(sp.fd[1]), frame("ping"));

  // Blocks larger than one frame are refused and the connection stays; the largest that
  // fits goes out with length 65535.
  std::string big(65532, 'b');
  svc.Send(big.data(), int(big.size()));
  svc.Send(big.data(), -1);
  EXPECT_EQ(count(cap.err.str(), "refused"), 2);
  EXPECT_EQ(svc.state(), Control::State::Connected);
  EXPECT_TRUE(vxtest::drain(sp.fd[1]).empty());
  int big_buf = 1 << 20;
  setsockopt(mine, SOL_SOCKET, SO_SNDBUF, &big_buf, sizeof big_buf);
  big.pop_back();
  svc.Send(big.data(), int(big.size()));
  const auto bytes = vxtest::drain(sp.fd[1]);
  ASSERT_EQ(bytes.size(), 65535u);
  EXPECT_EQ(bytes[2], 0xFF);
  EXPECT_EQ(bytes[3], 0xFF);

  svc.Disconnect();
  cap.clear();
  svc.Send("x", 1);
  EXPECT_EQ(svc.state(), Control::State::Deactivating);
  EXPECT_EQ(cap.err.str(), "");
}

TEST_F(ServiceTest, PeersEndIsReportedOnceInTheNextPass) {
  connect();
  sp.close_peer();
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

TEST_F(ServiceTest, DisconnectClosesTheSocketOnceAndHoldsOffTheNextUntilDone) {
  connect();
  Fd other(::dup(mine));  // another holder must not keep the connection open
  svc.Disconnect();
  svc.Disconnect();
  EXPECT_EQ(count(cap.err.str(), "closed."), 1);
  EXPECT_TRUE(vxtest::peer_closed(sp.fd[1]));
  // While the end is pending no new socket is taken.
  vxtest::SocketPair second;
  svc.Take(::dup(second.fd[0]), "second");
  EXPECT_EQ(svc.state(), Control::State::Deactivating);
  EXPECT_EQ(rec.connects, 1);
  vxtest::pump(3);
  EXPECT_EQ(rec.disconnects, 1);

  // Deactivate while the end is pending does not restart.
  svc.Take(::dup(second.fd[0]), "second");
  ASSERT_EQ(svc.state(), Control::State::Connected);
  const int before = svc.impl_on_disconnects;
  svc.Disconnect();
  svc.Deactivate();
  vxtest::pump(3);
  EXPECT_EQ(svc.state(), Control::State::Idle);
  EXPECT_EQ(svc.impl_on_disconnects, before);
  EXPECT_EQ(rec.disconnects, 2);
}

TEST_F(ServiceTest, PeerThatNeverReadsCostsTheLoopOneDeadline) {
  const int small = 4096;
  setsockopt(sp.fd[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  setsockopt(sp.fd[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  connect();
  const std::string block(30000, 's');
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 50; ++i) svc.Send(block.data(), int(block.size()));
  const auto waited = std::chrono::steady_clock::now() - t0;
  // One deadline per packet, not per partial write, and none after the end.
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::milliseconds(2500));
  EXPECT_EQ(svc.state(), Control::State::Deactivating);
  EXPECT_EQ(svc.GetOverflowCounter(), 1u);
  EXPECT_EQ(count(cap.err.str(), "write timeout, sendbuf="), 1) << cap.err.str();
  // The peer sees the end although it never read.
  EXPECT_TRUE(vxtest::peer_closed(sp.fd[1]));
  vxtest::pump(2);
  EXPECT_EQ(rec.disconnects, 1);
}

TEST_F(ServiceTest, ExhaustedPoolDropsTheBlockOrEndsTheConnectionOnRead) {
  connect();
  std::vector<Packet> hold = vxtest::exhaust_packet_pool();
  svc.Send("abc", 3);
  EXPECT_EQ(count(cap.err.str(), "no packet buffer"), 1);
  EXPECT_EQ(svc.state(), Control::State::Connected);
  write(frame("in"));
  vxtest::pump(1);
  EXPECT_EQ(svc.state(), Control::State::Deactivating);
  EXPECT_EQ(count(cap.err.str(), "no packet buffer to read into"), 1);
  hold.clear();
  vxtest::pump(2);
  EXPECT_EQ(rec.disconnects, 1);
  EXPECT_TRUE(vxtest::peer_closed(sp.fd[1]));
}

}  // namespace
