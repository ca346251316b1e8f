// A layer-3 message longer than one controller signal carries is neither acknowledged nor
// handed up, on either LAPD side; the link goes on with the frames that follow.
#include "LinkTest.h"
#include "links/LAPD.h"
#include "links/LAPD_NT.h"

namespace {

using namespace linktest;
using ISDN::LAPD;
using ISDN::LAPD_NT;
using ISDN::Side;

constexpr size_t kLongest = 16383;

// An I frame of `tei` with an information field of n octets; the first byte says c/r.
Bytes i_frame(uint8_t first, unsigned tei, unsigned ns, bool p, size_t n) {
  Bytes f{first, uint8_t(tei << 1 | 1), uint8_t(ns << 1), uint8_t(p ? 1 : 0)};
  for (size_t i = 0; i < n; ++i) f.push_back(uint8_t(i % 251));
  return f;
}
Bytes rr(uint8_t first, unsigned tei, unsigned nr, bool f) { return {first, uint8_t(tei << 1 | 1), 0x01, uint8_t(nr << 1 | f)}; }

class LongUnits : public LoopTest {};

TEST_F(LongUnits, UserSideLapdNeitherAcknowledgesNorDeliversThem) {
  Channel ch;
  Owner owner;
  auto* link = new LAPD(Side::user, 0);
  link->device = &ch;
  owner.add_protocol_tail(link);
  link->activate();
  Packet ua = packet_of({0x00, 0x01, 0x73});  // the network side's responses: C/R 0
  link->receive(ua);
  ASSERT_EQ(link->full_state().state, 6u);
  ch.take();

  // From the network side: commands C/R 1. Too long, polled: answered with V(R) unchanged.
  Packet big = packet_of(i_frame(0x02, 0, 0, true, kLongest + 1));
  link->receive(big);
  EXPECT_EQ(ch.take(), Frames{rr(0x02, 0, 0, true)});
  EXPECT_TRUE(owner.messages.empty());
  // The longest that fits passes, in the sequence the long one did not take.
  Packet fits = packet_of(i_frame(0x02, 0, 0, false, kLongest));
  link->receive(fits);
  ASSERT_EQ(owner.messages.size(), 1u);
  EXPECT_EQ(owner.messages[0].size(), kLongest);
  EXPECT_EQ(ch.take(), Frames{rr(0x02, 0, 1, false)});
}

TEST_F(LongUnits, NetworkSideBriLinksNeitherAcknowledgeNorDeliverThem) {
  Owner owner;
  auto* nt = new LAPD_NT;
  owner.add_protocol_tail(nt);
  nt->activate();
  Packet request = packet_of(mgmt(7, 1, 127));
  nt->receive(request);
  owner.sent.clear();
  const unsigned tei = 64;

  // From a terminal: commands C/R 0; our responses C/R 0 too.
  Packet big = packet_of(i_frame(0x00, tei, 0, true, kLongest + 1));
  nt->receive(big);
  EXPECT_EQ(owner.sent, Frames{rr(0x00, tei, 0, true)});
  EXPECT_TRUE(owner.messages.empty());
  owner.sent.clear();
  Packet fits = packet_of(i_frame(0x00, tei, 0, false, kLongest));
  nt->receive(fits);
  ASSERT_EQ(owner.messages.size(), 1u);
  EXPECT_EQ(owner.messages[0].size(), kLongest);
  EXPECT_EQ(owner.sent, Frames{rr(0x00, tei, 1, false)});
}

}  // namespace
