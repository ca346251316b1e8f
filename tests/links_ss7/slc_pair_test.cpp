// Two SS7 links back to back: alignment with normal and emergency proving, messages both ways
// with units lost on the way, and loss of alignment with recovery.
#include "LinkHarness.h"

namespace {

using namespace ss7test;
using SS7::SLC;

Bytes msu_payload(unsigned i) { return {0x83, uint8_t(i), uint8_t(i >> 8), 0x55}; }

// Drops every n-th MSU that passes while it is on.
struct MsuDropper {
  unsigned n;
  unsigned seen = 0;
  unsigned dropped = 0;
  bool on = true;
  bool operator()(const Bytes& u) {
    if (!on || u.size() <= 5) return false;
    if (++seen % n) return false;
    ++dropped;
    return true;
  }
};

TEST_F(PairTest, ProvingTakesT4AndThenMessagesFlowBothWays) {
  for (bool emergency : {false, true}) {
    a.link->emergency = b.link->emergency = emergency;
    a.link->local_activate();
    pump();
    run(emergency ? 499 : 8199);
    EXPECT_EQ(a.link->state(), SLC::State::proving);
    run(1);
    ASSERT_EQ(a.link->state(), SLC::State::worked);
    ASSERT_EQ(b.link->state(), SLC::State::worked);
    EXPECT_EQ(a.up.activated, 1 + emergency);
    EXPECT_EQ(b.up.activated, 1 + emergency);
    // The emergency flag decides what both sides proved with.
    const uint8_t proving = emergency ? SLC::SIE : SLC::SIN;
    EXPECT_EQ(b.sent_of_kind(1).back(), (Bytes{0xFF, 0xFF, 0x01, proving}));

    a.up.received.clear();
    b.up.received.clear();
    for (unsigned i = 0; i < 300; ++i) {
      a.send(msu_payload(i));
      b.send(msu_payload(1000 + i));
      if (i % 7 == 0) pump();
    }
    pump();
    ASSERT_EQ(b.up.received.size(), 300u);
    ASSERT_EQ(a.up.received.size(), 300u);
    for (unsigned i = 0; i < 300; ++i) {
      EXPECT_EQ(b.up.received[i], msu_payload(i));
      EXPECT_EQ(a.up.received[i], msu_payload(1000 + i));
    }
    EXPECT_EQ(a.link->rtb_count(), 0);
    EXPECT_EQ(b.link->rtb_count(), 0);
    EXPECT_EQ(a.link->statistics()->retransmissions, 0u);

    a.link->local_deactivate();
    pump();
    ASSERT_EQ(b.link->state(), SLC::State::idle);
  }
}

TEST_F(PairTest, LostUnitsAreRetransmittedInOrder) {
  bring_up();
  MsuDropper drop_a{7}, drop_b{5};
  a.wire.drop = std::ref(drop_a);
  b.wire.drop = std::ref(drop_b);
  for (unsigned i = 0; i < 1000; ++i) {
    a.send(msu_payload(i));
    if (i % 3 == 0) b.send(msu_payload(5000 + i));
    if (i % 11 == 0) pump();
  }
  pump();
  // The last units of each side are recovered by the units that follow them.
  drop_a.on = drop_b.on = false;
  a.send(msu_payload(1000));
  b.send(msu_payload(6000));
  pump();

  EXPECT_GT(drop_a.dropped, 50u);
  EXPECT_GT(drop_b.dropped, 20u);
  ASSERT_EQ(b.up.received.size(), 1001u);
  for (unsigned i = 0; i <= 1000; ++i) ASSERT_EQ(b.up.received[i], msu_payload(i)) << i;
  ASSERT_EQ(a.up.received.size(), 335u);
  for (unsigned i = 0; i < 334; ++i) ASSERT_EQ(a.up.received[i], msu_payload(5000 + 3 * i)) << i;
  EXPECT_GT(a.link->statistics()->retransmissions, 0u);
  EXPECT_GT(b.link->statistics()->nacks_sent, 0u);
  EXPECT_EQ(a.link->state(), SLC::State::worked);
  EXPECT_EQ(b.link->state(), SLC::State::worked);
  EXPECT_EQ(a.link->rtb_count(), 0);
}

TEST_F(PairTest, LostAlignmentIsReportedAndRecovered) {
  bring_up(true);
  // The trunk under b goes down: b stops with SIOS, which takes a out of service too.
  b.link->OnTrunkHardStatus(false);
  pump();
  EXPECT_EQ(a.link->state(), SLC::State::idle);
  EXPECT_EQ(b.link->state(), SLC::State::idle);
  EXPECT_EQ(a.up.deactivated, std::vector<std::string>{"impossible phasing"});
  EXPECT_EQ(b.up.deactivated, std::vector<std::string>{"impossible phasing"});
  bring_up(true);

  // The wire goes dead: a's unacknowledged message runs T7 out.
  a.wire.drop = [](const Bytes&) { return true; };
  a.send(msu_payload(1));
  run(12000);
  EXPECT_EQ(a.link->state(), SLC::State::idle);
  EXPECT_EQ(b.link->state(), SLC::State::worked);
  a.wire.drop = nullptr;
  pump();  // a's SIOS is lost with the rest

  // a's owner starts it again: b, still in service, falls out on the SIO; b's owner restarts
  // it in turn and both prove again.
  a.link->local_activate();
  pump();
  EXPECT_EQ(b.link->state(), SLC::State::idle);
  b.link->local_activate();
  pump();
  run(500);
  ASSERT_EQ(a.link->state(), SLC::State::worked);
  ASSERT_EQ(b.link->state(), SLC::State::worked);
  a.send(msu_payload(2));
  pump();
  EXPECT_EQ(b.up.received.back(), msu_payload(2));
}

}  // namespace
