// ISDN::LAPD against a scripted peer: frames in through receive, frames out through a recording
// channel, time through the fake clock.
#include <gtest/gtest.h>

#include "LinkTest.h"
#include "asn1/schemas/ACP.h"
#include "links/LAPD.h"

namespace {

using namespace linktest;
using ISDN::LAPD;
using ISDN::Side;

// Frames of the network side, as the user side receives them (TEI 0).
Bytes net_I(unsigned ns, unsigned nr, bool p, Bytes info = {0x08, 0x01, 0x01, 0x05}) {
  Bytes f{0x02, 0x01, static_cast<uint8_t>(ns << 1), static_cast<uint8_t>(nr << 1 | p)};
  f.insert(f.end(), info.begin(), info.end());
  return f;
}
Bytes net_S(int type, unsigned nr, bool pf, bool command = false) {
  return {static_cast<uint8_t>(command ? 0x02 : 0x00), 0x01, static_cast<uint8_t>(type << 2 | 1),
          static_cast<uint8_t>(nr << 1 | pf)};
}
Bytes net_U(uint8_t code, bool pf, bool command = false) {
  return {static_cast<uint8_t>(command ? 0x02 : 0x00), 0x01, static_cast<uint8_t>(code | (pf ? 0x10 : 0))};
}
constexpr uint8_t kUA = 0x63;

class LapdTest : public LoopTest {
 protected:
  void SetUp() override {
    link = new LAPD(Side::user, 4);
    link->device = &ch;
    owner.add_protocol_tail(link);
  }
  void rx(const Bytes& f) {
    Packet p = packet_of(f);
    link->receive(p);
  }
  void send(const Bytes& msg) {
    Packet p = packet_of(msg);
    link->message(p);
  }
  // Up and running: SABME answered by UA.
  void establish() {
    link->activate();
    ASSERT_EQ(ch.take(), (std::vector<Bytes>{{0x00, 0x01, 0x7F}}));
    rx(net_U(kUA, true));
    ASSERT_EQ(link->full_state().state, 6u);
  }
  ISDN::LAPDFullState const& st() const { return link->full_state(); }

  Channel ch;
  Owner owner;
  LAPD* link = nullptr;
};

TEST_F(LapdTest, EstablishExchangeAndRelease) {
  establish();
  EXPECT_EQ(owner.activated, 1);

  send({0x08, 0x01, 0x01, 0x05});
  ASSERT_EQ(ch.take(), (std::vector<Bytes>{{0x00, 0x01, 0x00, 0x00, 0x08, 0x01, 0x01, 0x05}}));
  rx(net_I(0, 1, false));
  EXPECT_EQ(owner.messages, (std::vector<Bytes>{{0x08, 0x01, 0x01, 0x05}}));
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{{0x02, 0x01, 0x01, 0x02}})) << "the pending acknowledgement: RR response";
  EXPECT_EQ(link->ack_queued(), 0u);

  link->deactivate();
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{{0x00, 0x01, 0x53}}));
  EXPECT_EQ(st().state, 5u);
  rx(net_U(kUA, true));
  EXPECT_EQ(st().state, 3u);
  EXPECT_EQ(owner.released, (std::vector<std::string>{"success (UA received)"}));
}

// The reset of the sequence variables belongs to an accepted UA in state 4 only: an
// unsolicited UA must not throw away frames the peer has not acknowledged.
TEST_F(LapdTest, UnsolicitedUaOnlyReportsTheError) {
  establish();
  send({0x08, 0x01, 0x01, 0x05});
  send({0x08, 0x01, 0x02, 0x05});
  ch.take();
  rx(net_U(kUA, true));
  EXPECT_TRUE(owner.has_status("Other - Unknown"));
  EXPECT_EQ(unsigned(st().vs), 2u);
  EXPECT_EQ(link->ack_queued(), 2u);
  // The peer then rejects from 0: both frames go again.
  rx(net_S(2, 0, false));
  auto frames = ch.take();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0][2], 0x00);
  EXPECT_EQ(frames[1][2], 0x02);

  // State 3 too: the variables stay.
  link->deactivate();
  rx(net_U(kUA, true));
  ASSERT_EQ(st().state, 3u);
  owner.statuses.clear();
  rx(net_U(kUA, false));
  EXPECT_TRUE(owner.has_status("Other - Unknown"));
}

