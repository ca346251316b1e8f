// Radio RTP slots made by their factories on the simulated board, driven through the Slots
// service: the extension session a create sets up, the squelch gate of the receive path,
// reports that become signals, and destruction that leaves no tick behind.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "board/rtp.h"
#include "board/rtp_ext.h"
#include "radio/ED137RadioGWControl.h"
#include "radio/RtpED137Factory.h"
#include "radio/RtpExtSlot.h"
#include "radio/RtpLEMZFactory.h"
#include "slots/RtpFactory.h"
#include "slots/Slots.h"
#include "tests/hwsvc/Harness.h"
#include "tests/slots/RtpSlotFixture.h"

namespace {

using board::sim::Device;
using hwtest::sim;

constexpr int kSuccess = -1;

// A UDP port whose next port is free: the slot binds its RTCP socket there.
uint16_t free_port() { return static_cast<uint16_t>(rtptest::free_port() - 1); }

LGCP::Command ed137_create(bool squelch_gate, uint16_t port = free_port()) {
  LGCP::Command c;
  LGCP::CreateRtpParams& rtp = c.select_create().select_rtp();
  TERM::RtpParams& p = rtp.get_codecRTP();
  p.set_payload(TERM::Payload::ptG711_Alaw);
  p.get_dhost().set_iaddr("127.0.0.1");
  p.get_dhost().set_port(port);
  p.set_pfactor(2);
  TERM::ED137RadioStatus& s = p.include_radio().get_status().select_ed_137();
  s.get_header().set_squ(TERM::ED137RadioSQU::squ_off);
  TERM::ED137RadioResponse& r = s.include_radio_response();
  r.set_type(TERM::ED137RadioType::radio_txrx);
  r.set_txrxmode(TERM::ED137RadioTxRxMode::txrx);
  r.set_sigtime(1);
  r.set_r2s_keepalive_period(200);
  r.set_r2s_keepalive_multiplier(10);
  if (squelch_gate) r.set_transmission_depend_on_squ(true);
  rtp.set_txPayload(TERM::Payload::ptG711_Alaw);
  rtp.set_rxPayload(TERM::Payload::ptG711_Alaw);
  return c;
}

LGCP::Command squelch(bool open) {
  LGCP::Command c;
  TERM::ED137RadioModifier& m = c.select_ioctl().select_rtpExt().select_ed_137();
  m.get_addr().set_session_addr("10.0.0.9");
  m.get_params().select_rx().get_header().set_squ(open ? TERM::ED137RadioSQU::squ_on : TERM::ED137RadioSQU::squ_off);
  return c;
}

class RadioSlotTest : public rtptest::SlotTest {
 protected:
  RtpExtSlot* slot(unsigned number = 3) { return dynamic_cast<RtpExtSlot*>(Slots::instance()->Find(number)); }
  static size_t count(uint32_t number) { return sim().requests(Device::rtp, number).size(); }
  // The signals of one alternative the controller received since the last look.
  std::vector<LGCP::Signal> signals(LGCP::Signal::Choice which) {
    std::vector<LGCP::Signal> out;
    for (const auto& m : ctl.received())
      if (m.get_pdu().is_signal() && m.get_pdu().get_signal().getID() == which) out.push_back(m.get_pdu().get_signal());
    return out;
  }

  hwtest::TestClock clock;
  RtpFactory plain;
  RtpLEMZFactory lemz;
  RtpED137Factory ed137;
};

TEST_F(RadioSlotTest, Ed137CreateSetsUpTheExtensionSessionAndTheTick) {
  ASSERT_EQ(send(ed137_create(false)), kSuccess);
  RtpExtSlot* s = slot();
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s->GetName(), "rtp ext ED137 (GW)");
  auto* c = dynamic_cast<RTPSignalling::ED137RadioGWControl*>(s->controller());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->interval(), 1000u);
  EXPECT_TRUE(c->timer_pending());
  EXPECT_EQ(c->notify(), s);
  const auto& init = c->init_params();
  EXPECT_EQ((std::vector<uint32_t>{init.etype, init.mode, init.keepalive_pt, init.keepalive_period,
                                   init.keepalive_sigtime}),
            (std::vector<uint32_t>{0x0167, 1, 123, 10, 1}));
  EXPECT_FALSE(s->radioInput);

  // The keep-alive watch reports through the slot as "abort" 151.
  ctl.received();
  clock.advance(1000);
  clock.advance(1000);
  auto aborts = signals(LGCP::Signal::e_abort);
  ASSERT_EQ(aborts.size(), 1u);
  EXPECT_EQ(aborts[0].get_abort().getValue(), 151);

  // Destroyed, the slot leaves no tick: nothing more is reported.
  LGCP::Command destroy;
  destroy.set_destroy();
  ASSERT_EQ(send(destroy), kSuccess);
  EXPECT_EQ(slot(), nullptr);
  clock.advance(1000);
  clock.advance(1000);
  EXPECT_TRUE(signals(LGCP::Signal::e_abort).empty());
}

