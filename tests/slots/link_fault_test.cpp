// Signalling links whose channel fails or whose activation gets none: the link layer stops at
// once, the controller hears "deactivated" once and the link's record says so; "activate"
// answers success only with a channel, and brings the link back on a new one.
#include "SignallingFixture.h"
#include "board/mcc.h"
#include "links/SS7SLC.h"
#include "slots/IsdnSlot.h"
#include "slots/PstnSlot.h"

namespace {

using namespace slotstest;
using Strings = std::vector<std::string>;
using board::sim::Device;
using SLC = SS7::SLC;

PstnSlot* pstn(unsigned n) { return dynamic_cast<PstnSlot*>(Slots::instance()->Find(n)); }
IsdnSlot* isdn(unsigned n) { return dynamic_cast<IsdnSlot*>(Slots::instance()->Find(n)); }

LGCP::Message activate_cmd(int seq, unsigned slot) {
  return slot_command(seq, slot, [](LGCP::Command& c) { c.select_activate().select_empty(); });
}

class LinkFaultTest : public SignallingTest {
 protected:
  // One frame from the far end on a controller channel.
  void far(int channel, const Bytes& frame) {
    ASSERT_TRUE(sim().hdlc_frame(channel, frame));
    settle();
  }
  static long deactivated(const Seen& s) { return std::count(s.other.begin(), s.other.end(), LGCP::Signal::e_deactivated); }
  static int lapd_state(const Seen& s) {
    auto info = s.of(LGCP::IoctlResponse::e_isdnLinkInfo);
    return info.empty() ? -1 : info.back().get_isdnLinkInfo().get_lapdState().getValue();
  }
  static int ss7_state(const Seen& s) {
    auto info = s.of(LGCP::IoctlResponse::e_ss7LinkInfo);
    return info.empty() ? -1 : info.back().get_ss7LinkInfo().get_ss7state().getValue();
  }
  // A primary-rate link on trunk 0 timeslot 16, established with the far end: its channel.
  int pri_link_up() {
    send(create_trunk(1, 10, 0, 16));
    send(create_pstn_isdn(2, 11, false, 1, false));
    auto before = open_channels();
    send(connect_cmd(3, 10, 11));
    int ch = opened_since(before);
    EXPECT_GE(ch, 0);
    settle();
    far(ch, {0x02, 0x01, 0x73});  // UA, F = 1
    EXPECT_EQ(pstn(11)->lapd->full_state().state, 6u);
    seen();
    return ch;
  }
  // An SS7 link on trunk 1 timeslot 16, in service: its channel.
  int ss7_link_up() {
    send(create_trunk(1, 10, 1, 16));
    send(create_pstn_ss7(2, 11, 2));
    auto before = open_channels();
    send(connect_cmd(3, 10, 11));
    int ch = opened_since(before);
    EXPECT_GE(ch, 0);
    far(ch, {0xFF, 0xFF, 0x01, SLC::SIN});
    far(ch, {0xFF, 0xFF, 0x00});
    EXPECT_EQ(pstn(11)->slc->state(), SLC::State::worked);
    seen();
    return ch;
  }
};

// A re-activation the board refuses (no channel, no route) leaves no link believed up: the
// link layer stops at once and says so once, and no timer of it says so again later.
TEST_F(LinkFaultTest, ARefusedReactivationTakesThePrimaryRateLinkOutOfServiceOnce) {
  struct Refusal {
    Device device;
    unsigned count;
  } refusals[] = {{Device::mcc, 1}, {Device::hal, 2}};
  for (const Refusal& r : refusals) {
    int ch = pri_link_up();
    sim().fail_next(r.device, EIO, r.count);
    send(activate_cmd(4, 11));
    auto got = seen();
    EXPECT_EQ(got.answers, Strings{"error 6"});
    EXPECT_EQ(deactivated(got), 1);
    EXPECT_EQ(lapd_state(got), ACP::LAPDState::tei_assigned);
    EXPECT_EQ(pstn(11)->lapd->out_queued(), 0u);
    EXPECT_FALSE(pstn(11)->hdlc->is_open());
    after(20000);
    EXPECT_EQ(deactivated(seen()), 0) << "said once";
    EXPECT_FALSE(sim().hdlc_channel(ch)->open) << "given back after the grace for its last frames";

    // The fault cleared, activation gets a channel and the link establishes on it.
    auto before = open_channels();
    send(activate_cmd(5, 11));
    EXPECT_EQ(seen().answers, Strings{"success"});
    int next = opened_since(before);
    ASSERT_GE(next, 0);
    EXPECT_EQ(sim().frames_sent(next).back(), (Bytes{0x00, 0x01, 0x7F})) << "SABME";
    far(next, {0x02, 0x01, 0x73});
    auto up = seen();
    EXPECT_EQ(std::count(up.other.begin(), up.other.end(), LGCP::Signal::e_activated), 1);
    EXPECT_EQ(lapd_state(up), ACP::LAPDState::multiple_frame_established);
    send(simple(6, 11, LGCP::Command::e_destroy));
    send(simple(7, 10, LGCP::Command::e_destroy));
    seen();
  }
}

TEST_F(LinkFaultTest, ARefusedReactivationTakesTheSs7LinkOutOfServiceOnce) {
  int ch = ss7_link_up();
  sim().fail_next(Device::mcc, EIO, 1);
  send(activate_cmd(4, 11));
  auto got = seen();
  EXPECT_EQ(got.answers, Strings{"error 6"});
  EXPECT_EQ(deactivated(got), 1);
  EXPECT_EQ(ss7_state(got), ACP::SS7State::idle);
  after(PstnSlot::kUpdateMs);
  EXPECT_FALSE(sim().hdlc_channel(ch)->open);
  got = seen();
  EXPECT_EQ(ss7_state(got), ACP::SS7State::idle) << "every later record too";
  EXPECT_EQ(deactivated(got), 0);

  // Without a channel an activation is refused each time, and heard each time.
  sim().fail_next(Device::mcc, EIO, 1);
  send(activate_cmd(5, 11));
  got = seen();
  EXPECT_EQ(got.answers, Strings{"error 6"});
  EXPECT_EQ(deactivated(got), 1);

  auto before = open_channels();
  send(activate_cmd(6, 11));
  EXPECT_EQ(seen().answers, Strings{"success"});
  int next = opened_since(before);
  ASSERT_GE(next, 0);
  far(next, {0xFF, 0xFF, 0x01, SLC::SIN});
  far(next, {0xFF, 0xFF, 0x00});
  EXPECT_EQ(pstn(11)->slc->state(), SLC::State::worked);
}

// A channel that fails under an established link: "deactivated" now, not after T203 and N200
// polls and SABMEs; the messages it held are gone with the calls layer 3 rebuilds.
TEST_F(LinkFaultTest, APrimaryRateLinkWhoseChannelFailsIsReportedDownAtOnce) {
  int ch = pri_link_up();
  send(user_data(4, 11, std::string("\x08\x02\x00\x01\x75", 5)));
  ASSERT_TRUE(sim().hangup_channel(ch));
  settle(20);
  auto got = seen();
  EXPECT_EQ(deactivated(got), 1);
  EXPECT_EQ(lapd_state(got), ACP::LAPDState::tei_assigned);
  after(20000);
  EXPECT_EQ(deactivated(seen()), 0);
  send(activate_cmd(5, 11));
  EXPECT_EQ(seen().answers, Strings{"success"});
}

// An ISDN or ATS-QSIG slot that lost its channel: its link goes at once, and "activate" asks
// for a new channel, answering success only with one.
TEST_F(LinkFaultTest, AnIsdnSlotThatLostItsChannelTakesANewOneOnActivation) {
  struct Kind {
    LGCP::Message create;
    Device device;
  } kinds[] = {{create_isdn(1, 30, false, 1, false), Device::mcc}, {create_ats_qsig(1, 30), Device::dspdata}};
  for (Kind& k : kinds) {
    send(k.create);
    IsdnSlot& s = *isdn(30);
    const int old = s.channel;
    send(activate_cmd(2, 30));
    settle();
    far(old, {0x02, 0x01, 0x73});
    ASSERT_EQ(s.lapd->full_state().state, 6u);
    seen();
    sim().hangup(k.device);
    settle(20);
    auto got = seen();
    EXPECT_EQ(deactivated(got), 1);
    EXPECT_EQ(lapd_state(got), ACP::LAPDState::tei_assigned);
    EXPECT_EQ(s.IGetTransmitChannel(), -1);
    after(20000);
    EXPECT_EQ(deactivated(seen()), 0) << "said once";

    sim().fail_next(k.device, EIO, 1);
    send(activate_cmd(3, 30));
    EXPECT_EQ(seen().answers, Strings{"error 6"});
    EXPECT_EQ(s.IGetTransmitChannel(), -1);
    EXPECT_EQ(s.lapd->full_state().state, 3u);

    send(activate_cmd(4, 30));
    EXPECT_EQ(seen().answers, Strings{"success"});
    ASSERT_GE(s.IGetTransmitChannel(), 0);
    settle();
    EXPECT_EQ(sim().frames_sent(s.channel).back(), (Bytes{0x00, 0x01, 0x7F})) << "SABME on the new channel";
    far(s.channel, {0x02, 0x01, 0x73});
    EXPECT_EQ(s.lapd->full_state().state, 6u);
    auto up = seen();
    EXPECT_EQ(std::count(up.other.begin(), up.other.end(), LGCP::Signal::e_activated), 1);
    send(simple(5, 30, LGCP::Command::e_destroy));
    settle();
    seen();
  }
}

}  // namespace
