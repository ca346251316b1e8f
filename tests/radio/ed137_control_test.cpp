// The ED-137 gateway controller on the simulated extension device and the loop's clock: the
// keep-alive watch, received extensions as reports, the controller's values as extensions.
#include <csignal>
#include <deque>

#include "radio/ED137RadioGWControl.h"
#include "tests/radio/RadioControllerFixture.h"

namespace {

using namespace RTPSignalling;
using board::sim::Bytes;
using radiotest::addr;

// On an extension device with keep-alives (period and sigtime set) by default.
class Gateway : public ED137RadioGWControl {
 public:
  explicit Gateway(rtp_ext_init_params const& init = ExtInit(10, 1))
      : ED137RadioGWControl(6, rtp_ext_attach_session_params{}, init) {}
  using ED137RadioGWControl::ProcessRadioStatus;
};

TERM::RadioStatus rx_status(TERM::ED137RadioPTT::NamedNumber ptt, bool squ, unsigned id, int method = -1,
                            unsigned quality = 0) {
  TERM::RadioStatus st;
  auto& s = st.select_ed_137();
  s.get_header().set_ptt(ptt);
  s.get_header().set_squ(squ ? TERM::ED137RadioSQU::squ_on : TERM::ED137RadioSQU::squ_off);
  s.get_header().set_ptt_id(id);
  if (method >= 0) {
    s.include_sqi().get_bss_method().setValue(method);
    s.get_sqi().set_bss_quality(quality);
  }
  return st;
}

TERM::RadioModifier tx_modifier(TERM::ED137RadioPTT::NamedNumber ptt, unsigned id) {
  TERM::RadioModifier m;
  auto& e = m.select_ed_137();
  e.get_addr().set_session_addr("10.0.0.9");
  e.get_addr().set_session_ssrc(77);
  auto& h = e.get_params().select_tx().get_header();
  h.set_ptt(ptt);
  h.set_ptt_id(id);
  return m;
}

class ED137ControlTest : public radiotest::ControllerTest {};

TEST_F(ED137ControlTest, MissingKeepAliveReportsOnEveryTickUntilAnExtensionArrives) {
  Gateway gw;
  gw.SetNotify(&notify);
  gw.SetTimerEnable(true);  // every 1000 ms; the limit is 200 ms x 10
  advance(1000);
  EXPECT_TRUE(notify.codes.empty());
  advance(1000);
  EXPECT_EQ(notify.codes, std::vector<int>{151});
  advance(1000);
  EXPECT_EQ(notify.codes, (std::vector<int>{151, 151}));
  inject("10.0.0.9", 77, {0x00, 0x00, 0, 0});  // a tx keep-alive: PTT off
  pump();
  EXPECT_EQ(gw.last_rx(), Mux::milliseconds());
  advance(1000);
  EXPECT_EQ(notify.codes.size(), 2u);

  // A keep-alive period or multiplier of 0 switches the watch off.
  for (bool period : {true, false}) {
    Gateway quiet;
    radiotest::Recorder silent;
    ED137RadioParams p;
    (period ? p.keepalive_period : p.keepalive_multiplier) = 0;
    quiet.SetParams(p);
    quiet.SetNotify(&silent);
    EXPECT_EQ(quiet.ProcessRadioStatus(Mux::milliseconds() + 60000, 1000), 1000u);
    EXPECT_TRUE(silent.codes.empty()) << period;
  }
}

// The watch measures silence on the loop's clock: a device that keeps sending is not reported
// lost because somebody set the time of day.
TEST_F(ED137ControlTest, StepsOfTheTimeOfDayReportNoMissingKeepAlive) {
  Gateway gw;
  gw.SetNotify(&notify);
  gw.SetTimerEnable(true);
  for (int64_t step : {3LL * 3600 * 1000, 400LL * 86400 * 1000, -20LL * 1000, -60LL * 1000}) {
    advance(500);
    clock.step_time_of_day(step);
    inject("10.0.0.9", 77, {0x00, 0x00, 0, 0});
    advance(500);
  }
  EXPECT_TRUE(notify.codes.empty());
}

TEST_F(ED137ControlTest, RepeatedExtensionsAreReportedOncePerInterval) {
  Gateway gw;
  gw.SetNotify(&notify);
  inject("10.0.0.9", 77, {0x20, 0x01, 0x21, 0x05});  // PTT on, a CLIMAX delay feature (not used)
  pump();
  ASSERT_EQ(notify.requests.size(), 1u);
  const auto& m = notify.requests[0].get_request().get_ed_137();
  EXPECT_EQ(m.get_addr().get_session_addr(), "10.0.0.9");
  EXPECT_EQ(m.get_addr().get_session_ssrc().getValue(), 77u);
  EXPECT_EQ(m.get_params().get_tx().get_header().get_ptt().getValue(), TERM::ED137RadioPTT::normal_ptt_on);
  EXPECT_EQ(gw.chan_state().content, kED137TxState);

  advance(300);
  inject("10.0.0.9", 77, {0x20, 0x00, 0, 0});
  pump();
  EXPECT_EQ(notify.requests.size(), 1u);
  advance(700);
  inject("10.0.0.9", 77, {0x20, 0x00, 0, 0});
  pump();
  EXPECT_EQ(notify.requests.size(), 2u);
  // A change is reported at once; so is each sender's last extension of one run.
  inject("10.0.0.9", 77, {0x40, 0x00, 0, 0});
  inject("10.0.0.9", 77, {0x60, 0x00, 0, 0});
  inject("10.0.0.8", 78, {0x20, 0x00, 0, 0});
  pump();
  // PTT types 5 and 7 have no name and reach the controller as they are (the recorder checks
  // that they encode).
  inject("10.0.0.9", 77, {0xA0, 0x00, 0, 0});
  inject("10.0.0.8", 78, {0xE0, 0x00, 0, 0});
  pump();
  ASSERT_EQ(notify.requests.size(), 6u);
  auto ptt = [&](size_t i) {
    return notify.requests[i].get_request().get_ed_137().get_params().get_tx().get_header().get_ptt().getValue();
  };
  EXPECT_EQ((std::vector<int>{ptt(2), ptt(4), ptt(5)}), (std::vector<int>{TERM::ED137RadioPTT::priority_ptt_on, 5, 7}));
  EXPECT_EQ(notify.requests[3].get_request().get_ed_137().get_addr().get_session_addr(), "10.0.0.8");
  EXPECT_EQ(gw.last_rx(), Mux::milliseconds());
}

TEST_F(ED137ControlTest, AReportThatDidNotGoOutIsMadeAgainByTheNextExtension) {
  Gateway gw;
  gw.SetNotify(&notify);
  notify.delivers = false;
  inject("10.0.0.9", 77, {0x20, 0x00, 0, 0});
  pump();
  ASSERT_EQ(notify.requests.size(), 1u);
  EXPECT_EQ(gw.chan_state().content, 0u);
  notify.delivers = true;
  advance(100);
  inject("10.0.0.9", 77, {0x20, 0x00, 0, 0});
  pump();
  EXPECT_EQ(notify.requests.size(), 2u);
  EXPECT_EQ(gw.chan_state().content, kED137TxState);
}

TEST_F(ED137ControlTest, ReceiveOnlyRadiosReportNothing) {
  for (auto [type, mode] : {std::pair{1u, 2u}, std::pair{2u, 1u}}) {
    Gateway gw;
    ED137RadioParams p;
    p.radio_type = type;
    p.txrx_mode = mode;
    gw.SetParams(p);
    gw.SetNotify(&notify);
    inject("10.0.0.9", 77, {0x20, 0x00, 0, 0});
    pump();
    EXPECT_TRUE(notify.requests.empty()) << type << "/" << mode;
    sim().reset();
  }
}

TEST_F(ED137ControlTest, StatusesAreSentAsRxExtensionsWhenNew) {
  Gateway gw;
  ASSERT_TRUE(gw.SendASNToChan(rx_status(TERM::ED137RadioPTT::normal_ptt_on, true, 5, 1, 3)));
  // Quality 3 in the 5-bit index, method 1 (agc) in the 3-bit one.
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x31, 0x41, 0x11, 0x19}}));
  EXPECT_TRUE(gw.GetSQU());
  EXPECT_EQ(gw.last_tx(), Mux::milliseconds());
  // The same status again sends nothing while the device sends keep-alives.
  gw.SendASNToChan(rx_status(TERM::ED137RadioPTT::normal_ptt_on, true, 5, 1, 3));
  EXPECT_TRUE(sent().empty());
  gw.SendASNToChan(rx_status(TERM::ED137RadioPTT::normal_ptt_on, true, 5));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x31, 0x40, 0, 0}}));
  // The stored state keeps the last signal quality.
  EXPECT_EQ(gw.radio_state().bss_quality, 3u);

  sim().reset();
  taken_ = 0;
  Gateway nokeepalive(ED137RadioGWControl::ExtInit(0, 1));
  nokeepalive.SendASNToChan(rx_status(TERM::ED137RadioPTT::ptt_off, false, 0));
  nokeepalive.SendASNToChan(rx_status(TERM::ED137RadioPTT::ptt_off, false, 0));
  EXPECT_EQ(sent().size(), 2u);

  TERM::RadioStatus lemz;
  lemz.select_lemz();
  EXPECT_FALSE(nokeepalive.SendASNToChan(lemz));
}

