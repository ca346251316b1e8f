// The source filter of the radio control base across a stop and restart of its extension
// session: the new session gets the filter last asked for, and the stored state says what the
// open session has.
#include "board/board.h"
#include "radio/ED137RadioGWControl.h"
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

TEST_F(RadioFilterTest, RefusedFilterIsAskedForAgainAndForeignSendersAreDroppedMeanwhile) {
  ED137RadioGWControl gw(3, rtp_ext_attach_session_params{}, ED137RadioGWControl::ExtInit(10, 1));
  gw.SetNotify(&notify);
  TERM::RadioStatus released;
  released.select_ed_137().get_header().set_ptt(TERM::ED137RadioPTT::ptt_off);
  TERM::RadioModifier give;
  TERM::ED137RadioModifier& m = give.select_ed_137();
  m.get_addr().set_session_addr("10.2.0.9");
  m.get_params().select_rx().get_header().set_ptt(TERM::ED137RadioPTT::normal_ptt_on);
  sim().fail_next(Device::rtp_ext, EIO, 3, rx::RTP_EXT_SET_FILTER);
  ASSERT_TRUE(gw.SendASNToChan(give));
  EXPECT_EQ(open_filter(), 0u);
  EXPECT_TRUE(gw.reconcile_pending());
  // Until the driver filters, the controller does: a foreign PTT is not reported.
  const board::sim::Bytes ptt_on = {0x20, 0x41, 0x21, 0x05};
  inject("10.9.9.9", 66, ptt_on);
  pump();
  EXPECT_TRUE(notify.requests.empty());
  inject("10.2.0.9", 9, ptt_on);
  pump();
  EXPECT_EQ(notify.requests.size(), 1u);
  advance(1000);
  advance(1000);
  EXPECT_EQ(open_filter(), 0u);
  advance(1000);
  EXPECT_EQ(open_filter(), addr("10.2.0.9").s_addr);
  EXPECT_FALSE(gw.reconcile_pending());
  EXPECT_EQ(set_requests(), 4u);

  // Access withdrawn: a refused reset is asked for again, and every sender is heard after it.
  sim().fail_next(Device::rtp_ext, EIO, 1, rx::RTP_EXT_RESET_FILTER);
  gw.SendASNToChan(released);
  EXPECT_EQ(open_filter(), addr("10.2.0.9").s_addr);
  advance(1000);
  EXPECT_EQ(open_filter(), 0u);
  inject("10.9.9.9", 66, ptt_on);
  pump();
  EXPECT_EQ(notify.requests.size(), 2u);
  const std::string err = capture.err.str();
  EXPECT_EQ(err.find(":set filer rtp_ext session fail !!!"), err.rfind(":set filer rtp_ext session fail !!!"));
  EXPECT_NE(err.find(":reset filer rtp_ext session fail !!!"), std::string::npos);
}

}  // namespace
