// The LEMZ radio controllers on the simulated extension device and the loop's clock: received
// packets as reports, the controller's values as packets, the gateway's access rule and ticks.
#include <cstring>

#include "radio/LemzRadioGWControl.h"
#include "radio/LemzRadioWSControl.h"
#include "tests/radio/RadioControllerFixture.h"

namespace {

using namespace RTPSignalling;
using board::sim::Bytes;
using radiotest::addr;

class Gateway : public LemzRadioGWControl {
 public:
  Gateway() : LemzRadioGWControl(3, rtp_ext_attach_session_params{}, radiotest::lemz_init()) {}
  using LemzRadioGWControl::ProcessRadioStatus;
};

class Workstation : public LemzRadioWSControl {
 public:
  Workstation() : LemzRadioWSControl(4, rtp_ext_attach_session_params{}, radiotest::lemz_init()) {}
};

void set_flags(TERM::RadioFlags& f, int prio, bool ptt) {
  f.set_prio(prio);
  f.set_ptt(ptt);
}

TERM::RadioModifier modifier(const char* addr_text, uint32_t ssrc) {
  TERM::RadioModifier m;
  m.select_lemz().get_addr().set_session_addr(addr_text);
  m.select_lemz().get_addr().set_session_ssrc(ssrc);
  return m;
}

TERM::LemzRadioModifierParams& params_of(TERM::RadioModifier& m) { return m.select_lemz().get_params(); }
const TERM::LemzRadioModifierParams& params_of(const TERM::RtpRadioRequest& r) {
  return r.get_request().get_lemz().get_params();
}

// A received packet as the receive loop hands it over.
sig_proto packet(const Bytes& bytes, const char* from, uint32_t ssrc = 1) {
  sig_proto p;
  sig_proto_init(&p);
  EXPECT_EQ(sig_proto_unpack(&p, bytes.data(), bytes.size()), 0);
  p.src_addr = addr(from);
  p.src_ssrc = ssrc;
  return p;
}

class LemzControlTest : public radiotest::ControllerTest {};

TEST_F(LemzControlTest, WorkstationReportsTheLastPacketOfEachRun) {
  Workstation ws;
  ws.SetNotify(&notify);
  inject("10.0.0.5", 9, {129, 0x10, 0, 0});
  inject("10.0.0.5", 9, {129, 0x20, 0, 0});
  inject("10.0.0.5", 9, {129, 0x34, 0, 0});  // priority 3, push-to-talk
  pump();
  ASSERT_EQ(notify.requests.size(), 1u);
  const auto& flags = params_of(notify.requests[0]).get_wm_flags().get_flags();
  EXPECT_EQ(flags.get_prio().getValue(), 3);
  EXPECT_TRUE(flags.get_ptt());
  EXPECT_EQ(notify.requests[0].get_request().get_lemz().get_addr().get_session_addr(), "10.0.0.5");
  EXPECT_EQ(ws.chan_state().session_addr, addr("10.0.0.5"));

  // A new type ends the run: both are reported, in order. 132: channel 3 at 145.5, squelch on.
  inject("10.0.0.5", 9, {129, 0x50, 0, 0});
  inject("10.0.0.5", 9, {132, 0xF0, 0, 0, 0, 0, 0, 3, 0x43, 0x11, 0x80, 0, 2, 2, 0, 0});
  pump();
  ASSERT_EQ(notify.requests.size(), 3u);
  EXPECT_TRUE(params_of(notify.requests[1]).is_wm_flags());
  const auto& chan = params_of(notify.requests[2]).get_wm_chan();
  EXPECT_EQ(chan.get_freq().get_channel().getValue(), 3);
  EXPECT_EQ(chan.get_freq().get_frequency(), "145.500000");
  EXPECT_EQ(chan.get_squelshe().getValue(), TERM::RadioSquelshe::on);
  EXPECT_EQ(ws.chan_state().squelshe, 2);
  EXPECT_EQ(ws.stats().packets_decoded, 5u);

  inject("10.0.0.5", 9, {2, 0, 0, 0});
  pump();
  EXPECT_EQ(notify.requests.size(), 3u);
  EXPECT_EQ(static_cast<int>(ws.stats().last_unpack_error), kRadioCodecShort);  // counted and skipped
}

TEST_F(LemzControlTest, GatewayAccessFollowsTheHolderAndHigherPriority) {
  Gateway gw;
  gw.SetNotify(&notify);
  auto m = modifier("10.0.0.1", 11);
  auto& trans = params_of(m).select_wm_trans();
  set_flags(trans.get_flags(), 5, true);
  trans.set_ip("10.0.0.1");
  trans.set_ssrc(11);
  ASSERT_TRUE(gw.SendASNToChan(m));  // access to A at priority 5
  EXPECT_EQ(gw.radio_state().session_addr, addr("10.0.0.1"));
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_TRUE(gw.filter_set());
  EXPECT_EQ(gw.filter_addr(), addr("10.0.0.1"));

  gw.OnRtpProtoRXEvent(packet({GW_FLAG_PTT, 0xF4, 0, 0}, "10.0.0.2"));  // B, priority 15
  EXPECT_TRUE(notify.requests.empty());
  gw.OnRtpProtoRXEvent(packet({GW_FLAG_PTT, 0x30, 0, 0}, "10.0.0.2"));  // B, priority 3 without PTT
  EXPECT_TRUE(notify.requests.empty());
  gw.OnRtpProtoRXEvent(packet({GW_FLAG_PTT, 0x34, 0, 0}, "10.0.0.2"));  // B, priority 3 with PTT
  ASSERT_EQ(notify.requests.size(), 1u);
  EXPECT_TRUE(params_of(notify.requests[0]).is_gw_set_ptt());
  EXPECT_EQ(gw.chan_state().session_addr, addr("10.0.0.2"));
  gw.OnRtpProtoRXEvent(packet({GW_FLAG_BSS, 0xF0, 0x80, 0}, "10.0.0.1"));  // the holder
  ASSERT_EQ(notify.requests.size(), 2u);
  EXPECT_TRUE(params_of(notify.requests[1]).get_gw_set_bss().get_flags().get_bss());
  const auto& status = notify.requests[1].get_status().get_lemz();
  EXPECT_EQ(status.get_flags().get_prio().getValue(), 5);
  EXPECT_TRUE(status.get_flags().get_ptt());

  // A command the device does not take (no session) is refused and changes nothing: the radio
  // stays A's, and no later announcement carries C.
  sim().fail_open(board::sim::Device::rtp_ext, ENOENT);
  sim().hangup(board::sim::Device::rtp_ext);
  pump();
  ASSERT_LT(gw.ext_fd(), 0);
  auto other = modifier("10.0.0.3", 12);
  auto& take = params_of(other).select_wm_trans();
  set_flags(take.get_flags(), 2, true);
  take.set_ip("10.0.0.3");
  take.set_ssrc(12);
  EXPECT_FALSE(gw.SendASNToChan(other));
  EXPECT_EQ(gw.radio_state().session_addr, addr("10.0.0.1"));
  EXPECT_EQ(gw.radio_state().priority, 5);
  sim().fail_open(board::sim::Device::rtp_ext, 0);
  advance(1000);
  ASSERT_GE(gw.ext_fd(), 0);
  EXPECT_EQ(gw.filter_addr(), addr("10.0.0.1"));
}

TEST_F(LemzControlTest, FullStatusIsAnnouncedByTheTicks) {
  Gateway gw;
  gw.SetTimerEnable(true);
  TERM::RadioStatus st;
  auto& s = st.select_lemz();
  set_flags(s.get_flags(), 15, false);
  s.get_freq().set_channel(3);
  s.get_freq().set_frequency("145.5");
  s.get_remote().set_no(1);
  s.get_remote().set_ch(2);
  s.set_squelshe(TERM::RadioSquelshe::on);
  s.set_rte(TERM::RadioRTE::a1b);
  s.set_standby_state_channel(TERM::RadioStandby::active);
  s.set_standby_group(4);
  s.get_standby_state_receiver().setValue(-1);  // not in use: unknown
  ASSERT_TRUE(gw.SendASNToChan(st));
  EXPECT_TRUE(sent().empty());  // a full state sends nothing at once
  EXPECT_EQ(gw.radio_state().squelshe, 2);

  advance(1000);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{129, 0xF0, 0, 0},
                                        {132, 0xF0, 0, 0, 0, 0, 0, 3, 0x43, 0x11, 0x80, 0, 2, 2, 0, 0},
                                        {134, 0xF0, 0, 0, 1, 2, 0, 0}}));
  // With all three standby values known, WM_STANDBY joins; with PTT held, WM_TRANS replaces
  // WM_FLAG.
  s.set_standby_state_receiver(TERM::RadioStandby::standby);
  s.get_flags().set_ptt(true);
  gw.SendASNToChan(st);
  advance(1000);
  auto packets = sent();
  ASSERT_EQ(packets.size(), 4u);
  EXPECT_EQ(packets[0][0], WM_TRANS);
  EXPECT_EQ(packets[3], (Bytes{135, 0xF4, 0, 0, 0, 4, 1, 0}));
}

