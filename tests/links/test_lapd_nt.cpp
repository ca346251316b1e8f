// ISDN::LAPD_NT with scripted terminals: TEI management, routing by TEI and call reference,
// and the per-terminal link's acknowledgement and retransmission.
#include <gtest/gtest.h>

#include "LinkTest.h"
#include "links/LAPD_NT.h"

namespace {

using namespace linktest;
using ISDN::LAPD_NT;
using ISDN::LAPD_NT_user;

Bytes mgmt(uint16_t ri, uint8_t type, unsigned ai) {
  return {0xFC, 0xFF, 0x03, 0x0F, static_cast<uint8_t>(ri), static_cast<uint8_t>(ri >> 8), type,
          static_cast<uint8_t>(ai << 1 | 1)};
}
Bytes net_mgmt(uint16_t ri, uint8_t type, unsigned ai) {
  Bytes f = mgmt(ri, type, ai);
  f[0] = 0xFE;
  return f;
}
// A terminal's frames (commands C/R 0, responses C/R 1).
Bytes te_I(unsigned tei, unsigned ns, unsigned nr, bool p, uint8_t callref = 0x01, uint8_t type = 0x01) {
  return {0x00, static_cast<uint8_t>(tei << 1 | 1), static_cast<uint8_t>(ns << 1), static_cast<uint8_t>(nr << 1 | p),
          0x08, 0x01, callref, type};
}
Bytes te_S(unsigned tei, uint8_t control, unsigned nr, bool pf, bool command) {
  return {static_cast<uint8_t>(command ? 0x00 : 0x02), static_cast<uint8_t>(tei << 1 | 1), control,
          static_cast<uint8_t>(nr << 1 | pf)};
}

class LapdNtTest : public LoopTest {
 protected:
  void SetUp() override {
    nt = new LAPD_NT;
    nt->set_log(2);
    owner.add_protocol_tail(nt);
    nt->activate();
    ASSERT_EQ(owner.sent, (std::vector<Bytes>{net_mgmt(0, 4, 127)})) << "a check for every TEI at start";
    owner.sent.clear();
  }
  void rx(const Bytes& f) {
    Packet p = packet_of(f);
    nt->receive(p);
  }
  void down(const Bytes& msg) {
    Packet p = packet_of(msg);
    nt->message(p);
  }
  std::vector<Bytes> take() { return std::exchange(owner.sent, {}); }
  // A terminal asks for a TEI and answers the SABME that follows.
  unsigned attach(uint16_t ri) {
    rx(mgmt(ri, 1, 127));
    auto out = take();
    EXPECT_EQ(out.size(), 2u);
    unsigned tei = out.empty() ? 0 : out[0][7] >> 1;
    EXPECT_EQ(out[0], net_mgmt(ri, 2, tei));
    EXPECT_EQ(out[1], (Bytes{0x02, static_cast<uint8_t>(tei << 1 | 1), 0x7F}));
    return tei;
  }

  Owner owner;
  LAPD_NT* nt = nullptr;
};

TEST_F(LapdNtTest, TeiAssignmentDenialsAndTheNinthTerminal) {
  for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(attach(static_cast<uint16_t>(100 + i)), 64 + i);
  rx(mgmt(200, 1, 127));
  EXPECT_EQ(take(), (std::vector<Bytes>{net_mgmt(200, 3, 127)}));
  EXPECT_NE(log().find("recieved identity request, but all TEI values is ussigned"), std::string::npos);
  rx(mgmt(201, 1, 70));
  EXPECT_EQ(take(), (std::vector<Bytes>{net_mgmt(201, 3, 70)}));
  rx(mgmt(202, 1, 10));
  EXPECT_TRUE(take().empty());

  // TEI 65 released by its terminal: the next request gets the lowest free TEI.
  rx({0x00, 0x83, 0x53});
  EXPECT_EQ(take(), (std::vector<Bytes>{{0x00, 0x83, 0x73}}));
  EXPECT_EQ(attach(300), 65u);
}

TEST_F(LapdNtTest, UnknownTeiIsTakenOrRemoved) {
  rx(te_S(80, 0x01, 0, true, true));
  auto out = take();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], (Bytes{0x02, 0xA1, 0x7F})) << "SABME to the newly taken TEI";
  EXPECT_EQ(out[1], (Bytes{0x00, 0xA1, 0x01, 0x01})) << "then the poll is answered";
  for (unsigned i = 0; i < 7; ++i) attach(static_cast<uint16_t>(i));
  rx(te_S(90, 0x01, 0, true, true));
  EXPECT_EQ(take(), (std::vector<Bytes>{net_mgmt(0, 6, 90), net_mgmt(0, 6, 90)}));
}