TEST_F(ED137ControlTest, PeriodicReceiveReportGoesOnAfterATransmitCommand) {
  Gateway gw;
  gw.SetTimerInterval(1000);
  gw.SetTimerEnable(true);
  advance(1000);
  // Nothing from the controller yet: an empty receive state.
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x00, 0x00, 0, 0}}));
  gw.SendASNToChan(rx_status(TERM::ED137RadioPTT::ptt_off, true, 2));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x10, 0x80, 0, 0}}));
  advance(1000);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x10, 0x80, 0, 0}}));

  ASSERT_TRUE(gw.SendASNToChan(tx_modifier(TERM::ED137RadioPTT::coupling_ptt_on, 3)));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x40, 0xC0, 0, 0}}));  // once, as a tx extension
  EXPECT_EQ(gw.radio_state().content, kED137TxState);
  EXPECT_TRUE(gw.filter_set());
  EXPECT_EQ(gw.filter_addr(), addr("10.0.0.9"));
  // The receive report keeps the last receive state.
  advance(1000);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x10, 0x80, 0, 0}}));
  EXPECT_EQ(gw.rx_report().content, kED137RxState);
  // A status from the controller ends the transmit state.
  gw.SendASNToChan(rx_status(TERM::ED137RadioPTT::ptt_off, false, 2));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{0x00, 0x80, 0, 0}}));
  EXPECT_FALSE(gw.filter_set());
}

