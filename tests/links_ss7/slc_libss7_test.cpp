// Our link against libss7 as the far end, behind the simulated board's far-end socket of the
// timeslot our HDLC channel is switched to: alignment and proving, libss7's link test and ISUP
// messages both ways, and recovery of the units the peer drops.
// libss7 keeps real time, so the loop waits on its descriptors instead of a moved clock.
#include <unistd.h>

#include <algorithm>

#include "tests/links/LinkTest.h"

#ifndef LIBSS7_PEER
#define LIBSS7_PEER ""
#endif

namespace {

using namespace ss7test;

constexpr unsigned kOwnPc = 1, kPeerPc = 2;
constexpr int kTimeslot = 8192 + 5;

// A routing label for a message from us to the peer.
void put_label(Bytes& b, unsigned sls) {
  uint32_t label = kPeerPc | (kOwnPc << 14) | (sls << 28);
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(label >> (8 * i)));
}

// Our level 3 stand-in: answers a link test with its acknowledgement and a traffic restart
// with one of its own, counts ISUP blocking acknowledgements.
struct Level3 : Owner {
  std::function<void(const Bytes&)> reply;
  int slta_sent = 0, tra_sent = 0, bla_received = 0;
  void on_message(Packet& p) override {
    Bytes m = bytes_of(p);
    if (m.size() < 6) return;
    unsigned si = m[0] & 0x0F;
    Bytes a{m[0]};
    if ((si == 1 || si == 2) && m[5] == 0x11) {  // SLTM: the pattern echoed in an SLTA
      put_label(a, m[4] >> 4);
      a.push_back(0x21);
      a.insert(a.end(), m.begin() + 6, m.end());
      ++slta_sent;
      reply(a);
    } else if (si == 0 && m[5] == 0x17) {  // traffic restart allowed
      put_label(a, 0);
      a.push_back(0x17);
      ++tra_sent;
      reply(a);
    } else if (si == 5 && m.size() >= 8 && m[7] == 0x15) {
      ++bla_received;
    }
  }
};

class Libss7Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(LIBSS7_PEER, X_OK) != 0) GTEST_SKIP() << "libss7 peer not built";
    up.add_protocol_tail(link);
    up.reply = [this](const Bytes& m) { send_down(up, link, m); };
    channel = sim_channel(kTimeslot, HDLC::mode_ss7, link);
    tap.next = channel.get();
    link->hdlc = &tap;
  }
  void TearDown() override {
    if (peer) sim().untie_far_end(kTimeslot);
    if (channel) channel->unbind(), channel->deactivate();
  }
  bool run_until(const std::function<bool()>& done, int ms) { return run_real_time(peer.get(), done, ms); }
  vxtest::TempDir dir{"vxss7"};
  Level3 up;
  SLC* link = new SLC;  // owned by up
  std::unique_ptr<HDLC> channel;
  Channel tap;  // keeps what the link sends
  std::unique_ptr<vxtest::ChildLines> peer;
};

// libss7 (one MSU in 8 lost each way) and our link in service, libss7's link test answered; then
// ISUP blockings from us, each acknowledged by the peer, and as many from the peer. libss7
// proves in emergency whatever we send; its FISUs end our normal proving. The losses make both
// sides' error correction work.
TEST_F(Libss7Test, ProvingThenMessagesBothWaysWithLosses) {
  peer = std::make_unique<vxtest::ChildLines>(std::vector<std::string>{LIBSS7_PEER, dir.path() + "/ss7", "8"});
  ASSERT_TRUE(run_until([&] { return peer->count("ready") > 0; }, 5000));
  ASSERT_EQ(sim().tie_far_end(kTimeslot, dir.path() + "/ss7"), 0);
  link->local_activate();
  ASSERT_TRUE(run_until([&] { return link->state() == SLC::State::worked; }, 20000)) << link->state();
  auto sent = [&](uint8_t status) {
    return std::ranges::any_of(tap.frames, [&](const Bytes& f) { return f.size() == 4 && f[3] == status; });
  };
  EXPECT_TRUE(sent(SLC::SIN));
  EXPECT_FALSE(sent(SLC::SIE));
  // libss7 carries user traffic only after it has answered a link test from the far end,
  // and reports its link up only after our answer to its own test and a traffic restart.
  Bytes sltm{0x81};
  put_label(sltm, 0);
  sltm.insert(sltm.end(), {0x11, 0x40, 0x01, 0x02, 0x03, 0x04});
  send_down(up, link, sltm);
  ASSERT_TRUE(run_until([&] { return peer->count("up") > 0; }, 20000));
  EXPECT_GT(up.slta_sent, 0);
  EXPECT_GT(up.tra_sent, 0);
  const int n = 40;
  for (int c = 1; c <= n; ++c) {
    Bytes b{0x85};
    put_label(b, c & 15);
    b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8), 0x13});
    send_down(up, link, b);
  }
  ASSERT_TRUE(run_until([&] { return peer->count("blo ") >= n && up.bla_received >= n; }, 60000))
      << "peer saw " << peer->count("blo ") << " BLO, we saw " << up.bla_received << " BLA; state " << link->state();
  EXPECT_EQ(link->state(), SLC::State::worked);
  EXPECT_GT(link->statistics()->retransmissions, 0u);
  EXPECT_GT(link->statistics()->nacks_sent, 0u);
}

}  // namespace
