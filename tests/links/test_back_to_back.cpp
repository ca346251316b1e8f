// Our user side against our network side on the simulated board: primary rate point to point,
// and a basic-rate bus with three terminals on one network side.
#include <gtest/gtest.h>

#include "SimLine.h"
#include "links/LAPD.h"

namespace {

using namespace linktest;
using ISDN::LAPD;
using ISDN::Side;

struct LapdEnd {
  Owner owner;
  LAPD* link;
  std::unique_ptr<HDLC> hdlc;
  LapdEnd(Side::type side, int mode, int rx, int tx) : link(new LAPD(side, 0)) {
    owner.add_protocol_tail(link);
    hdlc = channel(mode, rx, tx, link);
    link->device = hdlc.get();
  }
  ~LapdEnd() { hdlc->unbind(); }
  void send(const Bytes& m) {
    Packet p = packet_of(m);
    link->message(p);
  }
  unsigned state() const { return link->full_state().state; }
};

class BackToBack : public LoopTest {
 protected:
  // The switch stays open across tests (a reset would hang up its descriptor); only the
  // cables are taken away.
  void SetUp() override { uncable_all(); }
  void TearDown() override { uncable_all(); }
};

TEST_F(BackToBack, PrimaryRateUserAgainstNetwork) {
  LapdEnd user(Side::user, HDLC::mode_isdn, kBus + 1, kBus + 1);
  LapdEnd net(Side::network, HDLC::mode_isdn, kBus + 2, kBus + 2);
  sim().state().mux.cable(kBus + 1, kBus + 2);
  sim().state().mux.cable(kBus + 2, kBus + 1);

  user.link->activate();
  settle();
  ASSERT_EQ(user.state(), 6u);
  ASSERT_EQ(net.state(), 6u);
  EXPECT_EQ(user.owner.activated, 1);
  EXPECT_EQ(net.owner.activated, 1);

  // More than a window's worth each way at once, and a lost frame in the middle.
  for (uint8_t i = 0; i < 20; ++i) user.send({0x08, 0x01, i, 0x7B});
  for (uint8_t i = 0; i < 20; ++i) net.send({0x08, 0x01, static_cast<uint8_t>(0x80 | i), 0x7B});
  settle(40);
  ASSERT_EQ(net.owner.messages.size(), 20u);
  ASSERT_EQ(user.owner.messages.size(), 20u);
  for (uint8_t i = 0; i < 20; ++i) EXPECT_EQ(net.owner.messages[i][2], i);

  // The line from the user is cut for one frame: the next one is out of sequence, and the
  // network's REJ brings both again.
  sim().state().mux.uncable(kBus + 1);
  user.send({0x08, 0x01, 0x55, 0x7B});
  settle();
  sim().state().mux.cable(kBus + 1, kBus + 2);
  user.send({0x08, 0x01, 0x56, 0x7B});
  settle();
  ASSERT_EQ(net.owner.messages.size(), 22u);
  EXPECT_EQ(user.link->statistics.retrains, 2u);
  EXPECT_EQ(net.owner.messages[20][2], 0x55);
  EXPECT_EQ(net.owner.messages[21][2], 0x56);

  user.link->deactivate();
  settle();
  EXPECT_EQ(user.state(), 3u);
  EXPECT_EQ(net.state(), 3u);
  EXPECT_EQ(user.owner.released, (std::vector<std::string>{"success (UA received)"}));
  EXPECT_EQ(net.owner.released, (std::vector<std::string>{"remote error (DISC received)"}));
}

TEST_F(BackToBack, BasicRateBusWithThreeTerminals) {
  // The network transmits on N_OUT, looped back so every terminal hears it; each terminal
  // transmits on its own timeslot, all cabled to the network's receive timeslot.
  constexpr int kNetIn = kBus + 10, kNetOut = kBus + 11;
  NtPort port;
  port.nt->set_log(0);
  port.hdlc = channel(HDLC::mode_bri, kNetIn, kNetOut, &port);
  sim().state().mux.cable(kNetOut, kNetOut);
  std::vector<std::unique_ptr<LapdEnd>> te;
  for (int i = 0; i < 3; ++i) {
    te.push_back(std::make_unique<LapdEnd>(Side::user, HDLC::mode_bri, kNetOut, kBus + 20 + i));
    sim().state().mux.cable(kBus + 20 + i, kNetIn);
    te.back()->link->change_to_bri();
    te.back()->link->mdl_remove();
  }
  port.nt->activate();
  for (auto& t : te) t->link->activate();
  settle(16);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(te[i]->state(), 6u) << i;
    EXPECT_GE(te[i]->link->full_state().ownTei, 64u);
  }
  EXPECT_NE(te[0]->link->full_state().ownTei, te[1]->link->full_state().ownTei);

  // A SETUP from the network reaches every terminal; the one that answers gets the call.
  Packet setup = packet_of({0x08, 0x01, 0x03, 0x05, 0xA1});
  port.nt->message(setup);
  settle();
  for (auto& t : te) EXPECT_EQ(t->owner.messages.size(), 1u);
  te[1]->send({0x08, 0x01, 0x83, 0x01});  // ALERTING
  settle();
  ASSERT_EQ(port.messages.size(), 1u);
  Packet connect = packet_of({0x08, 0x01, 0x03, 0x07});
  port.nt->message(connect);
  settle();
  EXPECT_EQ(te[1]->owner.messages.size(), 2u);
  EXPECT_EQ(te[0]->owner.messages.size(), 1u);
  EXPECT_EQ(te[2]->owner.messages.size(), 1u);

  te[2]->link->deactivate();
  settle();
  EXPECT_EQ(te[2]->state(), 3u);
  EXPECT_EQ(port.nt->find_Tei(static_cast<unsigned char>(te[2]->link->full_state().ownTei)), nullptr);
  port.hdlc->unbind();
}

}  // namespace