// A transmit command that does not reach the device is refused and leaves nothing behind: not
// the radio's state, not the holder's filter, and nothing written to a later session.
TEST_F(ED137ControlTest, TransmitCommandWithoutSessionIsRefusedAndDropped) {
  Gateway gw;
  sim().fail_open(board::sim::Device::rtp_ext, ENOENT);
  sim().hangup(board::sim::Device::rtp_ext);
  pump();
  ASSERT_LT(gw.ext_fd(), 0);
  EXPECT_FALSE(gw.SendASNToChan(tx_modifier(TERM::ED137RadioPTT::coupling_ptt_on, 3)));
  EXPECT_FALSE(gw.SendASNToChan(tx_modifier(TERM::ED137RadioPTT::normal_ptt_on, 5)));
  EXPECT_EQ(gw.radio_state().ptt, 0u);
  EXPECT_TRUE(gw.SendASNToChan(rx_status(TERM::ED137RadioPTT::ptt_off, true, 2)));  // carried by the report
  sim().fail_open(board::sim::Device::rtp_ext, 0);
  advance(1000);
  ASSERT_GE(gw.ext_fd(), 0);
  auto newest = [] { return std::prev(sim().rtp_ext().sessions().end())->second; };
  ASSERT_TRUE(newest().open);
  EXPECT_TRUE(newest().sent.empty());
  EXPECT_FALSE(gw.filter_set());
  EXPECT_TRUE(gw.SendASNToChan(tx_modifier(TERM::ED137RadioPTT::normal_ptt_on, 5)));
  EXPECT_EQ(newest().sent.back(), (Bytes{0x21, 0x40, 0, 0}));
  EXPECT_TRUE(gw.filter_set());

  // A write the device refuses (hung up, not yet seen by the loop): the PTT-off is refused, the
  // radio still transmits for its holder, and the next session is keyed for it at once.
  std::signal(SIGPIPE, SIG_IGN);  // as the daemon does
  sim().hangup(board::sim::Device::rtp_ext);
  EXPECT_FALSE(gw.SendASNToChan(tx_modifier(TERM::ED137RadioPTT::ptt_off, 5)));
  EXPECT_NE(gw.radio_state().ptt, 0u);
  pump();
  ASSERT_GE(gw.ext_fd(), 0);
  EXPECT_EQ(newest().sent, (std::deque<Bytes>{{0x21, 0x40, 0, 0}}));
  EXPECT_TRUE(gw.filter_set());
  // A session restarted for a codec change is keyed too; one for a radio let go is not.
  gw.RtpExtStop();
  ASSERT_TRUE(gw.RtpExtStart(false));
  EXPECT_EQ(newest().sent, (std::deque<Bytes>{{0x21, 0x40, 0, 0}}));
  EXPECT_TRUE(gw.SendASNToChan(tx_modifier(TERM::ED137RadioPTT::ptt_off, 5)));
  gw.RtpExtStop();
  ASSERT_TRUE(gw.RtpExtStart(false));
  EXPECT_TRUE(newest().sent.empty());
}

TEST_F(ED137ControlTest, TickWaitsForTheNextReport) {
  Gateway gw;
  const uint32_t t0 = Mux::milliseconds();
  EXPECT_EQ(gw.ProcessRadioStatus(t0 + 400, 1000), 610u);
  EXPECT_TRUE(sent().empty());
  EXPECT_EQ(gw.ProcessRadioStatus(t0 + 1000, 1000), 1000u);
  EXPECT_EQ(sent().size(), 1u);
}

}  // namespace