TEST_F(LemzControlTest, CommandsRestartTheirGroupAndTheTickWaitsForTheOldest) {
  Gateway gw;
  const uint32_t t0 = Mux::milliseconds();
  EXPECT_EQ(gw.ProcessRadioStatus(t0 + 400, 1000), 610u);
  EXPECT_TRUE(sent().empty());

  clock.advance(500);
  auto m = modifier("10.0.0.1", 1);
  auto& remote = params_of(m).select_wm_remote().get_remote();
  remote.set_no(7);
  remote.set_ch(8);
  ASSERT_TRUE(gw.SendASNToChan(m));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{134, 0xF0, 0, 0, 7, 8, 0, 0}}));  // the stored priority
  EXPECT_EQ(gw.group_stamp(2), t0 + 500);
  gw.ProcessRadioStatus(t0 + 1000, 1000);
  auto packets = sent();
  ASSERT_EQ(packets.size(), 2u);  // WM_FLAG and WM_CHAN; WM_SELECT_RC_CHAN is 500 ms old
  EXPECT_EQ(packets[0][0], WM_FLAG);
  EXPECT_EQ(packets[1][0], WM_CHAN);
  gw.ProcessRadioStatus(t0 + 1500, 1000);
  packets = sent();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0][0], WM_SELECT_RC_CHAN);
}

