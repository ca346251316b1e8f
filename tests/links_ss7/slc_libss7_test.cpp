// Our link against libss7 as the far end: libss7 runs in its own process behind the simulated
// board's far-end socket of the timeslot that our HDLC channel is switched to. The link must
// align and prove with libss7 (normal and emergency), carry libss7's link test and ISUP
// messages both ways, and recover the units the peer drops on the way.
//
// libss7 keeps real time, so this test runs on the real clock: the loop waits on its
// descriptors with a short cap instead of having its clock moved.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <csignal>
#include <functional>

#include "LinkHarness.h"
#include "board/sim/SimBoard.h"
#include "hardware/HwMux.h"
#include "tests/support/ChildLines.h"
#include "tests/support/TempDir.h"

#ifndef LIBSS7_PEER
#define LIBSS7_PEER ""
#endif

namespace {

using namespace ss7test;
using SS7::SLC;

constexpr unsigned kOwnPc = 1, kPeerPc = 2;
constexpr int kTimeslot = 8192 + 5;

// The peer process and its report lines.
class Peer : public vxtest::ChildLines {
 public:
  Peer(const std::string& path, unsigned drop_every) : ChildLines({LIBSS7_PEER, path, std::to_string(drop_every)}) {}
};

// A routing label for a message from us to the peer.
void put_label(Bytes& b, unsigned sls) {
  uint32_t label = kPeerPc | (kOwnPc << 14) | (sls << 28);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(label >> (8 * i)));
}

// What our level 3 stand-in does with a message from the peer: answers a link test with its
// acknowledgement and a traffic restart with one of its own, counts ISUP blocking
// acknowledgements.
struct Level3 : Upper {
  SLC* link = nullptr;
  std::function<void(const Bytes&)> reply;
  int slta_sent = 0, tra_sent = 0, bla_received = 0;

  void on_message(Packet& p) override {
    Bytes m = bytes_of(p);
    received.push_back(m);
    if (m.size() < 6) return;
    unsigned si = m[0] & 0x0F;
    if (si == 1 || si == 2) {  // test and maintenance
      if (m[5] == 0x11) {      // SLTM: echo the pattern in an SLTA
        Bytes a{m[0]};
        put_label(a, m[4] >> 4);
        a.push_back(0x21);
        a.insert(a.end(), m.begin() + 6, m.end());
        ++slta_sent;
        reply(a);
      }
    } else if (si == 0 && m[5] == 0x17) {  // traffic restart allowed: answered in kind
      Bytes t{m[0]};
      put_label(t, 0);
      t.push_back(0x17);
      ++tra_sent;
      reply(t);
    } else if (si == 5 && m.size() >= 8) {
      if (m[7] == 0x15) ++bla_received;
    }
  }
};

// The channel as the link sees it: keeps the status of every LSSU the link sends.
struct Tap : GenericHDLC {
  HDLC* channel = nullptr;
  std::vector<uint8_t> lssus;
  bool hdlc_transmit(Packet& frame) override {
    if (frame.length() == 4) lssus.push_back(frame.data()[3]);
    return channel->hdlc_transmit(frame);
  }
  bool is_open() const override { return channel->is_open(); }
  bool is_ready() const override { return channel->is_ready(); }
};

