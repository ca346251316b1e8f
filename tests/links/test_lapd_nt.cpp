// ISDN::LAPD_NT with scripted terminals: TEI management, routing by TEI and call reference,
// and the per-terminal link's acknowledgement, busy holding and retransmission.
#include "LinkTest.h"
#include "links/LAPD_NT.h"

namespace {

using namespace linktest;
using ISDN::LAPD_NT;
using ISDN::LAPD_NT_user;

// A terminal's frames (commands C/R 0, responses C/R 1) and ours (commands C/R 1).
Bytes te_I(unsigned tei, unsigned ns, unsigned nr, bool p, uint8_t callref = 0x01) {
  return {0x00, uint8_t(tei << 1 | 1), uint8_t(ns << 1), uint8_t(nr << 1 | p), 0x08, 0x01, callref, 0x01};
}
Bytes te_S(unsigned tei, uint8_t control, unsigned nr, bool pf, bool command) {
  return {uint8_t(command ? 0x00 : 0x02), uint8_t(tei << 1 | 1), control, uint8_t(nr << 1 | pf)};
}
Bytes te_U(unsigned tei, uint8_t code, bool command) { return {uint8_t(command ? 0x00 : 0x02), uint8_t(tei << 1 | 1), code}; }
Bytes nt_S(unsigned tei, uint8_t control, unsigned vr, bool pf, bool command) {
  return {uint8_t(command ? 0x02 : 0x00), uint8_t(tei << 1 | 1), control, uint8_t(vr << 1 | pf)};
}

class LapdNtTest : public LoopTest {
 protected:
  void SetUp() override {
    nt = new LAPD_NT;
    nt->set_log(2);
    owner.add_protocol_tail(nt);
    nt->activate();
    ASSERT_EQ(take(), Frames{net_mgmt(0, 4, 127)}) << "a check for every TEI at start";
  }
  void rx(const Bytes& f) { Packet p = packet_of(f); nt->receive(p); }
  void down(const Bytes& msg) { Packet p = packet_of(msg); nt->message(p); }
  Frames take() { return std::exchange(owner.sent, {}); }
  std::vector<int> sent_ns() { return ns_of(take()); }  // since the last look
  // A terminal asks for a TEI and gets it with the SABME that follows.
  unsigned attach(uint16_t ri) {
    rx(mgmt(ri, 1, 127));
    auto out = take();
    unsigned tei = out.empty() ? 0 : out[0][7] >> 1;
    EXPECT_EQ(out, (Frames{net_mgmt(ri, 2, tei), {0x02, uint8_t(tei << 1 | 1), 0x7F}}));
    return tei;
  }
  // An attached terminal that has sent the first I frame of call `cr`, which routes that call.
  unsigned in_call(uint8_t cr) {
    unsigned t = attach(1);
    rx(te_I(t, 0, 0, false, cr));
    take();
    return t;
  }
  LAPD_NT_user& u0() { return nt->user(0); }
  Owner owner;
  LAPD_NT* nt = nullptr;
};

TEST_F(LapdNtTest, TeiAssignmentDenialsAndUnknownTeis) {
  // A frame for a TEI nobody serves takes a free link for it: SABME, then the poll answered.
  rx(te_S(80, 0x01, 0, true, true));
  EXPECT_EQ(take(), (Frames{{0x02, 0xA1, 0x7F}, nt_S(80, 0x01, 0, true, false)}));
  for (unsigned i = 0; i < 7; ++i) EXPECT_EQ(attach(uint16_t(100 + i)), 64 + i);
  rx(mgmt(200, 1, 127));
  EXPECT_EQ(take(), Frames{net_mgmt(200, 3, 127)});
  EXPECT_NE(log().find("recieved identity request, but all TEI values is ussigned"), std::string::npos);
  rx(mgmt(201, 1, 70));
  EXPECT_EQ(take(), Frames{net_mgmt(201, 3, 70)});
  rx(mgmt(202, 1, 10));
  EXPECT_TRUE(take().empty());
  rx(te_S(90, 0x01, 0, true, true));  // no free link: the TEI is removed
  EXPECT_EQ(take(), (Frames{net_mgmt(0, 6, 90), net_mgmt(0, 6, 90)}));
  // TEI 65 released by its terminal: the next request gets the lowest free TEI.
  rx(te_U(65, 0x53, true));
  EXPECT_EQ(take(), (Frames{{0x00, 0x83, 0x73}}));
  EXPECT_EQ(attach(300), 65u);
}

TEST_F(LapdNtTest, SetupIsBroadcastAndRepliesFollowTheCallReference) {
  attach(1);
  unsigned b = attach(2);
  down({0x08, 0x01, 0x05, 0x05, 0xA1});
  EXPECT_EQ(take(), (Frames{{0x02, 0xFF, 0x03, 0x08, 0x01, 0x05, 0x05, 0xA1}}));
  rx(te_I(b, 0, 0, false, 0x85));  // ALERTING from terminal b
  EXPECT_EQ(owner.messages.size(), 1u);
  EXPECT_EQ(take(), Frames{nt_S(b, 0x01, 1, false, false)}) << "in sequence without P: acknowledged at once";
  down({0x08, 0x01, 0x05, 0x0F});
  EXPECT_EQ(take(), (Frames{{0x02, uint8_t(b << 1 | 1), 0x00, 0x03, 0x08, 0x01, 0x05, 0x0F}}));
}

// What each frame from an assigned terminal does to its link: answer and link state after.
TEST_F(LapdNtTest, FramesFromATerminal) {
  struct Row { Bytes frame; Frames answer; uint32_t state; };
  const unsigned t = 64;
  const Row rows[] = {
      {te_U(t, 0x7F, true), {{0x00, 0x81, 0x73}}, LAPD_NT_user::assigned},   // SABME, P: UA, F
      {te_U(t, 0x7F, false), {}, LAPD_NT_user::assigned},                     // SABME response: ignored
      {te_U(t, 0x0F, true), {}, LAPD_NT_user::assigned},                      // DM command: ignored
      {te_U(t, 0x73, false), {}, LAPD_NT_user::assigned},                     // UA: ignored
      {te_U(t, 0xBF, true), {}, LAPD_NT_user::assigned},                      // XID: traced only
      {te_S(t, 0x0D, 0, true, true), {}, LAPD_NT_user::assigned},             // S frame type 3: ignored
      {te_S(t, 0x01, 0, true, true), {nt_S(t, 0x01, 0, true, false)}, LAPD_NT_user::assigned},
      {te_S(t, 0x05, 0, true, true), {nt_S(t, 0x01, 0, true, false)}, LAPD_NT_user::assigned},
      {te_U(t, 0x1F, false), {}, LAPD_NT_user::unassigned},                   // DM, F
      {te_U(t, 0x87, false), {}, LAPD_NT_user::unassigned},                   // FRMR
      {te_U(t, 0x53, true), {{0x00, 0x81, 0x73}}, LAPD_NT_user::unassigned},  // DISC, P: UA, F
      {te_S(t, 0x01, 5, false, false), {}, LAPD_NT_user::unassigned},         // N(R) beyond V(S)
  };
  for (const Row& r : rows) {
    if (u0().linkState == LAPD_NT_user::unassigned) attach(1);
    rx(r.frame);
    EXPECT_EQ(take(), r.answer) << ::testing::PrintToString(r.frame);
    EXPECT_EQ(u0().linkState, r.state) << ::testing::PrintToString(r.frame);
  }
  EXPECT_NE(log().find("received XID frame"), std::string::npos);
}

// RNR holds new messages until an RR (or a SABME) clears the busy condition.
TEST_F(LapdNtTest, BusyTerminalHoldsMessages) {
  unsigned t = in_call(0x07);
  rx(te_S(t, 0x05, 0, false, false));
  EXPECT_TRUE(u0().busy);
  down({0x08, 0x01, 0x07, 0x60});
  down({0x08, 0x01, 0x07, 0x61});
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(u0().out_queued(), 2u);
  advance(LAPD_NT_user::kWait);
  EXPECT_TRUE(take().empty()) << "a busy link idles";
  rx(te_S(t, 0x01, 0, false, false));
  EXPECT_EQ(take(), (Frames{{0x02, 0x81, 0x00, 0x03, 0x08, 0x01, 0x07, 0x60}, {0x02, 0x81, 0x02, 0x03, 0x08, 0x01, 0x07, 0x61}}));
  EXPECT_EQ(u0().linkState, LAPD_NT_user::wait_answer);
}

// REJ: N(R) acknowledges what came before it and the rest goes again from N(R), with the
// N(R) of what has been received since.
TEST_F(LapdNtTest, RejectRetransmitsFromNrWithCurrentVr) {
  unsigned t = in_call(0x07);
  for (uint8_t i = 0; i < 3; ++i) down({0x08, 0x01, 0x07, uint8_t(0x60 + i)});
  ASSERT_EQ(take().size(), 3u);
  rx(te_I(t, 1, 0, false, 0x07));  // V(R) moves to 2
  take();
  rx(te_S(t, 0x09, 1, false, false));
  EXPECT_EQ(take(), (Frames{{0x02, 0x81, 1 << 1, 2 << 1 | 1, 0x08, 0x01, 0x07, 0x61}, {0x02, 0x81, 2 << 1, 2 << 1 | 1, 0x08, 0x01, 0x07, 0x62}}))
      << "frames 1 and 2 again, with V(R) 2; frame 0 is acknowledged";
  EXPECT_EQ(u0().ack_queued(), 2u);
  // Everything acknowledged by a REJ: the next expiry polls instead of resending nothing.
  rx(te_S(t, 0x09, 3, false, false));
  EXPECT_TRUE(take().empty());
  advance(LAPD_NT_user::kWait);
  EXPECT_EQ(take(), Frames{nt_S(t, 0x01, 2, true, true)});
}

// Seven outstanding hold the rest; a partial acknowledgement lets more out and keeps the 1 s
// wait, after which what is still unacknowledged goes again.
TEST_F(LapdNtTest, WindowAndPartialAcknowledgement) {
  unsigned t = in_call(0x09);
  for (uint8_t i = 0; i < 9; ++i) down({0x08, 0x01, 0x09, uint8_t(0x60 + i)});
  EXPECT_EQ(sent_ns(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(u0().out_queued(), 2u);
  rx(te_S(t, 0x01, 3, false, false));
  EXPECT_EQ(sent_ns(), (std::vector<int>{7, 8}));
  rx(te_S(t, 0x01, 7, false, false));
  EXPECT_EQ(u0().linkState, LAPD_NT_user::wait_answer);
  advance(LAPD_NT_user::kWait);
  EXPECT_EQ(sent_ns(), (std::vector<int>{7, 8})) << "again after one second";
}

// A message that finds no packet buffer for its frame stays queued and goes out when the link
// timer runs with buffers free again.
TEST_F(LapdNtTest, MessageWithoutABufferWaitsForOne) {
  unsigned t = in_call(0x07);
  {
    Packet msg = packet_of({0x08, 0x01, 0x07, 0x60});
    PoolHog hog;
    nt->message(msg);
  }
  EXPECT_TRUE(take().empty());
  EXPECT_EQ(u0().out_queued(), 1u);
  advance(LAPD_NT_user::kWait);
  EXPECT_EQ(take(), (Frames{nt_S(t, 0x01, 1, true, true), {0x02, 0x81, 0x00, 0x03, 0x08, 0x01, 0x07, 0x60}}));
  EXPECT_EQ(u0().ack_queued(), 1u);
}

TEST_F(LapdNtTest, SilentTerminalLosesItsLink) {
  unsigned t = attach(1);
  advance(LAPD_NT_user::kIdle);
  EXPECT_EQ(take(), Frames{nt_S(t, 0x01, 0, true, true)});
  for (unsigned i = 0; i < 3; ++i) {
    advance(LAPD_NT_user::kWait);
    EXPECT_EQ(take().size(), 1u) << "the poll again";
  }
  advance(LAPD_NT_user::kWait);
  EXPECT_EQ(u0().linkState, LAPD_NT_user::unassigned);
  EXPECT_NE(log().find("LAPD_user(NT BRI)[Tei=64,wait_answer] T200 expiried N200 times"), std::string::npos);
}

TEST_F(LapdNtTest, PeriodicCheckVerifyAndDeactivation) {
  unsigned a = attach(1), b = attach(2);
  advance(LAPD_NT::kCheckPeriod - 1);
  take();
  advance(1);
  EXPECT_EQ(take(), Frames{net_mgmt(0, 4, 127)});
  rx(mgmt(0x1234, 5, a));
  advance(LAPD_NT_user::kCheck);
  EXPECT_NE(nt->find_Tei(uint8_t(a)), nullptr);
  EXPECT_EQ(nt->find_Tei(uint8_t(b)), nullptr) << "no answer: removed silently";
  // The same terminal answering again is ignored; a second one with that TEI removes it.
  take();
  rx(mgmt(0x1234, 5, a));
  EXPECT_TRUE(take().empty());
  rx(mgmt(0x4321, 5, a));
  EXPECT_EQ(take(), (Frames{net_mgmt(0, 6, a), net_mgmt(0, 6, a)}));
  // An identity verify starts a check at once.
  a = attach(3);
  rx(mgmt(0, 7, a));
  EXPECT_EQ(take(), Frames{net_mgmt(0, 4, 127)});
  EXPECT_TRUE(u0().check);
  // Deactivation drops every link without a word and stops the periodic check.
  nt->deactivate();
  EXPECT_EQ(nt->find_Tei(uint8_t(a)), nullptr);
  advance(LAPD_NT::kCheckPeriod);
  EXPECT_TRUE(take().empty());
}

}  // namespace
