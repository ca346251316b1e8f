// A slot that loses its channel: at that moment its paths and the features of its timeslot go
// while the number is still its own, and afterwards nothing it is told reaches that number.
#include "SlotsFixture.h"
#include "board/rtp.h"
#include "slots/RtpFactory.h"
#include "slots/RtpSlot.h"
#include "tests/slots/RtpSlotFixture.h"

namespace {

using Strings = std::vector<std::string>;
using board::sim::Device;
using hwtest::sim;

class ChannelLossTest : public slotstest::SlotsTest {
 protected:
  slotstest::Probe& make(unsigned n, int tx, int rx) {
    send(slotstest::create_probe(100 + int(n), n, tx, rx));
    EXPECT_EQ(texts(), Strings{"success"});
    return *probe(n);
  }
};

TEST_F(ChannelLossTest, TheLosingSlotsPathsGoOnceAndItConnectsNoMore) {
  make(1, 5, 8201);
  slotstest::Probe& lost = make(2, 6, 8202);
  make(3, 7, 8203);
  send(slotstest::connect_cmd(1, 1, 2));
  send(slotstest::connect_cmd(2, 2, 3));
  texts();
  ASSERT_EQ(sw(8202), "from 5");
  ASSERT_EQ(sw(8203), "from 6");
  lost.calls.clear();

  lost.LoseChannel();
  EXPECT_EQ(sw(8202), "idle");
  EXPECT_EQ(sw(8203), "idle");
  EXPECT_EQ(lost.source, nullptr);
  EXPECT_TRUE(lost.sinks.empty());
  // Taken off as disconnects take a slot off: the kind reports the loss its own way.
  EXPECT_TRUE(texts().empty());
  EXPECT_EQ(lost.calls, (Strings{"hw-untx 03:probe", "output-release", "input-release"}));
  EXPECT_EQ(probe(1)->calls.back(), "output-release");
  lost.LoseChannel();
  EXPECT_EQ(lost.calls.size(), 3u);

  // Connects either way fail without asking for streams or touching the switch; a disconnect
  // has nothing to take down and succeeds.
  lost.calls.clear();
  send(slotstest::connect_cmd(3, 1, 2));
  send(slotstest::connect_cmd(4, 2, 3));
  send(slotstest::simple(5, 2, LGCP::Command::e_disconnect));
  EXPECT_EQ(texts(), (Strings{"error 9", "error 9", "success"}));
  EXPECT_EQ(lost.calls, Strings{});
  EXPECT_EQ(sw(8202), "idle");
  EXPECT_EQ(sw(8203), "idle");
  EXPECT_TRUE(probe(1)->sinks.empty());
  EXPECT_EQ(probe(3)->source, nullptr);
}

TEST_F(ChannelLossTest, ALossDuringADestroyReportsNothing) {
  make(1, 5, 8201);
  slotstest::Probe& lost = make(2, 6, 8202);
  lost.immediate = false;  // its destroy waits for the kind
  send(slotstest::connect_cmd(1, 1, 2));
  send(slotstest::simple(2, 2, LGCP::Command::e_destroy));
  texts();
  lost.LoseChannel();
  EXPECT_TRUE(lost.channelLost);
  EXPECT_TRUE(texts().empty());
}

LGCP::Command rtp_create() {
  LGCP::Command c;
  LGCP::CreateRtpParams& rtp = c.select_create().select_rtp();
  TERM::RtpParams& p = rtp.get_codecRTP();
  p.set_payload(TERM::Payload::ptG711_Alaw);
  p.get_dhost().set_iaddr("127.0.0.1");
  p.get_dhost().set_port(static_cast<uint16_t>(rtptest::free_port() - 1));
  rtp.set_txPayload(TERM::Payload::ptG711_Alaw);
  rtp.set_rxPayload(TERM::Payload::ptG711_Alaw);
  return c;
}

class RtpLossTest : public rtptest::SlotTest {
 protected:
  RtpSlot* slot(unsigned number) { return dynamic_cast<RtpSlot*>(Slots::instance()->Find(number)); }
  int encoder(LGCP::CodecMode::NamedNumber m, unsigned n) {
    return ioctl([=](LGCP::IoctlParams& p) { p.set_encoder_mode(m); }, n);
  }
  // "<request> <timeslot>" of each request of the device.
  static Strings requests(Device d) {
    Strings out;
    for (const auto& r : sim().requests(d)) out.push_back(std::string(r.def->name) + " " + std::to_string(r.arg("timeslot").value_or(-1)));
    return out;
  }

  RtpFactory factory;
  hwtest::TestClock clock;
};

TEST_F(RtpLossTest, AFailedRestartUndoesTheTimeslotsFeaturesAndTheNextSessionKeepsThem) {
  ASSERT_EQ(send(rtp_create(), 3), hwtest::kSuccess);
  const int ch = slot(3)->channel;
  ASSERT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_dtmf_enable(true); }, 3), hwtest::kSuccess);
  ASSERT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_vad_enable(true); }, 3), hwtest::kSuccess);
  ASSERT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_activateWaitTone(); }, 3), hwtest::kSuccess);
  sim().clear_requests();

  sim().fail_open(Device::rtp, ENOMEM);
  EXPECT_EQ(encoder(LGCP::CodecMode::ulaw, 3), LGCP::ErrorCause::unsupported);
  sim().fail_open(Device::rtp, 0);
  const std::string at = " " + std::to_string(ch);
  // The ring-back, the detector and the DSP features go while the number is still the slot's.
  EXPECT_EQ(requests(Device::dtmf), (Strings{"DTMF_DIAL" + at, "DTMF_DISABLE_DETECTOR" + at}));
  const Strings dsp = requests(Device::dsp);
  ASSERT_FALSE(dsp.empty());
  for (const auto& r : dsp) EXPECT_EQ(r.substr(r.rfind(' ')), at) << r;

  // The next session gets the number; the first one's ring-back timer and destroy leave it be.
  ASSERT_EQ(send(rtp_create(), 4), hwtest::kSuccess);
  ASSERT_EQ(slot(4)->channel, ch);
  ASSERT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_dtmf_enable(true); }, 4), hwtest::kSuccess);
  ASSERT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_vad_enable(true); }, 4), hwtest::kSuccess);
  // Tone and DSP events of the number are the new session's.
  EXPECT_EQ(Hardware::TonecReceiver::find(static_cast<unsigned>(ch)), static_cast<Hardware::TonecReceiver*>(slot(4)));
  EXPECT_EQ(Hardware::DSProcReceiver::find(static_cast<unsigned>(ch)), static_cast<Hardware::DSProcReceiver*>(slot(4)));
  sim().clear_requests();
  clock.advance(Hardware::TonecReceiver::kRingOn + Hardware::TonecReceiver::kRingOff);
  pass(2);
  EXPECT_EQ(simple(&LGCP::Command::set_destroy, 3), hwtest::kSuccess);
  EXPECT_TRUE(sim().requests(Device::dtmf).empty()) << sim().requests(Device::dtmf).back().text();
  EXPECT_TRUE(sim().requests(Device::dsp).empty()) << sim().requests(Device::dsp).back().text();
  for (const auto& r : sim().requests(Device::hal)) {
    EXPECT_NE(r.arg("channel").value_or(-1), ch) << r.text();
    EXPECT_NE(r.arg("output").value_or(-1), ch) << r.text();
  }
  EXPECT_TRUE(sim().state().rtp.session_of(ch) != nullptr);
}

}  // namespace
