// The HDLC data-channel slot never gathers more into one batch than one "ioctl" signal can
// carry: a batch that would pass the package count goes out first, and a frame whose body no
// signal carries is counted and dropped while the rest of its batch arrives.
#include "SignallingFixture.h"
#include "slots/HdlcSlot.h"

namespace {

using namespace slotstest;
using R = LGCP::IoctlResponse;

class HdlcBatchBoundTest : public SignallingTest {
 protected:
  HdlcSlot& connected() {
    send(create_probe(1, 21, 300, 300));
    send(create_hdlc(2, 20, 3, 0x1234));
    const auto before = open_channels();
    send(connect_cmd(3, 20, 21));
    channel = opened_since(before);
    EXPECT_GE(channel, 0);
    seen();
    return *dynamic_cast<HdlcSlot*>(slots.Find(20));
  }
  // A frame for the slot's address whose body starts with n and says whether more follow.
  void frame_in(unsigned n, bool more, size_t size = 3) {
    Bytes f{0x12, 0x34, 0x00, uint8_t(n), uint8_t(more ? 0x80 : 0x00)};
    f.resize(2 + 1 + size, uint8_t(n));
    sim().hdlc_frame(channel, f);
    settle(2);
  }
  // The first body octet of every package of every batch, batch by batch.
  std::vector<std::vector<unsigned>> batches() {
    std::vector<std::vector<unsigned>> out;
    for (const auto& r : seen().of(R::e_hdlcPackages)) {
      out.emplace_back();
      for (const auto& p : r.get_hdlcPackages()) out.back().push_back(uint8_t(p.get_body()[0]));
    }
    return out;
  }

  int channel = -1;
};

TEST_F(HdlcBatchBoundTest, ABatchGoesOutBeforeItPassesWhatOneSignalCarries) {
  HdlcSlot& s = connected();
  for (unsigned n = 0; n < 130; ++n) frame_in(n % 256, true);
  frame_in(130, false);
  const auto got = batches();
  ASSERT_EQ(got.size(), 2u);
  ASSERT_EQ(got[0].size(), 128u);
  ASSERT_EQ(got[1].size(), 3u);
  for (unsigned n = 0; n < 131; ++n) EXPECT_EQ(n < 128 ? got[0][n] : got[1][n - 128], n) << n;

  // A body of 16384 octets cannot be carried: counted, said, and the batch goes on without it.
  frame_in(1, true);
  frame_in(2, true, HdlcSlot::kMaxBody + 1);
  frame_in(3, true, HdlcSlot::kMaxBody);
  frame_in(4, false);
  EXPECT_EQ(batches(), (std::vector<std::vector<unsigned>>{{1, 3, 4}}));
  EXPECT_EQ(s.rxTooLong, 1u);
  EXPECT_NE(streams.err.str().find("frame of 16384 octets too long for a package, dropped"), std::string::npos);
}

}  // namespace
