// The source filter of the radio control base across a stop and restart of its extension
// session: the new session gets the filter last asked for, and the stored state says what the
// open session has.
#include "board/board.h"
#include "tests/radio/RadioControllerFixture.h"

namespace {

using board::sim::Device;
using namespace RTPSignalling;
namespace rx = board::rtp_ext;
using radiotest::lemz_init;

in_addr addr(const char* text) { return in_addr{radiotest::addr(text)}; }

class RadioFilterTest : public radiotest::ControllerTest {
 protected:
  size_t set_requests() { return sim().requests(Device::rtp_ext, rx::RTP_EXT_SET_FILTER).size(); }
  // The filter of the one open session: its address, or 0 when it has none.
  uint32_t open_filter() {
    for (const auto& [id, s] : sim().rtp_ext().sessions())
      if (s.open) return s.filter ? s.filter_addr : 0;
    ADD_FAILURE() << "no open session";
    return 0;
  }
};

TEST_F(RadioFilterTest, RestartedSessionGetsTheFilterLastAskedFor) {
  RadioControl c(1, rtp_ext_attach_session_params{}, lemz_init());
  c.UpdateAccess(true, addr("10.2.0.9"));
  ASSERT_EQ(open_filter(), addr("10.2.0.9").s_addr);

  c.RtpExtStop();
  EXPECT_FALSE(c.filter_set());  // no session, no filter
  ASSERT_TRUE(c.RtpExtStart(false));
  EXPECT_EQ(open_filter(), addr("10.2.0.9").s_addr);
  EXPECT_TRUE(c.filter_set());
  EXPECT_EQ(c.filter_addr(), addr("10.2.0.9").s_addr);
  EXPECT_EQ(set_requests(), 2u);
  c.UpdateAccess(true, addr("10.2.0.9"));  // unchanged: nothing more
  EXPECT_EQ(set_requests(), 2u);

  // Access withdrawn: the next session opens without a filter and none is asked for.
  c.UpdateAccess(false, addr("0.0.0.0"));
  c.RtpExtStop();
  ASSERT_TRUE(c.RtpExtStart(false));
  EXPECT_EQ(open_filter(), 0u);
  EXPECT_FALSE(c.filter_set());
  EXPECT_EQ(set_requests(), 2u);
  c.RtpExtStop();

  // An init-only session is not closed by a stop: it keeps its filter, asked for once.
  RadioControl only(lemz_init());
  only.UpdateAccess(true, addr("10.2.0.7"));
  only.RtpExtStop();
  only.RtpExtStart(false);
  EXPECT_TRUE(only.filter_set());
  EXPECT_EQ(open_filter(), addr("10.2.0.7").s_addr);
  EXPECT_EQ(set_requests(), 3u);
}

TEST_F(RadioFilterTest, RefusedOrMissedFilterIsLoggedAndTriedAgain) {
  RadioControl c(2, rtp_ext_attach_session_params{}, lemz_init());
  c.UpdateAccess(true, addr("10.2.0.9"));
  c.RtpExtStop();
  // A restart whose filter the driver refuses: logged, the session kept, the state unset...
  sim().fail_next(Device::rtp_ext, EIO, 1, rx::RTP_EXT_SET_FILTER);
  ASSERT_TRUE(c.RtpExtStart(false));
  EXPECT_NE(capture.err.str().find("rtp_ext[2] "), std::string::npos);
  EXPECT_NE(capture.err.str().find("set filer rtp_ext session fail !!!"), std::string::npos);
  EXPECT_FALSE(c.filter_set());
  EXPECT_EQ(open_filter(), 0u);
  // ...so the holder's next state sets it.
  c.UpdateAccess(true, addr("10.2.0.9"));
  EXPECT_EQ(open_filter(), addr("10.2.0.9").s_addr);

  // A restart that fails leaves no session and no filter; the next one that works restores it.
  c.RtpExtStop();
  sim().fail_open(Device::rtp_ext, EMFILE);
  EXPECT_FALSE(c.RtpExtStart(false));
  EXPECT_FALSE(c.filter_set());
  sim().fail_open(Device::rtp_ext, 0);
  ASSERT_TRUE(c.RtpExtStart(false));
  EXPECT_EQ(open_filter(), addr("10.2.0.9").s_addr);
  EXPECT_TRUE(c.filter_set());
}

}  // namespace
