// PSTN slot: the channel binding a trunk connection writes for each link kind, the switch
// outputs its channel feeds, the trunk state handed to an SS7 link, the statistics period and
// the SS7 ioctls.
#include "SignallingFixture.h"
#include "board/mcc.h"
#include "hardware/SwitchRoutes.h"
#include "links/SS7SLC.h"
#include "slots/PstnSlot.h"

namespace {

using namespace slotstest;
using Strings = std::vector<std::string>;
using R = LGCP::IoctlResponse;
using SLC = SS7::SLC;

LGCP::Signal trunk_status(int trunk, ACP::TrunkState::NamedNumber state, ACP::TrunkType::NamedNumber type) {
  LGCP::Signal s;
  auto& t = s.select_trunkStatus();
  t.set_trunk(trunk);
  t.set_state(state);
  t.set_type(type);
  return s;
}

PstnSlot* pstn(unsigned n) { return dynamic_cast<PstnSlot*>(Slots::instance()->Find(n)); }
using PstnSlotTest = SignallingTest;

TEST_F(PstnSlotTest, AnSs7LinkIsBoundToItsTrunkTimeslotAndHearsItsTrunkGoDownOnce) {
  send(create_trunk(1, 10, 1, 16));
  send(create_pstn_ss7(2, 11, 2));
  auto before = open_channels();
  send(connect_cmd(3, 10, 11));
  PstnSlot& p = *pstn(11);
  EXPECT_EQ(p.kind, PstnSlot::ss7);
  EXPECT_EQ(p.trunk, 1);
  EXPECT_EQ(p.hdlc->params.line, 1);
  EXPECT_EQ(p.hdlc->params.timeslot, 16);
  EXPECT_EQ(p.hdlc->params.tdm, 48);
  EXPECT_EQ(p.hdlc->params.mode, HDLC::mode_ss7);
  int ch = opened_since(before);
  ASSERT_GE(ch, 0);
  EXPECT_EQ(sw(48), "from " + std::to_string(ch));
  ASSERT_NE(p.slc, nullptr);
  EXPECT_NE(p.slc->state(), SLC::State::idle) << "the connection started the link";

  // Another trunk, and a basic-rate line of the same number, say nothing about this link.
  slots.OnSignal(trunk_status(0, ACP::TrunkState::lossCarrier, ACP::TrunkType::e1));
  slots.OnSignal(trunk_status(1, ACP::TrunkState::lossCarrier, ACP::TrunkType::bri));
  EXPECT_NE(p.slc->state(), SLC::State::idle);
  slots.OnSignal(trunk_status(1, ACP::TrunkState::lossCarrier, ACP::TrunkType::e1));
  EXPECT_EQ(p.slc->state(), SLC::State::idle);
  EXPECT_EQ(p.trunkState, ACP::TrunkState::lossCarrier);
  // Started again, the link does not hear the same state a second time.
  send(slot_command(4, 11, [](LGCP::Command& c) { c.select_activate().select_empty(); }));
  EXPECT_NE(p.slc->state(), SLC::State::idle);
  slots.OnSignal(trunk_status(1, ACP::TrunkState::lossCarrier, ACP::TrunkType::e1));
  EXPECT_NE(p.slc->state(), SLC::State::idle);
  slots.OnSignal(trunk_status(1, ACP::TrunkState::normal, ACP::TrunkType::e1));
  EXPECT_NE(p.slc->state(), SLC::State::idle);
}

// The controller channel feeds the trunk timeslot's output; whenever the link loses its
// connection or its channel, its input goes quiet at once and the output a short grace later
// (the link's last frames still leave through it), unless another slot has taken it over or
// the channel was given to a new link, which must not be heard on the old timeslot.
TEST_F(PstnSlotTest, ALinkThatGoesLeavesNoRouteOfItsChannel) {
  const unsigned grace = SwitchRoutes::kGraceMs;
  send(create_trunk(1, 10, 0, 20));
  send(create_pstn_ss7(2, 11, 1));
  send(connect_cmd(3, 10, 11));
  int first = opened_since({});
  ASSERT_GE(first, 0);
  EXPECT_EQ(sw(20), "from " + std::to_string(first));
  EXPECT_EQ(sw(first), "from 20");
  for (auto release : {LGCP::Command::e_disconnect, LGCP::Command::e_destroy}) {
    send(simple(4, 11, release));
    EXPECT_EQ(sw(first), "disabled") << release;
    EXPECT_EQ(sw(20), "from " + std::to_string(first)) << release;
    after(grace - 1);
    EXPECT_EQ(sw(20), "from " + std::to_string(first)) << release;
    after(1);
    EXPECT_EQ(sw(20), "disabled") << release;
    if (release == LGCP::Command::e_disconnect) send(connect_cmd(5, 10, 11));
  }
  // The channel is no other link's while the old one's output stands: the next link, on
  // another timeslot, gets another channel, and the old one is free once the output is down.
  send(create_pstn_isdn(7, 11, false, 1, false));
  send(connect_cmd(8, 10, 11));
  ASSERT_EQ(sw(20), "from " + std::to_string(first));
  send(simple(9, 11, LGCP::Command::e_destroy));
  send(create_trunk(10, 12, 0, 21));
  send(create_pstn_isdn(11, 13, false, 1, false));
  send(connect_cmd(12, 12, 13));
  const int second = opened_since({first});
  ASSERT_GE(second, 0);
  ASSERT_EQ(sw(21), "from " + std::to_string(second));
  EXPECT_EQ(sw(20), "from " + std::to_string(first));
  after(grace);
  EXPECT_EQ(sw(20), "disabled");
  EXPECT_EQ(open_channels(), std::vector<int>{second});
  EXPECT_EQ(sw(21), "from " + std::to_string(second));
  // Taken over by another slot since: left as it is.
  send(create_probe(13, 21, 400, 401));
  send(connect_cmd(14, 21, 12));
  send(simple(15, 13, LGCP::Command::e_destroy));
  after(grace);
  EXPECT_EQ(sw(21), "from 400");
  // A channel that fails.
  send(create_pstn_isdn(16, 11, false, 1, false));
  send(connect_cmd(17, 10, 11));
  EXPECT_NE(sw(20), "disabled");
  sim().hangup(board::sim::Device::mcc);
  settle(20);
  after(grace);
  EXPECT_EQ(sw(20), "disabled");
  EXPECT_EQ(SwitchRoutes::releasing(), 0u);
}

// A basic-rate link sends through its own sink, which is disconnected after the link went
// down: that output, too, carries the link's last frames until the grace is over, and is
// then set idle as a disconnected output is; whether the link's slot goes first or, when the
// controller goes, its trunk slot.
TEST_F(PstnSlotTest, ABasicRateLinkKeepsItsSinkForItsLastFrames) {
  send(create_trunk(1, 10, 1, 2, true));
  send(create_pstn_isdn(2, 11, true, 2, false));
  send(connect_cmd(3, 10, 11));
  send(connect_cmd(4, 11, 10));
  const int ch = opened_since({});
  ASSERT_GE(ch, 0);
  const int out = Slots::instance()->Find(10)->IGetReceiveChannel();
  ASSERT_EQ(sw(out), "from " + std::to_string(ch));
  send(simple(5, 11, LGCP::Command::e_destroy));
  EXPECT_EQ(sw(ch), "disabled");
  after(SwitchRoutes::kGraceMs - 1);
  EXPECT_EQ(sw(out), "from " + std::to_string(ch));
  after(1);
  EXPECT_EQ(sw(out), "idle");
  send(create_pstn_isdn(6, 11, true, 2, false));
  send(connect_cmd(7, 10, 11));
  send(connect_cmd(8, 11, 10));
  const int ch2 = opened_since({});
  ASSERT_EQ(sw(out), "from " + std::to_string(ch2));
  slots.OnDisconnect();
  EXPECT_EQ(sw(out), "from " + std::to_string(ch2));
  after(SwitchRoutes::kGraceMs);
  EXPECT_EQ(sw(out), "idle");
}

TEST_F(PstnSlotTest, ALinkOnASourceOutsideTheTrunksIsRefusedAndDeactivateStopsIt) {
  struct Row {
    int trunk, timeslot;
    const char* answer;
  } rows[] = {{-1, 0, "error 9"}, {4, 0, "error 9"}, {0, 32, "error 9"}, {3, 31, "success"}};
  int seq = 0;
  for (const Row& r : rows) {
    probes.prepare = [&](Probe& p) { p.trunk = r.trunk, p.timeslot = r.timeslot; };
    send(create_probe(++seq, 21, 500, 500));
    send(create_pstn_ss7(++seq, 11, 1));
    seen();
    send(connect_cmd(++seq, 21, 11));
    EXPECT_EQ(seen().answers, Strings{r.answer}) << r.trunk << "/" << r.timeslot;
  }
  ASSERT_NE(pstn(11)->slc->state(), SLC::State::idle);
  send(simple(++seq, 11, LGCP::Command::e_deactivate));
  auto got = seen();
  EXPECT_EQ(got.answers, Strings{"success"});
  EXPECT_EQ(pstn(11)->slc->state(), SLC::State::idle);
  EXPECT_EQ(std::count(got.other.begin(), got.other.end(), LGCP::Signal::e_deactivated), 1);
}

TEST_F(PstnSlotTest, Ss7IoctlsReachAnSs7LinkOnlyAndStatisticsComeEveryThreeSeconds) {
  send(create_pstn_ss7(1, 11, 1));
  send(create_pstn_isdn(2, 12, false, 1, false));
  seen();
  send(slot_command(3, 11, [](LGCP::Command& c) { c.select_ioctl().select_ss7RqBSN(); }));
  auto got = seen();
  EXPECT_EQ(got.answers, Strings{"success"});
  ASSERT_EQ(got.of(R::e_ss7BSN).size(), 1u);
  EXPECT_EQ(got.of(R::e_ss7BSN)[0].get_ss7BSN().getValue(), 127);
  send(slot_command(4, 11, [](LGCP::Command& c) {
    auto& l = c.select_ioctl().select_ss7Log();
    l.set_state(true);
    l.set_raw_receive(false);
    l.set_raw_transmit(true);
    l.set_mtp_transmit(false);
    l.set_mtp_receive(false);
    l.set_mtp_activate(false);
    l.set_timers(false);
    l.set_msu_processing(true);
  }));
  PstnSlot& s = *pstn(11);
  EXPECT_TRUE(s.slc->log.state && s.slc->log.raw_transmit && s.slc->log.msu_processing);
  EXPECT_FALSE(s.slc->log.raw_receive || s.slc->log.timers);
  send(slot_command(5, 12, [](LGCP::Command& c) { c.select_ioctl().select_ss7RqBSN(); }));
  EXPECT_EQ(seen().answers, (Strings{"success", "error 6"}));

  after(PstnSlot::kUpdateMs - 1);
  EXPECT_TRUE(seen().ioctls.empty());
  after(1);
  got = seen();
  EXPECT_EQ(got.of(R::e_hdlcLinkInfo).size(), 2u);
  EXPECT_EQ(got.of(R::e_ss7LinkInfo).size(), 1u);
  EXPECT_EQ(got.of(R::e_ss7LinkInfo)[0].get_ss7LinkInfo().get_ss7state().getValue(), 0);
  EXPECT_EQ(got.of(R::e_isdnLinkInfo).size(), 1u) << "the ISDN record goes when it changed";
  after(PstnSlot::kUpdateMs);
  got = seen();
  EXPECT_EQ(got.of(R::e_hdlcLinkInfo).size(), 2u);
  EXPECT_TRUE(got.of(R::e_isdnLinkInfo).empty());
}

TEST_F(PstnSlotTest, ABasicRateLinkStartsWhenBothDirectionsAreConnected) {
  send(create_trunk(1, 10, 2, 1, true));
  send(create_pstn_isdn(2, 11, true, 3, false));
  PstnSlot& p = *pstn(11);
  EXPECT_EQ(p.kind, PstnSlot::bri_user);
  EXPECT_TRUE(p.lapd->is_bri());
  auto before = open_channels();
  send(connect_cmd(3, 10, 11));
  EXPECT_EQ(open_channels(), before);
  EXPECT_EQ(p.hdlc->params.tdm, 9);
  send(connect_cmd(4, 11, 10));
  int ch = opened_since(before);
  ASSERT_GE(ch, 0);
  EXPECT_EQ(p.hdlc->params.tdm_tx, 9);
  EXPECT_EQ(p.hdlc->params.mode, HDLC::mode_bri);
  EXPECT_EQ(sim().hdlc_channel(ch)->type, board::mcc::kTypeBri);
  // userData is handed to the link whatever its state.
  send(user_data(5, 11, "\x08\x01\x01\x75"));
  EXPECT_EQ(p.lapd->out_queued(), 1u);
  send(simple(6, 11, LGCP::Command::e_destroy));
  after(SwitchRoutes::kGraceMs);  // kept while its output carries the link's last frames
  EXPECT_FALSE(sim().hdlc_channel(ch)->open);
}

TEST_F(PstnSlotTest, FlowChangesOfTheLinkAreReportedAndCasSlotsRunNoLink) {
  send(create_pstn_isdn(1, 11, false, 1, false));
  PstnSlot& p = *pstn(11);
  seen();
  p.lapd->change_flowstatus(ISDN::LAPD::FlowStatus::stopped);
  p.lapd->change_flowstatus(ISDN::LAPD::FlowStatus::flowing);
  auto st = seen().of(R::e_isdnLinkStatus);
  ASSERT_EQ(st.size(), 2u);
  EXPECT_EQ(st[0].get_isdnLinkStatus().getValue(), LGCP::IsdnLinkStatus::congested);
  EXPECT_EQ(st[1].get_isdnLinkStatus().getValue(), LGCP::IsdnLinkStatus::normal);

  send(slot_command(2, 12, [](LGCP::Command& c) { c.select_create().select_pstn().select_cas().set_trunk(1); }));
  PstnSlot& cas = *pstn(12);
  EXPECT_EQ(cas.link, nullptr);
  EXPECT_EQ(cas.layers(), 0u);
  send(user_data(3, 12, "x"));
  after(PstnSlot::kUpdateMs);
  auto got = seen();
  EXPECT_EQ(got.answers, (Strings{"success", "success"}));
  EXPECT_EQ(got.of(R::e_hdlcLinkInfo).size(), 2u);
}

}  // namespace