// An I or S frame cut before its N(R) octet is invalid, not an acknowledgement of nothing.
TEST_F(LapdTest, ShortIAndSFramesAreDiscarded) {
  establish();
  send({0x08, 0x01, 0x01, 0x05});
  ch.take();
  rx({0x00, 0x01, 0x09});  // REJ without N(R)
  rx({0x02, 0x01, 0x00});  // I frame without N(R)
  EXPECT_TRUE(ch.take().empty());
  EXPECT_EQ(link->ack_queued(), 1u);
  EXPECT_EQ(unsigned(st().vr), 0u);
  EXPECT_EQ(link->statistics.rejected, 0u);
  // Malformed addresses are dropped too.
  rx({0x01, 0x01, 0x01, 0x02});
  rx({0x00, 0x00, 0x01, 0x02});
  rx({0x00});
  EXPECT_EQ(link->ack_queued(), 1u);
}

TEST_F(LapdTest, WindowOfSevenAndRetransmissionOnT200) {
  establish();
  for (int i = 0; i < 8; ++i) send({0x08, 0x01, static_cast<uint8_t>(i), 0x05});
  EXPECT_EQ(ch.take().size(), 7u) << "the eighth waits for the window";
  EXPECT_EQ(link->out_queued(), 1u);
  rx(net_S(0, 7, false));
  auto frames = ch.take();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][2], 7 << 1);

  // No answer: T200 polls (timer recovery), the answer with N(R) 7 makes frame 7 go again.
  advance(LAPD::kT200);
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{{0x00, 0x01, 0x01, 0x01}})) << "RR command, P = 1";
  EXPECT_EQ(st().state, 7u);
  rx(net_S(0, 7, true));
  EXPECT_EQ(st().state, 6u);
  frames = ch.take();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][2], 7 << 1);
  EXPECT_EQ(link->statistics.retrains, 1u);
}

TEST_F(LapdTest, OutOfSequenceFramesGetOneRejectUntilInSequence) {
  establish();
  rx(net_I(1, 0, false));
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{{0x02, 0x01, 0x09, 0x00}}));
  rx(net_I(2, 0, false));
  EXPECT_TRUE(ch.take().empty());
  rx(net_I(2, 0, true));
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{{0x02, 0x01, 0x01, 0x01}}));
  rx(net_I(0, 0, false));
  EXPECT_FALSE(st().rejException);
  EXPECT_EQ(link->statistics.rejected, 3u);
  EXPECT_EQ(owner.messages.size(), 1u);
}

TEST_F(LapdTest, NrOutsideTheWindowReestablishes) {
  establish();
  for (int i = 0; i < 3; ++i) send({0x08, 0x01, 0x01, 0x05});
  ch.take();
  rx(net_S(0, 4, false));
  EXPECT_TRUE(owner.has_status("Other - N(R) error"));
  EXPECT_EQ(st().state, 4u);
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{{0x00, 0x01, 0x7F}}));
  EXPECT_EQ(link->statistics.badNR, 1u);
}

TEST_F(LapdTest, SabmeRetriesThenReleases) {
  link->activate();
  for (int i = 0; i < 3; ++i) advance(LAPD::kT200);
  EXPECT_EQ(ch.take().size(), 4u);
  advance(LAPD::kT200);
  EXPECT_TRUE(owner.has_status("Unsuccessful retransmission (N200 times) - SABME"));
  EXPECT_EQ(owner.released, (std::vector<std::string>{"link error (T200 expired N200 times)"}));
  EXPECT_EQ(st().state, 3u);
}

TEST_F(LapdTest, QueueLimitsAndFlowStatus) {
  struct Flow : LAPD::Notify {
    std::vector<int> changes;
    void OnLAPD_FlowStatusChange(LAPD* l) override { changes.push_back(l->flowStatus); }
  } flow;
  link->notify = &flow;
  link->traceLevel = 0;
  for (int i = 0; i < 129; ++i) send({0x08, 0x01, 0x01, 0x05});
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
}

TEST_F(LapdTest, ChannelRefusalsAndAnEmptyPacketPoolKeepFramesQueued) {
  establish();
  ch.full = true;
  send({0x08, 0x01, 0x01, 0x05});
  EXPECT_EQ(link->out_queued(), 1u);
  EXPECT_NE(log().find("tx full"), std::string::npos);
  ch.full = false;
  link->on_hdlc_ready();
  EXPECT_EQ(ch.take().size(), 1u);

  // Every packet buffer in use: sending and acknowledging fail like a full channel.
  send({0x08, 0x01, 0x02, 0x05});
  std::vector<Packet> hoard;
  try {
    for (;;) {
      Packet p;
      p.reserve_head(0);
      hoard.push_back(p);
    }
  } catch (std::bad_alloc const&) {
  }
  Packet in = std::move(hoard.back());
  hoard.pop_back();
  Packet spare = std::move(hoard.back());
  hoard.pop_back();
  for (uint8_t b : net_I(0, 0, true)) in.put8(b);
  ch.full = true;
  EXPECT_NO_THROW(link->receive(in));
  EXPECT_NO_THROW(advance(LAPD::kT200));
  EXPECT_NO_THROW(advance(LAPD::kT200));
  hoard.clear();
  ch.full = false;
  EXPECT_NO_THROW(link->on_hdlc_ready());
}

