// A signalling link's switch paths while its trunk timeslot changes hands: the path that feeds
// the link belongs to the connection trunk -> link and stays while that stands.
#include "SignallingFixture.h"
#include "hardware/SwitchRoutes.h"

namespace {

using namespace slotstest;

using LinkPathsTest = SignallingTest;

TEST_F(LinkPathsTest, APrimaryRateOrSs7LinkHearsItsTrunkWhateverTheTrunkTakesItsInputFrom) {
  const Bytes frame{0x02, 0x01, 0x7F};
  int seq = 0;
  for (bool ss7 : {false, true}) {
    for (bool other_source : {false, true}) {
      const std::string what = std::string(ss7 ? "ss7" : "pri") + (other_source ? ", another source" : ", disconnect");
      send(create_trunk(++seq, 10, 0, 16));
      send(ss7 ? create_pstn_ss7(++seq, 11, 1) : create_pstn_isdn(++seq, 11, false, 1, false));
      const auto before = open_channels();
      send(connect_cmd(++seq, 10, 11));
      send(connect_cmd(++seq, 11, 10));
      const int ch = opened_since(before);
      ASSERT_GE(ch, 0) << what;
      ASSERT_EQ(sw(16), "from " + std::to_string(ch)) << what;
      if (other_source) {
        send(create_probe(++seq, 12, 400, 401));
        send(connect_cmd(++seq, 12, 10));
        EXPECT_EQ(sw(16), "from 400") << what;
      } else {
        send(simple(++seq, 10, LGCP::Command::e_disconnect));
        EXPECT_EQ(sw(16), "idle") << what;
      }
      texts();
      after(SwitchRoutes::kGraceMs);
      EXPECT_EQ(sw(ch), "from 16") << what;
      EXPECT_EQ(sim().tdm_frame(16, frame), 1u) << what;
      // The link's own release still leaves nothing of its channel behind.
      send(simple(++seq, 11, LGCP::Command::e_destroy));
      EXPECT_EQ(texts().back(), "success") << what;
      EXPECT_EQ(sw(ch), "disabled") << what;
      after(SwitchRoutes::kGraceMs);
      EXPECT_EQ(sw(16), other_source ? "from 400" : "idle") << what;
      EXPECT_FALSE(sim().hdlc_channel(ch)->open) << what;
      send(simple(++seq, 10, LGCP::Command::e_destroy));
      if (other_source) send(simple(++seq, 12, LGCP::Command::e_destroy));
      texts();
    }
  }
}

}  // namespace