TEST_F(RadioSlotTest, SquelchGateStartsTheReceivePathOnce) {
  ASSERT_EQ(send(ed137_create(true)), kSuccess);
  RtpExtSlot* s = slot();
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->radioInput);
  sim().clear_requests();
  ASSERT_EQ(send(squelch(true)), kSuccess);
  ASSERT_EQ(send(squelch(true)), kSuccess);
  EXPECT_EQ(count(board::rtp::RTP_START_RX), 1u);
  EXPECT_TRUE(s->inputStarted);
  ASSERT_EQ(send(squelch(false)), kSuccess);
  EXPECT_EQ(count(board::rtp::RTP_STOP_RX), 1u);
  EXPECT_FALSE(s->inputStarted);
}

TEST_F(RadioSlotTest, RefusedSquelchGateIsAskedForAgainUntilTheDeviceConfirms) {
  ASSERT_EQ(send(ed137_create(true)), kSuccess);
  RtpExtSlot* s = slot();
  ASSERT_NE(s, nullptr);
  sim().clear_requests();
  sim().fail_next(Device::rtp, EIO, 2, board::rtp::RTP_START_RX);
  ASSERT_EQ(send(squelch(true)), kSuccess);
  EXPECT_FALSE(s->inputStarted);
  clock.advance(1000);
  EXPECT_FALSE(s->inputStarted);
  EXPECT_EQ(count(board::rtp::RTP_START_RX), 2u);
  clock.advance(1000);
  EXPECT_TRUE(s->inputStarted);
  EXPECT_TRUE(s->controller()->gate_confirmed());
  clock.advance(1000);
  EXPECT_EQ(count(board::rtp::RTP_START_RX), 3u);

  // A refused stop is asked for again at the next command.
  sim().fail_next(Device::rtp, EIO, 1, board::rtp::RTP_STOP_RX);
  ASSERT_EQ(send(squelch(false)), kSuccess);
  EXPECT_TRUE(s->inputStarted);
  LGCP::Command other;
  other.select_ioctl().select_vad_disable();
  send(other);
  EXPECT_FALSE(s->inputStarted);
  EXPECT_EQ(count(board::rtp::RTP_STOP_RX), 2u);
}

TEST_F(RadioSlotTest, EachFactoryTakesItsOwnDialect) {
  LGCP::Command c = ed137_create(false);
  c.select_create().select_rtp().get_codecRTP().get_dhost().set_port(free_port());
  // A LEMZ status goes to the LEMZ factory, which makes a gateway slot with a ticking controller.
  c.select_create().select_rtp().get_codecRTP().get_radio().get_status().select_lemz();
  ASSERT_EQ(send(c, 4), kSuccess);
  ASSERT_NE(slot(4), nullptr);
  EXPECT_STREQ(slot(4)->GetName(), "rtp ext LEMZ (GW)");
  EXPECT_TRUE(slot(4)->controller()->timer_pending());
  // Without a radio part the plain RTP factory makes it.
  c.select_create().select_rtp().get_codecRTP().omit_radio();
  c.select_create().select_rtp().get_codecRTP().get_dhost().set_port(free_port());
  ASSERT_EQ(send(c, 5), kSuccess);
  EXPECT_EQ(slot(5), nullptr);  // not a radio slot
  EXPECT_NE(Slots::instance()->Find(5), nullptr);
}

TEST_F(RadioSlotTest, FactoriesCountTheVoiceDevicesCodecChannelsOnEachQuery) {
  sim().state().voice.codec_channels = {{1, 60}, {2, 20}, {4, 30}, {8, 5}, {65, 90}};
  for (RtpRadioFactory* f : {static_cast<RtpRadioFactory*>(&lemz), static_cast<RtpRadioFactory*>(&ed137)}) {
    LGCP::Resources r;
    f->Query(r);
    EXPECT_EQ((std::vector<int>{r.get_rtp_g729(), r.get_rtp_g723(), r.get_rtp_g711(), r.get_rtp_g711mcc(),
                                r.get_universal()}),
              (std::vector<int>{30, 20, 60, 5, 90}));
  }
  sim().fail_open(Device::voice, EACCES);  // counts start from 0 on every query
  LGCP::Resources r;
  lemz.Query(r);
  sim().fail_open(Device::voice, 0);
  EXPECT_EQ((std::vector<int>{r.get_rtp_g729(), r.get_rtp_g711(), r.get_universal()}), (std::vector<int>{0, 0, 0}));
}

TEST_F(RadioSlotTest, CodecChangeReattachesTheExtensionSessionToTheNewSession) {
  LGCP::Command c = ed137_create(false);
  c.select_create().select_rtp().get_codecRTP().get_radio().get_status().select_lemz();
  ASSERT_EQ(send(c), kSuccess);
  RtpExtSlot* s = slot();
  ASSERT_NE(s, nullptr);
  auto attached = [] {
    std::vector<int32_t> fds;
    for (const auto& [id, session] : sim().rtp_ext().sessions())
      if (session.open && session.attached) fds.push_back(session.fd_rtp);
    return fds;
  };
  // The session attaches to the slot's own descriptor, not the factory's passing one.
  EXPECT_EQ(attached(), std::vector<int32_t>{s->device.get()});
  LGCP::Command mode;
  mode.select_ioctl().set_encoder_mode(LGCP::CodecMode::ulaw);
  ASSERT_EQ(send(mode), kSuccess);
  EXPECT_EQ(attached(), std::vector<int32_t>{s->device.get()});
  EXPECT_EQ(sim().requests(Device::rtp_ext, board::rtp_ext::RTP_EXT_DETACH).size(), 1u);
}

}  // namespace