TEST_F(LapdTest, GetInfoReportsChangesOnly) {
  ACP::IsdnLinkInfo info;
  EXPECT_TRUE(link->GetInfo(info));
  EXPECT_FALSE(link->GetInfo(info));
  establish();
  EXPECT_TRUE(link->GetInfo(info));
  EXPECT_EQ(info.get_lapdState().asNamedNumber(), ACP::LAPDState::multiple_frame_established);
  EXPECT_TRUE(info.get_t203run().getValue());
}

// ---------------------------------------------------------------- basic rate, user side

class BriUserTest : public LapdTest {
 protected:
  void SetUp() override {
    LapdTest::SetUp();
    link->change_to_bri();
    link->mdl_remove();
    ASSERT_EQ(st().state, 0u);
    ch.take();
  }
  static Bytes mgmt(uint16_t ri, uint8_t type, unsigned ai) {
    return {0xFE, 0xFF, 0x03, 0x0F, static_cast<uint8_t>(ri), static_cast<uint8_t>(ri >> 8), type,
            static_cast<uint8_t>(ai << 1 | 1)};
  }
  static Bytes identity_request(uint16_t ri) {
    return {0xFC, 0xFF, 0x03, 0x0F, static_cast<uint8_t>(ri), static_cast<uint8_t>(ri >> 8), 0x01, 0xFF};
  }
};

// Data handed down without a TEI starts the assignment instead of waiting for ever.
TEST_F(BriUserTest, DataInStateZeroAsksForATei) {
  send({0x08, 0x01, 0x01, 0x05});
  EXPECT_EQ(st().state, 1u);
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{identity_request(link->ri())}));
  EXPECT_EQ(link->out_queued(), 1u);
  rx(mgmt(link->ri(), 2, 70));
  EXPECT_EQ(st().state, 3u);
  EXPECT_EQ(st().ownTei, 70u);
}

TEST_F(BriUserTest, EstablishThroughAssignmentAndTeiFiltering) {
  link->activate();
  EXPECT_EQ(st().state, 1u);
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{identity_request(link->ri())}));
  link->activate();  // DL-ESTABLISH again while waiting: establish as soon as assigned
  EXPECT_EQ(st().state, 2u);
  rx(mgmt(static_cast<uint16_t>(link->ri() + 1), 2, 66));
  EXPECT_EQ(st().state, 2u) << "another terminal's Ri";
  rx(mgmt(link->ri(), 2, 66));
  EXPECT_EQ(st().state, 4u);
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{{0x00, 0x85, 0x7F}}));
  rx({0x00, 0x0B, 0x73});  // UA for TEI 5: not ours
  EXPECT_EQ(st().state, 4u);
  rx({0x00, 0x85, 0x73});
  EXPECT_EQ(st().state, 6u);

  // A check for all TEIs is answered with our TEI; a removal for all starts over.
  rx(mgmt(0, 4, 127));
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{{0xFC, 0xFF, 0x03, 0x0F, static_cast<uint8_t>(link->ri()),
                                            static_cast<uint8_t>(link->ri() >> 8), 0x05, 0x85}}));
  rx(mgmt(0, 6, 127));
  EXPECT_EQ(st().state, 1u);
  EXPECT_EQ(owner.released.back(), "error (MDL-REMOVE received)");
  EXPECT_EQ(ch.take(), (std::vector<Bytes>{identity_request(link->ri())}));
}

TEST_F(BriUserTest, AssignmentGivesUpAfterFourRepeats) {
  link->activate();
  for (int i = 0; i < 4; ++i) advance(LAPD::kT202);
  EXPECT_EQ(ch.take().size(), 5u);
  advance(LAPD::kT202);
  EXPECT_EQ(owner.released, (std::vector<std::string>{"link error (T202 expired N202 times)"}));
  EXPECT_EQ(st().state, 0u);
  rx(mgmt(link->ri(), 3, 127));
  EXPECT_FALSE(owner.has_status("Tei Assign - Tei denied")) << "a denial counts only while waiting";
}

}  // namespace
