// One SS7 link against units written by hand: the signal unit format it sends, the length
// checks on what it receives, LSSUs in each state, trace lines and the counters; then basic
// error correction: acknowledgements, retransmission, the buffers' bounds, the sequence checks
// that take the link down, and the timers.
#include "tests/links/LinkTest.h"
#include "asn1/schemas/LGCP.h"

namespace {

using namespace ss7test;

// The header and LI of sent units are read by tshark; here the counters (MSUs and their
// octets, LSSUs not) and the length indicator checked against what comes in.
TEST_F(SlcTest, UnitsAreCountedAndTheirLengthIndicatorChecked) {
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
  const SLC::Statistics mid = *e.link->statistics();
  for (unsigned n : {62u, 63u, 272u}) e.send(Bytes(n, 0x5A));
  EXPECT_EQ(e.msus().back().size(), 275u) << "LI 63, the payload whole";
  // LI 2 over 1 octet: an LSSU all the same, which takes a link in service down.
  clear_output();
  e.deliver({0xFF, 0xFF, 0x02, 0x07});
  EXPECT_LINE(err(), H + "(worked): invalid packet length, expected = 2, received = 1");
  EXPECT_LINE(err(), H + "(worked): receive lssu: unknown:0x7  BSN=127 BIB=1 FSN=127 FIB=1");
  EXPECT_EQ(e.link->state(), SLC::State::idle);
  EXPECT_EQ(e.link->statistics()->su_sent, mid.su_sent + 3) << "the SIOS not counted";
  EXPECT_EQ(e.link->statistics()->octets_sent, mid.octets_sent + 65u + 66u + 275u);
}

TEST_F(SlcTest, StatusIndicationsFollowTheAlignmentTable) {
  const struct { uint8_t status; SLC::State::Type after; } steps[] = {
      {SLC::SIOS, SLC::State::idle}, {SLC::SIO, SLC::State::aligned},  {SLC::SIO, SLC::State::aligned},
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

TEST_F(SlcTest, ActivationAndDeactivationRepeatTheirReports) {
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

TEST_F(SlcTest, TracesAreGatedByTheirFlags) {
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

TEST_F(SlcTest, ChannelEventsTrunkStateAndCongestionReport) {
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
  // A failed channel takes the link out of service as well, and it is reported.
  in_service();
  e.up.released.clear();
  e.link->on_hdlc_error(HDLC::Notify::Cause::read_error);
  EXPECT_LINE(log(), H + "(worked): hdlc error [cause=0]");
  EXPECT_EQ(e.link->state(), SLC::State::idle);
  EXPECT_EQ(e.up.released, "impossible phasing|");
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

class ErrorCorrectionTest : public SlcTest {
  void SetUp() override { in_service(); }
};

TEST_F(ErrorCorrectionTest, NegativeAcknowledgementResendsTheSameUnitsFirst) {
  for (uint8_t i = 0; i < 3; ++i) e.send({i, i, i});
  fisu(127, false);  // BIB inverted: the far end asks for everything after FSN 127
  e.send({3, 3, 3});
  auto msus = e.msus();
  ASSERT_EQ(msus.size(), 7u);
  for (uint8_t i = 0; i < 3; ++i) {
    EXPECT_EQ(msus[i], unit(127, true, i, true, {i, i, i}));
    EXPECT_EQ(msus[3 + i], unit(127, true, i, false, {i, i, i}));  // one header, new FIB
  }
  EXPECT_EQ(msus[6], unit(127, true, 3, false, {3, 3, 3}));
  EXPECT_EQ(e.link->statistics()->retransmissions, 1u);
  // A partial acknowledgement with the new FIB releases what it covers only.
  fisu(1, false);
  EXPECT_EQ(e.link->rtb_count(), 2);
}

TEST_F(ErrorCorrectionTest, BufferedMessagesStayBare) {
  Packet p;
  e.up.prepare_head(p);
  for (uint8_t x : {0x83, 0x01, 0x02}) p.put8(x);
  e.link->message(p);  // the TB and then the RTB share this buffer
  EXPECT_EQ(bytes_of(p), (Bytes{0x83, 0x01, 0x02}));
  fisu(127, false);
  fisu(127, true);  // a second request for the same unit
  auto msus = e.msus();
  ASSERT_EQ(msus.size(), 3u);
  EXPECT_EQ(msus[1], unit(127, true, 0, false, {0x83, 0x01, 0x02}));
  EXPECT_EQ(msus[2], unit(127, true, 0, true, {0x83, 0x01, 0x02}));
  EXPECT_EQ(bytes_of(p), (Bytes{0x83, 0x01, 0x02}));
  // A message handed down without head room still gets its header.
  Packet tight = packet_of({7, 7, 7}, 0);
  e.link->message(tight);
  EXPECT_EQ(e.wire.frames.back(), unit(127, true, 1, true, {7, 7, 7}));
}

TEST_F(ErrorCorrectionTest, AcknowledgingNothingNewReleasesNothing) {
  e.send({1, 1, 1});
  e.send({2, 2, 2});
  fisu(127);  // acknowledges what was acknowledged before: nothing
  EXPECT_EQ(e.link->rtb_count(), 2);
  EXPECT_EQ(e.link->statistics()->rtb_fill, 2u);
  fisu(0);
  EXPECT_EQ(e.link->rtb_count(), 1);
  fisu(1);
  fisu(1);
  EXPECT_EQ(e.link->rtb_count(), 0);
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  // Falling to idle with an empty RTB leaves it empty, and the link comes back whole.
  e.link->local_deactivate();
  EXPECT_EQ(e.link->statistics()->rtb_fill, 0u);
  in_service();
  e.send({3, 3, 3});
  EXPECT_EQ(e.wire.frames.back(), unit(127, true, 0, true, {3, 3, 3}));
  EXPECT_EQ(e.link->rtb_count(), 1);
}

TEST_F(ErrorCorrectionTest, BuffersAreBoundedAndDrainAsRoomIsMade) {
  for (unsigned i = 0; i < 127 + 201; ++i) e.send({uint8_t(i), uint8_t(i >> 8), 0});
  EXPECT_EQ(e.link->rtb_count(), 127);
  EXPECT_EQ(e.link->tb_count(), 200u);
  EXPECT_EQ(e.msus().size(), 127u);
  EXPECT_EQ(e.link->statistics()->tb_overflow, 1u);
  EXPECT_LINE(err(), H + "(worked): no space in TB buffer, TB=200 RTB=127 ignoring msu: 47 01 00");
  // Acknowledging 10 lets 10 more out at once, with the FSNs that follow.
  fisu(9);
  EXPECT_EQ(e.link->rtb_count(), 127);
  EXPECT_EQ(e.link->tb_count(), 190u);
  EXPECT_EQ(e.wire.frames.back(), unit(127, true, 8, true, {136, 0, 0}));
}

TEST_F(ErrorCorrectionTest, ReceivedMessagesAreCheckedInSequence) {
  e.link->log.msu_processing = true;
  e.deliver(unit(127, true, 0, true, {1, 1, 1}));
  e.deliver(unit(127, true, 0, true, {1, 1, 1}));  // a repeat
  EXPECT_LINE(log(), H + "(worked): discard msu due to 5.2.2/i Q.702 fsnr=0 fsnx=0");
  EXPECT_EQ(e.up.messages.size(), 1u);
  EXPECT_EQ(e.wire.frames.back(), unit(0, true, 127, true));  // the acknowledgement
  e.deliver(unit(127, true, 2, true, {3, 3, 3}));  // FSN 1 went missing
  EXPECT_LINE(log(), H + "(worked): discard msu due to 5.2.2/ii Q.702 fsnr=2 fsnx=0");
  EXPECT_EQ(e.wire.frames.back(), unit(0, false, 127, true));  // BIB inverted
  EXPECT_EQ(e.link->statistics()->nacks_sent, 1u);
  // Until the retransmission starts, units with the old FIB are dropped quietly.
  e.deliver(unit(127, true, 3, true, {4, 4, 4}));
  e.deliver(unit(127, true, 4, true, {5, 5, 5}));
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  e.deliver(unit(127, true, 1, false, {2, 2, 2}));
  e.deliver(unit(127, true, 2, false, {3, 3, 3}));
  EXPECT_EQ(e.up.messages, (Frames{{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}));
  // A FISU that shows a unit we never saw is negatively acknowledged too.
  fisu(127, true, 4, false);
  EXPECT_EQ(e.link->statistics()->nacks_sent, 2u);
}

TEST_F(ErrorCorrectionTest, SecondBadSequenceTakesTheLinkDown) {
  e.link->log.msu_processing = true;
  e.send({1, 1, 1});
  fisu(5);   // out of range once: ignored
  fisu(0);   // in range between
  fisu(50);  // once again: ignored
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  fisu(51);
  EXPECT_LINE(err(), H + "(worked): bad su acknowledgement received:  BSN=51 BIB=1 FSN=127 FIB=1");
  EXPECT_EQ(e.link->state(), SLC::State::idle);
  EXPECT_EQ(e.up.released, "impossible phasing|");
  EXPECT_EQ(e.wire.frames.back(), (lssu(SLC::SIOS)));
  in_service();
  e.deliver(unit(127, false, 0, false, {1, 1, 1}));  // unexpected FIB, once
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  e.deliver(unit(127, false, 0, false, {1, 1, 1}));
  EXPECT_LINE(err(), H + "(worked): bad start of a retransmission:  BSN=127 BIB=0 FSN=0 FIB=0");
  EXPECT_EQ(e.link->state(), SLC::State::idle);
  EXPECT_TRUE(e.up.messages.empty());
}

TEST_F(ErrorCorrectionTest, EmptyPacketPoolLosesTheUnitWithoutStalling) {
  Packet msu = packet_of({0x83, 0x0A, 0x0B});
  Packet far_msu = packet_of(unit(127, true, 0, true, {9, 9, 9}), 0);
  Packet shared = far_msu.sub(far_msu.length(), 0), holder = shared;
  {
    PoolHog hog;
    e.link->receive(shared);    // a frame somebody else holds cannot be taken apart: lost
    EXPECT_TRUE(e.up.messages.empty());
    e.link->message(msu);       // no buffer for the header copy: lost on the way
    e.link->receive(far_msu);   // delivered; its acknowledgement finds no buffer either
  }
  EXPECT_TRUE(e.wire.frames.empty());
  EXPECT_EQ(e.link->rtb_count(), 1);
  EXPECT_EQ(e.up.messages.size(), 1u);
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  // The far end learns of FSN 0 from the next unit it sees and asks for it again.
  e.deliver(unit(127, true, 1, true, {9, 9, 9}));
  EXPECT_EQ(e.wire.frames.back(), unit(1, true, 0, true));
  fisu(127, false, 1);
  EXPECT_EQ(e.wire.frames.back(), unit(1, true, 0, false, {0x83, 0x0A, 0x0B}));
  fisu(0, false, 1);
  EXPECT_EQ(e.link->rtb_count(), 0);
}

TEST_F(ErrorCorrectionTest, RefusedUnitWaitsForTheChannel) {
  e.wire.full = true;
  e.send({1, 1, 1});
  e.send({2, 2, 2});
  EXPECT_EQ(e.link->tb_count(), 2u);
  EXPECT_EQ(e.link->rtb_count(), 0);
  e.wire.full = false;
  e.link->on_hdlc_ready();
  EXPECT_LINE(log(), H + "(worked): hdlc ready");
  EXPECT_EQ(e.msus(), (Frames{unit(127, true, 0, true, {1, 1, 1}), unit(127, true, 1, true, {2, 2, 2})}));
  // Kept through a fall to idle, discarded on the next entry to worked.
  e.wire.full = true;
  e.send({3, 3, 3});
  e.link->local_deactivate();
  e.wire.full = false;
  e.in_service();
  EXPECT_LINE(err(), H + "(worked): discard 1 msu in TB");
  EXPECT_EQ(e.link->tb_count(), 0u);
}

TEST_F(ErrorCorrectionTest, T7GuardsUnacknowledgedMessages) {
  e.link->log.timers = true;
  e.send({1, 1, 1});
  advance(11000);
  e.send({2, 2, 2});  // a second MSU does not re-arm it
  advance(999);
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  fisu(0);  // acknowledging a new MSU does
  advance(11999);
  EXPECT_EQ(e.link->state(), SLC::State::worked);
  advance(1);
  EXPECT_LINE(log(), H + "(worked): T7 expired: 1 packets in RTB.");
  EXPECT_EQ(e.link->state(), SLC::State::idle);
  // Nothing pending once everything is acknowledged.
  in_service();
  e.send({1, 1, 1});
  fisu(0);
  advance(60000);
  EXPECT_EQ(e.link->state(), SLC::State::worked);
}

// T2 in not aligned, T3 in aligned, T4 in proving, T1 in aligned ready: a step's timer
// running out takes the link back to idle.
TEST_F(SlcTest, EachAlignmentStepIsGuarded) {
  e.link->log.timers = true;
  // What comes in first (-1: the link is activated), the state while the timer runs, the
  // timer's period and the state when it has run out.
  const struct { int status; SLC::State::Type during; uint32_t ms; SLC::State::Type after; } steps[] = {
      {-1, SLC::State::not_aligned, 7000, SLC::State::idle},
      {SLC::SIO, SLC::State::aligned, 1500, SLC::State::idle},
      {SLC::SIN, SLC::State::proving, 8200, SLC::State::aligned_ready},
      {-2, SLC::State::aligned_ready, 45000, SLC::State::idle}};
  for (auto s : steps) {
    if (s.status == -1) e.link->local_activate();
    if (s.status >= 0) e.deliver(lssu(uint8_t(s.status)));
    advance(s.ms - 1);
    EXPECT_EQ(e.link->state(), s.during);
    advance(1);
    EXPECT_EQ(e.link->state(), s.after);
  }
  EXPECT_LINE(log(), H + "(not aligned): T2 expired");
  EXPECT_EQ(e.wire.frames[e.wire.frames.size() - 2], unit(127, true, 127, true)) << "FISUs in aligned ready";
  EXPECT_EQ(e.up.releases(), 3);
}

}  // namespace