class Libss7Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(LIBSS7_PEER).empty() || ::access(LIBSS7_PEER, X_OK) != 0)
      GTEST_SKIP() << "libss7 peer not built";
    std::signal(SIGPIPE, SIG_IGN);
    HwMux::instance();
    up.add_protocol_tail(link);
    up.link = link;
    up.reply = [this](const Bytes& m) { send(m); };
    tap.channel = &channel;
    link->hdlc = &tap;
    channel.notify = link;
    channel.params.tdm = kTimeslot;
    ASSERT_TRUE(channel.activate());
  }
  void TearDown() override {
    if (peer) sim().untie_far_end(kTimeslot);
    channel.unbind();
    channel.deactivate();
  }
  static board::sim::SimBoard& sim() { return board::sim::SimBoard::instance(); }

  void start_peer(unsigned drop_every) {
    peer = std::make_unique<Peer>(dir.path() + "/ss7", drop_every);
    ASSERT_TRUE(peer->started());
    ASSERT_TRUE(run_until([&] { return peer->count("ready") > 0; }, 5000));
    ASSERT_EQ(sim().tie_far_end(kTimeslot, dir.path() + "/ss7"), 0);
  }
  void send(const Bytes& m) { send_down(up, link, m); }
  Bytes isup_blo(unsigned cic) {
    Bytes b{0x85};
    put_label(b, cic & 15);
    b.push_back(static_cast<uint8_t>(cic));
    b.push_back(static_cast<uint8_t>(cic >> 8));
    b.push_back(0x13);
    return b;
  }
  uint64_t board_dropped() const {
    const auto* tie = sim().far_end().find(kTimeslot);
    return tie ? tie->dropped : 0;
  }
  // Runs the loop and the board until done() or the time is up (real time: libss7's timers).
  bool run_until(const std::function<bool()>& done, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      sim().service();
      multiplexer.run_once(2);
      if (peer) peer->read_lines();
      if (done()) return true;
    }
    return false;
  }
  // Our link activated, libss7 started: both in service, libss7's link test answered.
  void align(bool emergency) {
    link->emergency = emergency;
    if (std::getenv("SS7_TRACE")) link->log = {true, false, false, false, false, true, true, true};
    link->local_activate();
    ASSERT_TRUE(run_until([&] { return link->state() == SLC::State::worked; }, 20000))
        << "state " << link->state();
    // libss7 proves in emergency whatever we send, so its FISUs end our normal proving after
    // its 0.5 s; what differs between the two modes on our side is the status we proved with.
    const uint8_t ours = emergency ? SLC::SIE : SLC::SIN, other = emergency ? SLC::SIN : SLC::SIE;
    EXPECT_NE(std::find(tap.lssus.begin(), tap.lssus.end(), ours), tap.lssus.end());
    EXPECT_EQ(std::find(tap.lssus.begin(), tap.lssus.end(), other), tap.lssus.end());
    // libss7 carries user traffic on a link only after it has answered a link test from the
    // far end (until then it reports the link "ALIGNING" and refuses to send, even its own
    // answers): our level 3 stand-in sends one as soon as level 2 is in service.
    Bytes sltm{0x81};
    put_label(sltm, 0);
    for (uint8_t x : {0x11, 0x40, 0x01, 0x02, 0x03, 0x04}) sltm.push_back(x);
    send(sltm);
    // libss7 reports its link up only after more level 3 traffic from our side: the answer to
    // its own link test and a traffic restart allowed of ours.
    ASSERT_TRUE(run_until([&] { return peer->count("up") > 0; }, 20000));
    EXPECT_GT(up.slta_sent, 0);
    EXPECT_GT(up.tra_sent, 0);
  }
  // n blockings each way; each is acknowledged by the other side.
  void exchange(unsigned first, unsigned n) {
    for (unsigned c = first; c < first + n; ++c) send(isup_blo(c));
    const int want = static_cast<int>(n);
    ASSERT_TRUE(run_until(
        [&] { return peer->count("blo ") >= want && up.bla_received >= want; }, 60000))
        << "peer saw " << peer->count("blo ") << " BLO, we saw " << up.bla_received << " BLA; link sent " << link->statistics()->su_sent << " received "
        << link->statistics()->su_received << " state " << link->state() << "; the board dropped " << board_dropped() << " on the way to the peer";
  }

  vxtest::TempDir dir{"vxss7"};
  Level3 up;
  SLC* link = new SLC;  // owned by up
  HDLC channel;
  Tap tap;
  std::unique_ptr<Peer> peer;
};

TEST_F(Libss7Test, NormalProvingThenMessagesBothWays) {
  start_peer(0);
  align(false);
  exchange(1, 20);
  EXPECT_EQ(link->statistics()->retransmissions, 0u);
}

TEST_F(Libss7Test, EmergencyProvingAndRecoveryOfDroppedUnits) {
  start_peer(8);
  align(true);
  exchange(1, 40);
  EXPECT_EQ(link->state(), SLC::State::worked);
  EXPECT_GT(link->statistics()->retransmissions, 0u);
  EXPECT_GT(link->statistics()->nacks_sent, 0u);
}

}  // namespace
