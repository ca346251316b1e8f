// One SS7 link against units written by hand: the signal unit format it sends, the length
// checks on what it receives, LSSUs in each state, trace lines and the counters.
#include "LinkHarness.h"
#include "asn1/schemas/LGCP.h"

namespace {

using namespace ss7test;

class UnitTest : public LinkTest {
 protected:
  void in_service() {
    e.in_service();
    clear_output();
  }
  End e;
  const std::string H = "SS7/L2 [dpc=0, slc=0, trunk=0] ";
};

// The header and LI of sent units are read by tshark; here the counters: MSUs and their
// octets, LSSUs not.
TEST_F(UnitTest, SentUnitsAreCounted) {
  in_service();
  const SLC::Statistics before = *e.link->statistics();
  for (unsigned n : {62u, 63u, 272u}) e.send(Bytes(n, 0x5A));
  EXPECT_EQ(e.msus().back().size(), 275u) << "LI 63, the payload whole";
  e.link->local_deactivate();
  EXPECT_EQ(e.link->statistics()->su_sent, before.su_sent + 3);
  EXPECT_EQ(e.link->statistics()->octets_sent, before.octets_sent + 65u + 66u + 275u);
}

TEST_F(UnitTest, LengthIndicatorIsCheckedAgainstTheUnit) {
  in_service();
  const SLC::Statistics before = *e.link->statistics();
  e.deliver(unit(127, true, 0, true, Bytes(70, 1)));  // 70 octets with LI 63: quietly the next MSU
  EXPECT_EQ(err(), "");
  Bytes u = unit(127, true, 1, true, Bytes(70, 2));
  u[2] = 62;  // complained about, not truncated, still an MSU
  e.deliver(u);
  EXPECT_LINE(err(), H + "(worked): invalid packet length, expected = 62, received = 70");
  EXPECT_LINE(err(), H + "(worked): can't truncate signalling unit.");
  u = unit(127, true, 2, true, {1, 2, 3, 4, 5, 6, 7, 8});
  u[2] = 5;  // cut to 5
  e.deliver(u);
  EXPECT_LINE(err(), H + "(worked): truncate 3 octet(s) : 01 02 03 04 05 06 07 08");
  ASSERT_EQ(e.up.messages.size(), 3u);
  EXPECT_EQ(e.up.messages[1].size(), 70u);
  EXPECT_EQ(e.up.messages[2], (Bytes{1, 2, 3, 4, 5}));
  e.deliver({0xFF, 0xFF});  // counted as octets, not as a unit
  EXPECT_LINE(err(), H + "(worked): ignore packet, length too small FF FF");
  EXPECT_EQ(e.link->statistics()->su_received, before.su_received + 3);
  EXPECT_EQ(e.link->statistics()->octets_received, before.octets_received + 73 + 73 + 11 + 2);
  // LI 2 over 1 octet: an LSSU all the same, which takes a link in service down.
  clear_output();
  e.deliver({0xFF, 0xFF, 0x02, 0x07});
  EXPECT_LINE(err(), H + "(worked): invalid packet length, expected = 2, received = 1");
  EXPECT_LINE(err(), H + "(worked): receive lssu: unknown:0x7  BSN=127 BIB=1 FSN=127 FIB=1");
  EXPECT_EQ(e.link->state(), SLC::State::idle);
}

TEST_F(UnitTest, StatusIndicationsFollowTheAlignmentTable) {
  const struct { uint8_t status; SLC::State::Type after; } steps[] = {{SLC::SIOS, SLC::State::idle},  {SLC::SIO, SLC::State::aligned}, {SLC::SIO, SLC::State::aligned},
               {SLC::SIE, SLC::State::proving}, {SLC::SIN, SLC::State::proving}, {SLC::SIOS, SLC::State::idle}};
  for (auto s : steps) {
    e.deliver(lssu(s.status));
    EXPECT_EQ(e.link->state(), s.after) << int(s.status);
    if (s.status == SLC::SIO) EXPECT_EQ(e.wire.frames.back(), lssu(SLC::SIN));
  }
  EXPECT_EQ(e.up.released, "impossible phasing|");
  // An MSU in aligned ready brings the link into service, which sends two FISUs.
  e.link->emergency = true;
  e.deliver(lssu(SLC::SIN));
  EXPECT_EQ(e.wire.frames.back(), lssu(SLC::SIE));
  advance(500);
  EXPECT_EQ(e.link->state(), SLC::State::aligned_ready);
  size_t mark = e.wire.frames.size();
  e.deliver(unit(127, true, 0, true, {3, 0, 0}));
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  EXPECT_EQ(e.up.activated, 1);
  EXPECT_TRUE(e.up.messages.empty());
  EXPECT_EQ(Frames(e.wire.frames.begin() + long(mark), e.wire.frames.end()),
            Frames(2, unit(127, true, 127, true)));
}

TEST_F(UnitTest, ActivationAndDeactivationRepeatTheirReports) {
  e.link->log.mtp_activate = true;
  e.link->local_deactivate();
  e.link->local_deactivate();
  EXPECT_EQ(e.up.releases(), 2);
  EXPECT_EQ(e.wire.frames, Frames(2, lssu(SLC::SIOS)));
  EXPECT_LINE(log(), H + "(idle): local_deactivate()");
  in_service();
  e.link->local_activate();
  EXPECT_EQ(e.up.activated, 2);
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  EXPECT_TRUE(e.wire.frames.empty());
  EXPECT_LINE(log(), H + "(worked): local_activate: ignored.");
  e.deliver(lssu(SLC::SIO));  // the far end realigns: out of service
  EXPECT_EQ(e.link->state(), SLC::State::idle);
  // Messages outside the worked state are dropped without a word.
  e.send({1, 2, 3});
  EXPECT_EQ(e.link->tb_count(), 0u);
}

TEST_F(UnitTest, TracesAreGatedByTheirFlags) {
  LGCP::SS7L2Log l;
  l.set_state(true);
  l.set_msu_processing(true);
  e.link->set_log(l);
  EXPECT_TRUE(e.link->log.state && e.link->log.msu_processing);
  EXPECT_FALSE(e.link->log.raw_receive || e.link->log.timers);
  e.link->log = {true, true, true, true, true, true, true, true};
  e.link->trunk = 1;
  e.link->slc = 2;
  e.link->dpc = 300;
  const std::string h = "SS7/L2 [dpc=300, slc=2, trunk=1] ";
  e.link->local_activate();
  EXPECT_LINE(log(), "SS7/L2 [dpc=300, slc=2, trunk=1]: change state from \"idle\" to \"not aligned\"");
  e.deliver(lssu(SLC::SIN));
  EXPECT_LINE(log(), h + "(not aligned):  rx raw 0xFF 0xFF 0x1 0x1");
  e.deliver(unit(127, true, 127, true));
  e.send({0x83, 0x10});
  EXPECT_LINE(log(), h + "(worked):  mtp tx 0x83 0x10");
  e.deliver(unit(0, true, 0, true, {3, 4, 5}));
  EXPECT_LINE(log(), h + "(worked):  mtp rx 0x3 0x4 0x5");
  EXPECT_LINE(err(), h + "(worked): ack!");
  e.wire.full = true;
  e.send({1, 1, 1});
  EXPECT_LINE(log(), h + "(worked):  tx full!");
  // All off: the same road writes nothing.
  End quiet;
  clear_output();
  quiet.in_service();
  quiet.send({0x83, 0x10});
  quiet.deliver(unit(0, true, 0, true, {3, 4, 5}));
  EXPECT_EQ(log() + err(), "");
}

TEST_F(UnitTest, ChannelEventsTrunkStateAndCongestionReport) {
  e.link->on_hdlc_error(HDLC::Notify::Cause::read_error);
  EXPECT_LINE(log(), H + "(idle): hdlc error [cause=0]");
  e.link->OnTrunkHardStatus(false);  // idle: nothing
  EXPECT_EQ(e.up.released, "");
  in_service();
  e.link->OnTrunkHardStatus(true);
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  e.link->OnTrunkHardStatus(false);
  EXPECT_LINE(log(), H + "(worked):  transport OFF by low level terminated");
  EXPECT_EQ(e.link->state(), SLC::State::idle);
  // send_msu puts a header on a copy and keeps nothing for retransmission.
  in_service();
  e.link->log.msu_processing = true;
  Packet empty;
  e.link->send_msu(empty);
  EXPECT_LINE(err(), H + "(worked): fail to send msu (bad packet)");
  Packet p = packet_of({9, 9, 9});
  e.link->send_msu(p);
  EXPECT_EQ(e.wire.frames.back(), unit(127, true, 127, true, {9, 9, 9}));
  EXPECT_EQ(e.link->rtb_count(), 0);
  EXPECT_EQ(bytes_of(p), (Bytes{9, 9, 9}));
  // The congestion report: true once a second.
  SLC fresh;
  for (uint32_t ms : {0u, 999u, 1u, 999u, 1u}) {
    advance(ms);
    EXPECT_EQ(fresh.CoutCongestion(), ms != 1) << ms;
  }
}

}  // namespace
