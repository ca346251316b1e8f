// Two SS7 links back to back: proving, then messages both ways with units lost on the way.
#include "LinkHarness.h"

namespace {

using namespace ss7test;

Bytes msu_payload(unsigned i) { return {0x83, uint8_t(i), uint8_t(i >> 8), 0x55}; }

// Drops every n-th MSU that passes while it is on.
struct MsuDropper {
  unsigned n, seen = 0, dropped = 0;
  bool on = true;
  bool operator()(const Bytes& u) {
    if (!on || u.size() <= 5 || ++seen % n) return false;
    return ++dropped, true;
  }
};

TEST_F(PairTest, LostUnitsAreRetransmittedInOrder) {
  bring_up(false);
  EXPECT_EQ(b.wire.sent[1], lssu(SLC::SIN)) << "b proved with the normal status";
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
  EXPECT_EQ(a.link->rtb_count(), 0);
  EXPECT_EQ(b.link->state(), SLC::State::worked);
}

}  // namespace