TEST_F(LemzControlTest, ModifierAlternativesAndPacketTypesMapBothWays) {
  Workstation ws;
  auto m = modifier("10.0.0.1", 1);
  set_flags(params_of(m).select_gw_set_sh().get_flags(), 2, false);
  params_of(m).select_gw_set_sh().get_flags().set_sh(true);
  ASSERT_TRUE(ws.SendASNToChan(m));
  EXPECT_EQ(sent(), (std::vector<Bytes>{{GW_FLAG_SH, 0x20, 0x20, 0}}));
  // A gateway packet is not something a workstation sends.
  set_flags(params_of(m).select_wm_flags().get_flags(), 2, false);
  ASSERT_TRUE(ws.SendASNToChan(m));
  EXPECT_TRUE(sent().empty());

  Gateway gw;
  gw.SetNotify(&notify);
  gw.OnRtpProtoRXEvent(packet({GW_FLAG_RV, 0xF0, 0x40, 0}, "10.0.0.3"));
  ASSERT_EQ(notify.requests.size(), 1u);
  EXPECT_TRUE(params_of(notify.requests[0]).is_gw_set_rv());
  EXPECT_EQ(gw.chan_state().rv, 1);

  // The other dialect's values are not taken and change nothing.
  TERM::RadioStatus ed;
  ed.select_ed_137().get_header().set_squ(TERM::ED137RadioSQU::squ_on);
  EXPECT_FALSE(gw.SendASNToChan(ed));
  EXPECT_EQ(gw.radio_state().sql, 0);
  EXPECT_TRUE(sent().empty());
}

