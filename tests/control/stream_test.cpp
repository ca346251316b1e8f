// The stream layer over socket pairs: reading into packets, failures as status reports, and
// the bounded send to a peer that stops reading.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "control/ProtocolsFamily.h"
#include "control/StrmProtocol.h"
#include "foundation/Packet.h"

namespace {

class Owner : public ProtocolsFamily {
 public:
  Owner() {
    strm = new StrmProtocol;
    add_protocol_tail(strm);
  }
  void on_message(Packet& p) override {
    got.append(reinterpret_cast<const char*>(p.data()), p.length());
  }
  void on_deactivated(Protocol*, Protocol_status s) override {
    ++ends;
    last = s->message();
    ok = s->success();
  }

  StrmProtocol* strm;
  std::string got;
  int ends = 0;
  std::string last;
  bool ok = false;
};

using Pair = vxtest::SocketPair;

TEST(Stream, ReadsWhatArrivesAndReportsThePeersEnd) {
  Pair sp;
  Owner o;
  o.strm->attach(Fd(::dup(sp.fd[0])));
  Fd(sp.fd[0]).NonBlock();
  o.activate();
  ASSERT_EQ(::write(sp.fd[1], "hello", 5), 5);
  vxtest::pump(2);
  EXPECT_EQ(o.got, "hello");
  EXPECT_EQ(o.ends, 0);
  EXPECT_EQ(o.strm->read_measure().counter, 1u);

  sp.close_peer();
  EXPECT_TRUE(vxtest::pump_until([&] { return o.ends == 1; }));
  EXPECT_FALSE(o.ok);
  // A Unix-domain peer's close reads as a hang-up, a TCP peer's as end of stream.
  EXPECT_TRUE(o.last.rfind("read error: ", 0) == 0 || o.last.rfind("pollhup: ", 0) == 0) << o.last;
  EXPECT_FALSE(o.strm->attached());
}

TEST(Stream, HangupWinsOverPendingDataAndEagainIsHarmless) {
  Pair sp;
  Owner o;
  o.strm->attach(Fd(::dup(sp.fd[0])));
  o.activate();
  o.strm->on_event(sp.fd[0], POLLIN);  // nothing queued: EAGAIN
  EXPECT_EQ(o.ends, 0);
  EXPECT_TRUE(o.strm->attached());

  ASSERT_EQ(::write(sp.fd[1], "x", 1), 1);
  o.strm->on_event(sp.fd[0], POLLIN | POLLHUP);
  EXPECT_EQ(o.got, "");
  EXPECT_EQ(o.ends, 1);
  EXPECT_EQ(o.last.rfind("pollhup: ", 0), 0u);
}

TEST(Stream, ActivationWithoutSocketFailsAndAnEmptyPacketWritesNothing) {
  Owner o;
  o.activate();
  EXPECT_EQ(o.ends, 1);
  EXPECT_EQ(o.last, "fd not attached");

  Pair sp;
  o.strm->attach(Fd(::dup(sp.fd[0])));
  o.activate();
  Packet p;
  p.reserve_head(0);
  o.strm->message(p);
  EXPECT_EQ(o.ends, 1);
  EXPECT_TRUE(vxtest::drain(sp.fd[1]).empty());
  EXPECT_EQ(o.strm->write_measure().counter, 1u);
}

TEST(Stream, PeerThatNeverReadsIsDroppedWithinAboutASecond) {
  Pair sp;
  const int small = 4096;
  setsockopt(sp.fd[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  setsockopt(sp.fd[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  Owner o;
  o.strm->set_connection_name("test");
  Fd mine(::dup(sp.fd[0]));
  mine.NonBlock();
  o.strm->attach(mine);
  o.activate();

  vxtest::CaptureStreams cap;
  Packet p;
  p.reserve_head(0);
  std::memset(p.put(60000), 'w', 60000);
  const auto t0 = std::chrono::steady_clock::now();
  o.strm->message(p);
  const auto waited = std::chrono::steady_clock::now() - t0;

  EXPECT_EQ(o.ends, 1);
  EXPECT_EQ(o.last, "write timeout");
  EXPECT_EQ(o.strm->overflow_counter(), 1u);
  EXPECT_FALSE(o.strm->attached());
  EXPECT_EQ(cap.err.str().rfind("SockStream[test]: write timeout, sendbuf=", 0), 0u) << cap.err.str();
  // The wait is bounded by the one deadline per packet, not per partial write.
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::milliseconds(2500));
  // The peer sees the end although it never read: what was queued, then end of stream.
  EXPECT_TRUE(vxtest::peer_closed(sp.fd[1]));
}

TEST(Stream, WriteToAClosedPeerIsAWriteError) {
  Pair sp;
  Owner o;
  o.strm->attach(Fd(::dup(sp.fd[0])));
  o.activate();
  sp.close_peer();
  vxtest::CaptureStreams cap;
  Packet p;
  p.reserve_head(0);
  std::memcpy(p.put(3), "abc", 3);
  o.strm->message(p);
  EXPECT_EQ(o.ends, 1);
  EXPECT_EQ(o.last, std::string("write error: ") + std::strerror(EPIPE));
  EXPECT_NE(cap.err.str().find("write error, sendbuf="), std::string::npos);
  EXPECT_NE(cap.err.str().find(", error="), std::string::npos);
}

// Answers each byte it receives with "<byte>!" written down the stack at once; may end the
// layer (as a controller's drop would) after the first answer.
class Echo : public Owner {
 public:
  void on_message(Packet& in) override {
    for (unsigned i = 0; i < in.length(); ++i) {
      Packet p;
      p.reserve_head(0);
      const char answer[2] = {static_cast<char>(in.data()[i]), '!'};
      std::memcpy(p.put(2), answer, 2);
      strm->message(p);
      if (end_after_first) {
        strm->release();
        return;
      }
    }
  }
  bool end_after_first = false;
};

TEST(Stream, AnswersToOneChunkGoOutTogetherInOrderAndOthersAtOnce) {
  Pair sp;
  Echo o;
  o.strm->attach(Fd(::dup(sp.fd[0])));
  o.activate();
  ASSERT_EQ(::write(sp.fd[1], "abc", 3), 3);
  vxtest::pump(2);
  const auto got = vxtest::drain(sp.fd[1]);
  EXPECT_EQ(std::string(got.begin(), got.end()), "a!b!c!");
  EXPECT_EQ(o.strm->write_measure().counter, 1u) << "one write for the chunk's three answers";

  // Outside the handling of a chunk a packet is written on the spot.
  Packet p;
  p.reserve_head(0);
  std::memcpy(p.put(2), "zz", 2);
  o.strm->message(p);
  const auto now = vxtest::drain(sp.fd[1]);
  EXPECT_EQ(std::string(now.begin(), now.end()), "zz");

  // A layer released while answering still delivers what it gathered before the end.
  o.end_after_first = true;
  ASSERT_EQ(::write(sp.fd[1], "xy", 2), 2);
  vxtest::pump(2);
  EXPECT_FALSE(o.strm->attached());
  const auto last = vxtest::drain(sp.fd[1]);
  EXPECT_EQ(std::string(last.begin(), last.end()), "x!");
}

}  // namespace
