// ISDN::LAPD (user side) against a scripted peer: frames in through receive, frames out through a
// recording channel, time through the fake clock.
#include "LinkTest.h"
#include "asn1/schemas/ACP.h"
#include "links/LAPD.h"

namespace {

using namespace linktest;
using ISDN::LAPD;
using ISDN::Side;

// Frames of the network side as the user side receives them (TEI 0): commands C/R 1.
Bytes net_I(unsigned ns, unsigned nr, bool p) { return {0x02, 0x01, uint8_t(ns << 1), uint8_t(nr << 1 | p), 0x08, 0x01, 0x01, 0x05}; }
Bytes net_S(int type, unsigned nr, bool pf, bool command = false) {
  return {uint8_t(command ? 0x02 : 0x00), 0x01, uint8_t(type << 2 | 1), uint8_t(nr << 1 | pf)};
}
Bytes net_U(uint8_t code, bool pf, bool command = false) {
  return {uint8_t(command ? 0x02 : 0x00), 0x01, uint8_t(code | (pf ? 0x10 : 0))};
}
enum : uint8_t { kSABME = 0x6F, kDISC = 0x43, kUA = 0x63, kDM = 0x0F, kFRMR = 0x87 };
// What the user side sends: commands C/R 0, responses C/R 1.
const Bytes SABME{0x00, 0x01, 0x7F}, DISC{0x00, 0x01, 0x53}, UA{0x02, 0x01, 0x73}, DM{0x02, 0x01, 0x1F};
Bytes RRcmd(unsigned vr) { return {0x00, 0x01, 0x01, uint8_t(vr << 1 | 1)}; }
Bytes RRresp(unsigned vr, bool f) { return {0x02, 0x01, 0x01, uint8_t(vr << 1 | f)}; }
const Bytes kMsg{0x08, 0x01, 0x01, 0x05};

class LapdTest : public LoopTest {
 protected:
  void SetUp() override {
    link = new LAPD(Side::user, 4);
    link->device = &ch;
    owner.add_protocol_tail(link);
  }
  void rx(const Bytes& f) { Packet p = packet_of(f); link->receive(p); }
  void send(const Bytes& msg) { Packet p = packet_of(msg); link->message(p); }
  // Takes a new link to one of the states 3 to 7 through its own operations.
  void reach(unsigned state) {
    if (state >= 4) link->activate();
    if (state >= 5) rx(net_U(kUA, true));
    if (state == 5) link->deactivate();
    if (state == 7) advance(LAPD::kT203);
    ASSERT_EQ(st().state, state);
    ch.take();
    owner.clear();
  }
  ISDN::LAPDFullState const& st() const { return link->full_state(); }
  std::vector<int> sent_ns() { return ns_of(ch.take()); }  // since the last look
  Channel ch;
  Owner owner;
  LAPD* link = nullptr;
};

enum Ev { Frame, Establish, Release, Remove, T200, T203, ChannelLost };
// From a state, an event given `times` times: the state reached, the frames sent, the release
// and error reports, the activations reported.
struct Row { unsigned from; Ev ev; Bytes frame; int times; unsigned to; Frames sent; std::string released, errors; int activated; };

class LapdStates : public LapdTest, public ::testing::WithParamInterface<Row> {};

TEST_P(LapdStates, Transition) {
  const Row& r = GetParam();
  reach(r.from);
  for (int i = 0; i < r.times; ++i) {
    switch (r.ev) {
      case Frame: rx(r.frame); break;
      case Establish: link->activate(); break;
      case Release: link->deactivate(); break;
      case Remove: link->mdl_remove(); break;
      case T200: advance(LAPD::kT200); break;
      case T203: advance(LAPD::kT203); break;
      case ChannelLost: link->on_hdlc_error(HDLC::Notify::Cause::read_error); break;
    }
  }
  EXPECT_EQ(st().state, r.to);
  EXPECT_EQ(ch.take(), r.sent);
  EXPECT_EQ(owner.released, r.released);
  EXPECT_EQ(owner.statuses, r.errors);
  EXPECT_EQ(owner.activated, r.activated);
}

const std::string kReinit = "Peer initiated re-establishment - SABME|", kUnknown = "Other - Unknown|",
                  kDmRx = "error (DM received)|", kDisc = "remote error (DISC received)|",
                  kLocal = "success (deactivated locally)|", kRemoved = "error (MDL-REMOVE received)|",
                  kFrmr = "Other - Receipt of FRMR response|", kN200 = "link error (T200 expired N200 times)|",
                  kLost = "link error (channel failed)|";

INSTANTIATE_TEST_SUITE_P(
    Table, LapdStates,
    ::testing::Values(
        // SABME command, P = 1
        Row{3, Frame, net_U(kSABME, true, true), 1, 6, {UA}, "", "", 1},
        Row{4, Frame, net_U(kSABME, true, true), 1, 4, {UA}, "", "", 0},
        Row{5, Frame, net_U(kSABME, true, true), 1, 5, {DM}, "", "", 0},
        Row{6, Frame, net_U(kSABME, true, true), 1, 6, {UA}, "", kReinit, 1},
        Row{7, Frame, net_U(kSABME, true, true), 1, 6, {UA}, "", kReinit, 1},
        // DISC command, P = 1
        Row{3, Frame, net_U(kDISC, true, true), 1, 3, {DM}, "", "", 0},
        Row{4, Frame, net_U(kDISC, true, true), 1, 4, {DM}, "", "", 0},
        Row{5, Frame, net_U(kDISC, true, true), 1, 5, {UA}, "", "", 0},
        Row{6, Frame, net_U(kDISC, true, true), 1, 3, {UA}, kDisc, "", 0},
        Row{7, Frame, net_U(kDISC, true, true), 1, 3, {UA}, kDisc, "", 0},
        // UA response
        Row{3, Frame, net_U(kUA, true), 1, 3, {}, "", kUnknown, 0},
        Row{4, Frame, net_U(kUA, true), 1, 6, {}, "", "", 1},
        Row{4, Frame, net_U(kUA, false), 1, 4, {}, "", "UA (F = 0)|", 0},
        Row{5, Frame, net_U(kUA, true), 1, 3, {}, "success (UA received)|", "", 0},
        Row{5, Frame, net_U(kUA, false), 1, 5, {}, "", "UA (F = 0)|", 0},
        Row{6, Frame, net_U(kUA, true), 1, 6, {}, "", kUnknown, 0},
        Row{7, Frame, net_U(kUA, false), 1, 7, {}, "", kUnknown, 0},
        // DM response, F = 1 and F = 0
        Row{3, Frame, net_U(kDM, true), 1, 3, {}, "", "", 0},
        Row{4, Frame, net_U(kDM, true), 1, 3, {}, kDmRx, "", 0},
        Row{5, Frame, net_U(kDM, true), 1, 3, {}, kDmRx, "", 0},
        Row{6, Frame, net_U(kDM, true), 1, 6, {}, "", "DM (F = 1)|", 0},
        Row{7, Frame, net_U(kDM, true), 1, 4, {SABME}, "", "DM (F = 1)|", 0},
        Row{3, Frame, net_U(kDM, false), 1, 4, {SABME}, "", "", 0},
        Row{4, Frame, net_U(kDM, false), 1, 4, {}, "", "", 0},
        Row{5, Frame, net_U(kDM, false), 1, 5, {}, "", "", 0},
        Row{6, Frame, net_U(kDM, false), 1, 4, {SABME}, "", "Receipt of DM response (F = 0)|", 0},
        Row{7, Frame, net_U(kDM, false), 1, 4, {SABME}, "", "Receipt of DM response (F = 0)|", 0},
        // FRMR response
        Row{4, Frame, net_U(kFRMR, false), 1, 4, {}, "", "", 0},
        Row{6, Frame, net_U(kFRMR, false), 1, 4, {SABME}, "", kFrmr, 0},
        Row{7, Frame, net_U(kFRMR, true), 1, 4, {SABME}, "", kFrmr, 0},
        // Supervisory frames in timer recovery: only a response with F = 1 ends it.
        Row{7, Frame, net_S(0, 0, false), 1, 7, {}, "", "", 0},
        Row{7, Frame, net_S(0, 0, true, true), 1, 7, {RRresp(0, true)}, "", "", 0},
        Row{7, Frame, net_S(1, 0, true), 1, 6, {}, "", "", 0},
        Row{7, Frame, net_S(0, 0, true), 1, 6, {}, "", "", 0},
        Row{6, Frame, net_S(1, 0, true), 1, 6, {}, "", "Supervisory (F = 1)|", 0},
        Row{6, Frame, net_S(0, 0, true, true), 1, 6, {RRresp(0, true)}, "", "", 0},
        Row{3, Frame, net_S(0, 0, true, true), 1, 3, {}, "", "", 0},
        // DL-ESTABLISH, DL-RELEASE and MDL-REMOVE requests
        Row{3, Establish, {}, 1, 4, {SABME}, "", "", 0},
        Row{4, Establish, {}, 1, 4, {}, "", "", 0},
        Row{5, Establish, {}, 1, 5, {}, "", "", 0},
        Row{6, Establish, {}, 1, 4, {SABME}, "", "", 0},
        Row{7, Establish, {}, 1, 4, {SABME}, "", "", 0},
        Row{3, Release, {}, 1, 3, {}, kLocal, "", 0},
        Row{4, Release, {}, 1, 3, {DISC}, kLocal, "", 0},
        Row{5, Release, {}, 1, 5, {}, "", "", 0},
        Row{6, Release, {}, 1, 5, {DISC}, "", "", 0},
        Row{7, Release, {}, 1, 5, {DISC}, "", "", 0},
        Row{3, Remove, {}, 1, 0, {}, "", "", 0},
        Row{4, Remove, {}, 1, 0, {}, kRemoved, "", 0},
        Row{5, Remove, {}, 1, 0, {}, kRemoved, "", 0},
        Row{6, Remove, {}, 1, 0, {}, kRemoved, "", 0},
        Row{7, Remove, {}, 1, 0, {}, kRemoved, "", 0},
        // A failed channel releases the link at once, reported unless it was released already.
        Row{3, ChannelLost, {}, 1, 3, {}, "", "", 0},
        Row{4, ChannelLost, {}, 1, 3, {}, kLost, "", 0},
        Row{5, ChannelLost, {}, 1, 3, {}, kLost, "", 0},
        Row{6, ChannelLost, {}, 1, 3, {}, kLost, "", 0},
        Row{7, ChannelLost, {}, 1, 3, {}, kLost, "", 0},
        // Timers: N200 repetitions, then the link gives up.
        Row{4, T200, {}, 3, 4, {SABME, SABME, SABME}, "", "", 0},
        Row{4, T200, {}, 4, 3, {SABME, SABME, SABME}, kN200, "Unsuccessful retransmission (N200 times) - SABME|", 0},
        Row{5, T200, {}, 4, 3, {DISC, DISC, DISC}, kN200, "Unsuccessful retransmission (N200 times) - DISC|", 0},
        Row{6, T203, {}, 1, 7, {RRcmd(0)}, "", "", 0},
        Row{7, T200, {}, 3, 7, {RRcmd(0), RRcmd(0), RRcmd(0)}, "", "", 0},
        Row{7, T200, {}, 4, 4, {RRcmd(0), RRcmd(0), RRcmd(0), SABME}, "",
            "Unsuccessful retransmission (N200 times) - Status enquiry|", 0}));

TEST_F(LapdTest, ExchangeWindowAndRetransmission) {
  reach(6);
  send(kMsg);
  ASSERT_EQ(ch.take(), (Frames{{0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05}}));
  rx(net_I(0, 1, false));
  EXPECT_EQ(owner.messages, Frames{kMsg});
  EXPECT_EQ(ch.take(), Frames{RRresp(1, false)}) << "the pending acknowledgement";
  EXPECT_EQ(link->ack_queued(), 0u);
  // The eighth of eight waits for the window; an unsolicited UA changes nothing.
  for (uint8_t i = 1; i <= 8; ++i) send({0x08, 0x01, i, 0x05});
  EXPECT_EQ(sent_ns(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  rx(net_U(kUA, true));
  EXPECT_EQ(unsigned(st().vs), 8u);
  EXPECT_EQ(link->ack_queued(), 7u);
  rx(net_S(0, 2, false));  // two acknowledged: the eighth goes
  EXPECT_EQ(sent_ns(), std::vector<int>{8});
  rx(net_S(2, 6, false));  // REJ from 6: frames 6, 7, 8 again, in order
  EXPECT_EQ(sent_ns(), (std::vector<int>{6, 7, 8}));
  // No answer: T200 polls; the answer with N(R) 8 makes frame 8 go again.
  advance(LAPD::kT200);
  EXPECT_EQ(ch.take(), Frames{RRcmd(1)});
  rx(net_S(0, 8, true));
  EXPECT_EQ(st().state, 6u);
  EXPECT_EQ(sent_ns(), std::vector<int>{8});
  EXPECT_EQ(link->statistics.retrains, 4u);
  // Peer busy holds new frames until an RR clears it.
  rx(net_S(1, 9, false));
  send(kMsg);
  EXPECT_TRUE(ch.take().empty());
  rx(net_S(0, 9, false));
  EXPECT_EQ(ch.take().size(), 1u);
}

// The link's timers run on the loop's clock: steps of the time of day neither fire T203 early
// nor hold it back, and the link stays established.
// Once its channel fails, an established link keeps nothing to send, runs no timer (no poll,
// no SABME), lets layer 3 send again and says so once; an activation on a new channel
// establishes it from scratch.
TEST_F(LapdTest, AFailedChannelTakesTheLinkOutOfServiceAtOnce) {
  reach(6);
  for (uint8_t i = 1; i <= 100; ++i) send({0x08, 0x01, i, 0x05});
  ASSERT_EQ(link->flowStatus, LAPD::FlowStatus::stopped);
  ch.take();
  link->on_hdlc_error(HDLC::Notify::Cause::read_error);
  EXPECT_EQ(owner.released, kLost);
  EXPECT_EQ(owner.statuses, "") << "no timer misuse reported";
  EXPECT_EQ(st().state, 3u);
  EXPECT_EQ(link->out_queued(), 0u);
  EXPECT_EQ(link->ack_queued(), 0u);
  EXPECT_FALSE(st().t200run || st().t202run || st().t203run);
  EXPECT_EQ(link->flowStatus, LAPD::FlowStatus::flowing);
  advance(LAPD::kT203 * 3);
  EXPECT_EQ(ch.take(), Frames{});
  EXPECT_EQ(owner.releases(), 1);
  link->on_hdlc_error(HDLC::Notify::Cause::no_channel);
  EXPECT_EQ(owner.releases(), 1) << "released already";

  link->activate();
  EXPECT_EQ(ch.take(), Frames{SABME});
  rx(net_U(kUA, true));
  EXPECT_EQ(st().state, 6u);
  send(kMsg);
  EXPECT_EQ(sent_ns(), std::vector<int>{0}) << "numbering starts again";

  link->on_hdlc_error(HDLC::Notify::Cause::no_channel);
  EXPECT_EQ(owner.released, kLost + "link error (no channel)|");
}

TEST_F(LapdTest, StepsOfTheTimeOfDayLeaveT203ItsPeriod) {
  reach(6);
  for (int64_t step : {3LL * 3600 * 1000, 400LL * 86400 * 1000, -20LL * 1000, -60LL * 1000}) {
    advance(LAPD::kT203 / 2);
    clock_.step_time_of_day(step);
    pass();
    EXPECT_TRUE(ch.take().empty()) << step;
    advance(LAPD::kT203 / 2 - 1);
    EXPECT_TRUE(ch.take().empty()) << step;
    advance(1);
    EXPECT_EQ(ch.take(), Frames{RRcmd(0)}) << step;
    rx(net_S(0, 0, true));
    EXPECT_EQ(st().state, 6u) << step;
  }
  EXPECT_EQ(owner.releases(), 0);
}

// V(A) 124 and V(S) 3: N(R) 124 to 3 (across the wrap) are valid; 4 and 123 are N(R) errors.
TEST_F(LapdTest, NrCheckAcrossTheWrap) {
  reach(6);
  for (unsigned nr : {126u, 3u, 124u, 4u, 123u}) {
    bool valid = nr != 4 && nr != 123;
    rx(st().state == 6 ? net_U(kSABME, true, true) : net_U(kUA, true));  // V(S) = V(A) = 0 again
    for (unsigned i = 0; i < 124; ++i) {
      send(kMsg);
      rx(net_S(0, (i + 1) & 127, false));
    }
    for (int i = 0; i < 7; ++i) send(kMsg);
    ASSERT_EQ(unsigned(st().vs), 3u);
    owner.clear();
    rx(net_S(0, nr, false));
    EXPECT_EQ(st().state, valid ? 6u : 4u) << nr;
    EXPECT_EQ(owner.has_status("Other - N(R) error"), !valid) << nr;
    EXPECT_EQ(unsigned(st().va), valid ? nr : 124u) << nr;
  }
}

// One REJ for a gap, RR for a later poll, the exception cleared in sequence; malformed frames
// and I or S frames cut before their N(R) octet go unanswered.
TEST_F(LapdTest, OutOfSequenceAndMalformedFrames) {
  reach(6);
  for (const Bytes& f : {net_I(1, 0, false), net_I(2, 0, false), net_I(2, 0, true), net_I(0, 0, false)}) rx(f);
  EXPECT_EQ(ch.take(), (Frames{{0x02, 0x01, 0x09, 0x00}, RRresp(0, true), RRresp(1, false)}));
  EXPECT_FALSE(st().rejException);
  EXPECT_EQ(link->statistics.rejected, 3u);
  EXPECT_EQ(owner.messages.size(), 1u);
  send(kMsg);
  ch.take();
  for (const Bytes& f : {Bytes{0x00, 0x01, 0x09}, Bytes{0x02, 0x01, 0x02}, Bytes{0x01, 0x01, 0x01, 0x02},
                         Bytes{0x00, 0x00, 0x01, 0x02}, Bytes{0x00}})
    rx(f);
  EXPECT_TRUE(ch.take().empty());
  EXPECT_EQ(link->ack_queued(), 1u);
  EXPECT_EQ(unsigned(st().vr), 1u);
}

TEST_F(LapdTest, QueueLimitsFlowStatusAndInfo) {
  struct Flow : LAPD::Notify {
    std::vector<int> changes;
    void OnLAPD_FlowStatusChange(LAPD* l) override { changes.push_back(l->flowStatus); }
  } flow;
  link->notify = &flow;
  link->traceLevel = 0;
  ACP::IsdnLinkInfo info;
  EXPECT_TRUE(link->GetInfo(info));
  EXPECT_FALSE(link->GetInfo(info)) << "nothing changed";
  for (int i = 0; i < 129; ++i) send(kMsg);
  EXPECT_EQ(link->out_queued(), 128u);
  EXPECT_EQ(link->statistics.outOverflows, 1u);
  EXPECT_NE(log().find("discard outgoing message: buffer overflow"), std::string::npos);
  EXPECT_EQ(flow.changes, (std::vector<int>{1}));
  send({});
  EXPECT_EQ(link->statistics.txEmpty, 1u);
  // Once up, the queue drains seven at a time; below 65 waiting the flow resumes.
  link->activate();
  rx(net_U(kUA, true));
  for (unsigned nr = 7; link->out_queued() >= 65; nr = (nr + 7) & 127) rx(net_S(0, nr, false));
  EXPECT_EQ(flow.changes, (std::vector<int>{1, 0}));
  EXPECT_TRUE(link->GetInfo(info));
  EXPECT_EQ(info.get_lapdState().asNamedNumber(), ACP::LAPDState::multiple_frame_established);
  EXPECT_EQ(info.get_queueOut().getValue(), int(link->out_queued()));
  // A counter past 2^31 is reported as the unsigned number it is.
  link->statistics.txMessages = 0xFFFFFFFFu;
  EXPECT_TRUE(link->GetInfo(info));
  EXPECT_EQ(info.get_msuTxCount().getNumber(), 4294967295);
}

// A refusing channel or an empty packet pool keeps I frames queued until they can go; an
// acknowledgement that could not be sent stays owed.
TEST_F(LapdTest, RefusalsAndAnEmptyPacketPoolKeepFramesQueued) {
  reach(6);
  ch.full = true;
  send(kMsg);
  EXPECT_EQ(link->out_queued(), 1u);
  EXPECT_NE(log().find("tx full"), std::string::npos);
  ch.full = false;
  link->on_hdlc_ready();
  EXPECT_EQ(ch.take().size(), 1u);
  rx(net_S(0, 1, false));
  Packet m = packet_of(kMsg), in = packet_of(net_I(0, 1, false));
  {
    PoolHog hog;
    link->message(m);  // the caller still holds it: no buffer for the header copy
    EXPECT_EQ(link->out_queued(), 1u);
    EXPECT_NO_THROW(link->receive(in));  // delivered; its RR finds no buffer
    EXPECT_TRUE(st().ackRQ);
  }
  link->on_hdlc_ready();
  EXPECT_EQ(ch.take(), (Frames{{0x00, 0x01, 0x02, 0x02, 0x08, 0x01, 0x01, 0x05}})) << "the I frame carries the ack";
}

// ---------------------------------------------------------------- basic rate, user side

class BriUserTest : public LapdTest {
 protected:
  void SetUp() override {
    LapdTest::SetUp();
    link->change_to_bri();
    link->mdl_remove();
    ch.take();
  }
  Bytes request() const { return mgmt(link->ri(), 1, 127); }
};

TEST_F(BriUserTest, EstablishThroughAssignmentAndTeiFiltering) {
  link->activate();
  EXPECT_EQ(st().state, 1u);
  EXPECT_EQ(ch.take(), Frames{request()});
  link->activate();  // DL-ESTABLISH again while waiting: establish as soon as assigned
  EXPECT_EQ(st().state, 2u);
  rx(net_mgmt(static_cast<uint16_t>(link->ri() + 1), 2, 66));
  EXPECT_EQ(st().state, 2u) << "another terminal's Ri";
  rx(net_mgmt(link->ri(), 2, 66));
  EXPECT_EQ(st().state, 4u);
  EXPECT_EQ(ch.take(), (Frames{{0x00, 0x85, 0x7F}}));
  rx({0x00, 0x0B, 0x73});  // UA for TEI 5: not ours
  EXPECT_EQ(st().state, 4u);
  rx({0x00, 0x85, 0x73});
  EXPECT_EQ(st().state, 6u);
  // A check for all TEIs is answered with our TEI; a removal for all starts over.
  rx(net_mgmt(0, 4, 127));
  EXPECT_EQ(ch.take(), Frames{mgmt(link->ri(), 5, 66)});
  rx(net_mgmt(0, 6, 127));
  EXPECT_EQ(st().state, 1u);
  EXPECT_EQ(owner.released, "error (MDL-REMOVE received)|");
  EXPECT_EQ(ch.take(), Frames{request()});
}

// Data handed down without a TEI asks for one; a denial is reported and the request repeated
// on T202; after four repeats the link gives up.
// A terminal waiting for its TEI when the channel fails stops asking (T202 stopped) and has
// no TEI to keep; the next activation asks again.
TEST_F(BriUserTest, AChannelLostWhileWaitingForATeiStopsTheRequests) {
  link->activate();
  link->activate();
  ASSERT_EQ(st().state, 2u);
  ch.take();
  link->on_hdlc_error(HDLC::Notify::Cause::read_error);
  EXPECT_EQ(st().state, 0u);
  EXPECT_EQ(owner.released, "link error (channel failed)|");
  advance(LAPD::kT202 * 6);
  EXPECT_EQ(ch.take(), Frames{});
  link->activate();
  EXPECT_EQ(ch.take(), Frames{request()});
}

TEST_F(BriUserTest, DeniedAndUnansweredAssignment) {
  send(kMsg);
  EXPECT_EQ(st().state, 1u);
  EXPECT_EQ(link->out_queued(), 1u);
  rx(net_mgmt(link->ri(), 3, 127));
  EXPECT_EQ(owner.statuses, "Tei Assign - Tei denied|");
  EXPECT_EQ(st().state, 1u);
  for (int i = 0; i < 4; ++i) advance(LAPD::kT202);
  EXPECT_EQ(ch.take().size(), 5u);
  advance(LAPD::kT202);
  EXPECT_EQ(owner.released, "link error (T202 expired N202 times)|");
  EXPECT_EQ(st().state, 0u);
  owner.clear();
  rx(net_mgmt(link->ri(), 3, 127));
  EXPECT_EQ(owner.statuses, "") << "a denial counts only while waiting";
}

}  // namespace