TEST_F(LapdNtTest, SetupIsBroadcastAndRepliesFollowTheCallReference) {
  unsigned a = attach(1), b = attach(2);
  down({0x08, 0x01, 0x05, 0x05, 0xA1});
  EXPECT_EQ(take(), (std::vector<Bytes>{{0x02, 0xFF, 0x03, 0x08, 0x01, 0x05, 0x05, 0xA1}}));
  rx(te_I(b, 0, 0, false, 0x85, 0x01));  // ALERTING from terminal b
  EXPECT_EQ(owner.messages.size(), 1u);
  // In-sequence without P: still acknowledged at once.
  EXPECT_EQ(take(), (std::vector<Bytes>{{0x00, static_cast<uint8_t>(b << 1 | 1), 0x01, 0x02}}));
  down({0x08, 0x01, 0x05, 0x0F});
  EXPECT_EQ(take(), (std::vector<Bytes>{{0x02, static_cast<uint8_t>(b << 1 | 1), 0x00, 0x03, 0x08, 0x01, 0x05, 0x0F}}));
  (void)a;
}

// REJ: N(R) acknowledges what came before it and the rest goes again from N(R), with the
// N(R) of what has been received since.
TEST_F(LapdNtTest, RejectRetransmitsFromNrWithCurrentVr) {
  unsigned t = attach(1);
  rx(te_I(t, 0, 0, false, 0x07));
  take();
  for (uint8_t i = 0; i < 3; ++i) down({0x08, 0x01, 0x07, static_cast<uint8_t>(0x60 + i)});
  ASSERT_EQ(take().size(), 3u);
  rx(te_I(t, 1, 0, false, 0x07));  // V(R) moves to 2
  take();
  rx(te_S(t, 0x09, 1, false, false));
  auto out = take();
  ASSERT_EQ(out.size(), 2u) << "frames 1 and 2 again; frame 0 is acknowledged";
  EXPECT_EQ(out[0][2], 1 << 1);
  EXPECT_EQ(out[0][3], 2 << 1 | 1);
  EXPECT_EQ(out[1][2], 2 << 1);
  EXPECT_EQ(nt->user(0).ack_queued(), 2u);
}

TEST_F(LapdNtTest, SevenOutstandingHoldTheRestUntilAcknowledged) {
  unsigned t = attach(1);
  rx(te_I(t, 0, 0, false, 0x09));
  take();
  for (uint8_t i = 0; i < 9; ++i) down({0x08, 0x01, 0x09, static_cast<uint8_t>(0x60 + i)});
  auto out = take();
  ASSERT_EQ(out.size(), 7u);
  for (unsigned i = 0; i < 7; ++i) EXPECT_EQ(out[i][2], i << 1);
  EXPECT_EQ(nt->user(0).out_queued(), 2u);
  rx(te_S(t, 0x01, 3, false, false));
  out = take();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0][2], 7 << 1);
  EXPECT_EQ(out[1][2], 8 << 1);
  rx(te_S(t, 0x01, 100, false, false));
  EXPECT_EQ(nt->user(0).linkState, LAPD_NT_user::unassigned) << "an N(R) beyond V(S) removes the link";
}

TEST_F(LapdNtTest, SilentTerminalLosesItsLink) {
  unsigned t = attach(1);
  advance(LAPD_NT_user::kIdle);
  EXPECT_EQ(take(), (std::vector<Bytes>{{0x02, static_cast<uint8_t>(t << 1 | 1), 0x01, 0x01}}));
  for (unsigned i = 0; i < 3; ++i) {
    advance(LAPD_NT_user::kWait);
    EXPECT_EQ(take().size(), 1u) << "the poll again";
  }
  advance(LAPD_NT_user::kWait);
  EXPECT_EQ(nt->user(0).linkState, LAPD_NT_user::unassigned);
  EXPECT_NE(log().find("T200 expiried N200 times"), std::string::npos);
}

TEST_F(LapdNtTest, PeriodicCheckKeepsAnswerersAndDropsTheSilent) {
  unsigned a = attach(1);
  unsigned b = attach(2);
  // Both links stay answered so that only the check decides.
  advance(LAPD_NT::kCheckPeriod - 1);
  take();
  clock_.advance(1);
  pass();
  EXPECT_NE(log().find("Checking Tei values...."), std::string::npos);
  rx(mgmt(0x1234, 5, a));
  advance(LAPD_NT_user::kCheck);
  EXPECT_NE(nt->find_Tei(static_cast<unsigned char>(a)), nullptr);
  EXPECT_EQ(nt->find_Tei(static_cast<unsigned char>(b)), nullptr);
  // The same terminal answering again is ignored; a second one with that TEI removes it.
  take();
  rx(mgmt(0x1234, 5, a));
  EXPECT_TRUE(take().empty());
  rx(mgmt(0x4321, 5, a));
  EXPECT_EQ(take(), (std::vector<Bytes>{net_mgmt(0, 6, a), net_mgmt(0, 6, a)}));
}

}  // namespace