TEST_F(LemzControlTest, UnknownAndOddValuesStillMakeAReport) {
  Workstation ws;
  ws.SetNotify(&notify);
  // Squelch 9 and RTE 200 have no name; the radio's own state is all unknown yet.
  ws.OnRtpProtoRXEvent(packet({132, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 9, 200, 0, 0}, "10.0.0.3"));
  ASSERT_EQ(notify.requests.size(), 1u);
  const auto& chan = params_of(notify.requests[0]).get_wm_chan();
  EXPECT_EQ(chan.get_squelshe().getValue(), TERM::RadioSquelshe::no_config);
  EXPECT_EQ(chan.get_rte().getValue(), TERM::RadioRTE::no_config);
  const auto& status = notify.requests[0].get_status().get_lemz();
  EXPECT_EQ(status.get_squelshe().getValue(), TERM::RadioSquelshe::no_config);
  EXPECT_EQ(status.get_standby_state_channel().getValue(), TERM::RadioStandby::active);
  EXPECT_EQ(status.get_standby_group().getValue(), 0u);
  // A standby state without a name goes as "active" ("not-use" does not encode).
  ws.OnRtpProtoRXEvent(packet({135, 0, 0, 0, 7, 255, 1, 0}, "10.0.0.3"));
  const auto& standby = params_of(notify.requests.at(1)).get_wm_standby();
  EXPECT_EQ(standby.get_state_channel().getValue(), TERM::RadioStandby::active);
  EXPECT_EQ(standby.get_group().getValue(), 255u);
  EXPECT_EQ(standby.get_state_receiver().getValue(), TERM::RadioStandby::standby);

  // A caller identity with bytes outside IA5 is reported with '?' in their place.
  Gateway gw;
  gw.SetNotify(&notify);
  gw.OnRtpProtoRXEvent(packet({GW_SEL_CALL, 0xF0, 0, 0, 3, 'A', 0xC3, 'B'}, "10.0.0.3"));
  ASSERT_EQ(notify.requests.size(), 3u);
  EXPECT_EQ(params_of(notify.requests[2]).get_gw_set_selcall().get_cid(), "A?B");
  EXPECT_EQ(std::strcmp(gw.chan_state().callerID, "A\xC3" "B"), 0);
}

TEST_F(LemzControlTest, QualityIsSentAsAFloatAndAHungUpSessionIsMadeAgain) {
  Gateway gw;
  gw.SetNotify(&notify);
  inject("10.0.0.3", 1, {GW_FLAG, 0xF0, 0, 0});
  pump();
  auto m = modifier("10.0.0.1", 1);
  params_of(m).select_wm_quality().set_bss_val("0.5");
  gw.SendASNToChan(m);
  EXPECT_EQ(sent(), (std::vector<Bytes>{{131, 0xF0, 0, 0, 0x3F, 0, 0, 0}}));

  ASSERT_GE(gw.watch().fd(), 0);
  const size_t sessions = sim().rtp_ext().sessions().size();
  sim().hangup(board::sim::Device::rtp_ext);
  pump();
  // The hung-up session is no longer watched (its end of file would wake the loop on every
  // pass): a new one is, and it hears the radio.
  EXPECT_EQ(sim().rtp_ext().sessions().size(), sessions + 1);
  ASSERT_GE(gw.watch().fd(), 0);
  EXPECT_EQ(notify.requests.size(), 1u);
  inject("10.0.0.3", 2, {GW_FLAG, 0xF0, 0, 0});
  pump();
  EXPECT_EQ(notify.requests.size(), 2u);
}

}  // namespace
