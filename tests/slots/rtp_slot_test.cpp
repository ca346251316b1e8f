// RTP slots on the simulated board, driven through the Slots service as the controller would:
// the session blocks the device is given, the streams and RTCP packets of a session's life,
// codec changes, the ioctls and the driver events that become signals.
#include <arpa/inet.h>
#include <fcntl.h>

#include <set>
#include <tuple>

#include "board/hal.h"
#include "board/rtp.h"
#include "slots/RtpFactory.h"
#include "slots/RtpSlot.h"
#include "tests/slots/RtcpOracle.h"
#include "tests/slots/RtpSlotFixture.h"

namespace {

using namespace board::rtp;
using hwtest::sim;
using board::sim::Device;
using vxtest::Bytes;

using rtptest::free_port;
using rtptest::Peer;

// A port whose next port is free: the slot binds its RTCP socket there.
uint16_t rtp_port() { return static_cast<uint16_t>(free_port() - 1); }

LGCP::Command rtp_create(TERM::Payload::NamedNumber payload, uint16_t dport, const std::string& daddr = "127.0.0.1") {
  LGCP::Command c;
  LGCP::CreateRtpParams& rtp = c.select_create().select_rtp();
  TERM::RtpParams& p = rtp.get_codecRTP();
  p.set_payload(payload);
  p.get_dhost().set_iaddr(daddr);
  p.get_dhost().set_port(dport);
  rtp.set_txPayload(payload);
  rtp.set_rxPayload(payload);
  return c;
}

class RtpSlotTest : public rtptest::SlotTest {
 protected:
  RtpSlot* slot(unsigned number = 3) { return dynamic_cast<RtpSlot*>(Slots::instance()->Find(number)); }
  static std::vector<board::sim::Request> rtp(uint32_t number) { return sim().requests(Device::rtp, number); }

  RtpFactory factory;
};

TEST_F(RtpSlotTest, CreateGivesTheDeviceTheSessionBlockAndAnnouncesTheSession) {
  Peer far;
  const uint16_t local = free_port();
  LGCP::Command c = rtp_create(TERM::Payload::ptG729, far.port - 1);
  LGCP::CreateRtpParams& params = c.select_create().select_rtp();
  params.set_rxPayload(TERM::Payload::ptG711_Alaw);
  TERM::RtpParams& p = params.get_codecRTP();
  p.include_shost().set_iaddr("10.1.2.3");
  p.get_shost().set_port(local - 1);
  p.set_pfactor(2);
  p.set_vad(true);
  p.set_crate(5);
  p.set_ssrc(0xA1B2C3D4u);
  p.set_ttl(64);
  p.set_qos_dscp(TERM::IpQoSDSCP::ef);
  ASSERT_EQ(send(c), hwtest::kSuccess) << log.all();

  auto begin = rtp(RTP_BEGIN_SESSION);
  ASSERT_EQ(begin.size(), 1u);
  rtp_connection_params want{.remote_addr = 0x7F000001, .remote_port = static_cast<uint16_t>(far.port - 1),
                             .local_addr = 0x0A010203, .local_port = static_cast<uint16_t>(local - 1),
                             .rx_pt = 8, .tx_pt = 18, .packet_factor = 2, .vad = 1, .rate = 1,
                             .ssrc = 0xA1B2C3D4u, .ttl = 64, .dscp = 184};
  EXPECT_EQ(begin[0].bytes(), vxtest::bytes_of(want));
  auto add = rtp(RTP_ADD_CHANNEL);
  ASSERT_EQ(add.size(), 1u);
  EXPECT_EQ(add[0].bytes(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));

  RtpSlot* s = slot();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->channel, board::sim::SimRtp::kFirstChannel);
  EXPECT_NE(::fcntl(s->device.get(), F_GETFL) & O_NONBLOCK, 0) << "reads must not block the loop";
  auto signals = ctl.signals();
  ASSERT_EQ(signals.size(), 2u);
  EXPECT_TRUE(signals[0].is_transmitter() && signals[0].get_transmitter().get_active() == s->channel);
  EXPECT_TRUE(signals[1].is_receiver() && signals[1].get_receiver().get_active() == s->channel);

  // The source description comes from the local RTP port + 1 to the remote port + 1.
  uint16_t from = 0;
  Bytes sdes = far.receive(&from);
  EXPECT_EQ(from, local);
  ASSERT_GE(sdes.size(), 30u);
  Bytes head(sdes.begin(), sdes.begin() + 27);
  head[2] = head[3] = 0;  // the length: checked by the reader below
  EXPECT_EQ(std::string(head.begin(), head.end()), std::string("\x81\xCA\0\0\xA1\xB2\xC3\xD4\x01\x11Quorvex Tessaline", 27));

  // Destruction ends the device side in order, frees the channel and says goodbye.
  sim().clear_requests();
  ASSERT_EQ(simple(&LGCP::Command::set_destroy), hwtest::kSuccess);
  EXPECT_EQ(names(Device::rtp), (std::vector<std::string>{"RTP_STOP", "RTP_END_SESSION", "RTP_RELEASE", "RTP_RESET_EVENT_PD"}));
  EXPECT_EQ(rtp(RTP_RESET_EVENT_PD)[0].arg("type"), 1);
  auto disable = sim().requests(Device::hal, board::hal::MUX_DISABLE);
  ASSERT_FALSE(disable.empty());
  EXPECT_EQ(disable.back().arg("channel"), board::sim::SimRtp::kFirstChannel);
  Bytes bye = far.receive(&from);
  EXPECT_EQ(from, local);
  EXPECT_EQ(bye, (Bytes{0x81, 0xCB, 0, 4, 0xA1, 0xB2, 0xC3, 0xD4, 11, 's', 'e', 's', 's', 'i', 'o', 'n', ' ', 'e', 'n', 'd'}));
  if (vxtest::have_rtcp_oracle()) {
    EXPECT_EQ(vxtest::dissect_rtcp({sdes, bye}, "-e rtcp.pt -e rtcp.length -e rtcp.ssrc.identifier -e rtcp.sdes.type "
                                                "-e rtcp.sdes.text -e rtcp.length_check -e _ws.expert"),
              "202\t" + std::to_string(sdes.size() / 4 - 1) +
                  "\t0xa1b2c3d4\t1,3,4,0\tQuorvex Tessaline,support@quorvex.example,+1 555 0100\t1\t\n"
                  "203\t4\t0xa1b2c3d4\t\tsession end\t1\t\n");
  }
  EXPECT_EQ(sim().open_count(Device::rtp), 0);
  EXPECT_TRUE(sim().state().rtp.sessions().empty());
}

TEST_F(RtpSlotTest, WithoutSourceAddressTheDestinationPortServesBothEnds) {
  const uint16_t port = rtp_port();
  LGCP::Command c = rtp_create(TERM::Payload::ptG711_Ulaw, port, "127.0.0.2");
  c.select_create().select_rtp().set_txPayload(TERM::Payload::ptG729);
  ASSERT_EQ(send(c), hwtest::kSuccess) << log.all();
  auto begin = rtp(RTP_BEGIN_SESSION);
  ASSERT_EQ(begin.size(), 1u);
  EXPECT_EQ(begin[0].arg("local_addr"), 0);
  EXPECT_EQ(begin[0].arg("local_port"), port);
  EXPECT_EQ(begin[0].arg("rx_pt"), 0);
  EXPECT_EQ(begin[0].arg("tx_pt"), 0) << "only a G.711 law overrides the session payload";
  EXPECT_EQ(begin[0].arg("dscp"), 0xFFFFFFFF);
  sockaddr_in bound{};
  socklen_t n = sizeof bound;
  ASSERT_EQ(::getsockname(slot()->rtcp.get(), reinterpret_cast<sockaddr*>(&bound), &n), 0);
  EXPECT_EQ(ntohs(bound.sin_port), port + 1);
  EXPECT_EQ(ntohs(slot()->peer.sin_port), port + 1);
  EXPECT_EQ(ntohl(slot()->peer.sin_addr.s_addr), 0x7F000002u);

  // RTCP has no port after 65535, at either end: the session runs without it.
  ASSERT_EQ(send(rtp_create(TERM::Payload::ptG711_Alaw, 65535), 4), hwtest::kSuccess);
  LGCP::Command c2 = rtp_create(TERM::Payload::ptG711_Alaw, port);
  c2.select_create().select_rtp().get_codecRTP().include_shost().set_iaddr("127.0.0.1");
  c2.select_create().select_rtp().get_codecRTP().get_shost().set_port(65535);
  ASSERT_EQ(send(c2, 5), hwtest::kSuccess);
  EXPECT_FALSE(slot(4)->rtcp);
  EXPECT_FALSE(slot(5)->rtcp);
  EXPECT_TRUE(logged("rtp without rtcp: no port after 65535"));
}

TEST_F(RtpSlotTest, RefusedCreatesLeaveNothingBehind) {
  EXPECT_EQ(send(rtp_create(TERM::Payload::ptT38_UDP_TL, 4000)), LGCP::ErrorCause::insufficientResources);

  // An address that does not parse is refused: nothing goes to 255.255.255.255 or 0.0.0.0.
  // Nor is an address followed by more text, after a blank or a NUL.
  const std::string nul("10.0.0.5\0" "9", 10);
  for (const std::string& bad : std::vector<std::string>{"10.0.0.300", "gateway", "", "10.0.0.5 junk", nul}) {
    EXPECT_EQ(send(rtp_create(TERM::Payload::ptG711_Alaw, 4000, bad)), LGCP::ErrorCause::insufficientResources) << bad;
  }
  // So is a packet factor the block's 16 bits cannot carry.
  for (int factor : {65536, 65537, -1}) {
    LGCP::Command c = rtp_create(TERM::Payload::ptG711_Alaw, 4000);
    c.select_create().select_rtp().get_codecRTP().set_pfactor(factor);
    EXPECT_EQ(send(c), LGCP::ErrorCause::insufficientResources) << factor;
  }
  for (const std::string& bad : std::vector<std::string>{"1.2.3.4.5", "10.0.0.5 junk", nul}) {
    LGCP::Command bad_source = rtp_create(TERM::Payload::ptG711_Alaw, 4000);
    bad_source.select_create().select_rtp().get_codecRTP().include_shost().set_iaddr(bad);
    EXPECT_EQ(send(bad_source), LGCP::ErrorCause::insufficientResources) << bad;
  }

  LGCP::Command radio = rtp_create(TERM::Payload::ptG711_Alaw, 4000);
  radio.select_create().select_rtp().get_codecRTP().include_radio().get_status().select_lemz();
  EXPECT_EQ(send(radio), LGCP::ErrorCause::insufficientResources) << "radio sessions are another factory's";

  sim().fail_open(Device::rtp, EBUSY);
  EXPECT_EQ(send(rtp_create(TERM::Payload::ptG711_Alaw, free_port())), LGCP::ErrorCause::insufficientResources);
  sim().fail_open(Device::rtp, 0);
  EXPECT_TRUE(sim().requests(Device::rtp).empty());

  sim().fail_next(Device::rtp, EINVAL);
  EXPECT_EQ(send(rtp_create(TERM::Payload::ptG711_Alaw, free_port())), LGCP::ErrorCause::insufficientResources);
  sim().state().rtp.capacity = 0;
  EXPECT_EQ(send(rtp_create(TERM::Payload::ptG711_Alaw, free_port())), LGCP::ErrorCause::insufficientResources);
  EXPECT_EQ(sim().open_count(Device::rtp), 0) << "every failure closes what it opened";
  EXPECT_EQ(Slots::instance()->Find(3), nullptr);
}

TEST_F(RtpSlotTest, CodecChangeRestartsTheSessionOnItsChannel) {
  hwtest::TestClock clock;
  ASSERT_EQ(send(rtp_create(TERM::Payload::ptG729, rtp_port())), hwtest::kSuccess) << log.all();
  ASSERT_EQ(send(rtp_create(TERM::Payload::ptG711_Alaw, rtp_port()), 4), hwtest::kSuccess);
  // Slot 4 feeds slot 3, so slot 3's receive path runs.
  ASSERT_EQ(connect(4, 3), hwtest::kSuccess) << log.all();
  RtpSlot* s = slot();
  const int channel = s->channel;
  ASSERT_TRUE(s->inputStarted);
  sim().clear_requests();

  auto mode = [&](bool encoder, LGCP::CodecMode::NamedNumber m, unsigned slot = 3) {
    return ioctl([=](LGCP::IoctlParams& p) { encoder ? p.set_encoder_mode(m) : p.set_decoder_mode(m); }, slot);
  };
  EXPECT_EQ(mode(true, LGCP::CodecMode::alaw), hwtest::kSuccess);
  EXPECT_EQ(names(Device::rtp), (std::vector<std::string>{"RTP_BEGIN_SESSION", "RTP_ADD_CHANNEL", "RTP_START_RX"}));
  EXPECT_EQ(rtp(RTP_BEGIN_SESSION)[0].arg("tx_pt"), 8);
  EXPECT_EQ(rtp(RTP_BEGIN_SESSION)[0].arg("rx_pt"), 18);
  EXPECT_EQ(rtp(RTP_ADD_CHANNEL)[0].arg("tdm"), channel);
  EXPECT_EQ(sim().state().rtp.sessions().size(), 2u) << "the old session went with its descriptors";
  EXPECT_TRUE(sim().state().rtp.session_of(channel)->receiving);

  // The watch follows the new descriptor: its events arrive.
  ctl.signals();
  ASSERT_EQ(sim().rtp_event(channel, kEventPacketLoss, 3, 900), 1u);
  pass();
  auto signals = ctl.signals();
  ASSERT_EQ(signals.size(), 1u) << log.all();
  ASSERT_TRUE(signals[0].is_rtp());
  EXPECT_EQ(signals[0].get_rtp().get_pd().get_value(), 3);
  EXPECT_EQ(signals[0].get_rtp().get_pd().get_timeout(), 900);

  sim().clear_requests();
  EXPECT_EQ(mode(true, LGCP::CodecMode::alaw), hwtest::kSuccess);
  EXPECT_TRUE(sim().requests(Device::rtp).empty());
  // "lbrc" is the receive payload the session was created with.
  EXPECT_EQ(mode(false, LGCP::CodecMode::lbrc), hwtest::kSuccess);
  EXPECT_TRUE(sim().requests(Device::rtp).empty());
  EXPECT_EQ(mode(false, LGCP::CodecMode::ulaw), hwtest::kSuccess);
  EXPECT_EQ(rtp(RTP_BEGIN_SESSION)[0].arg("rx_pt"), 0);
  EXPECT_EQ(mode(false, LGCP::CodecMode::lbrc), hwtest::kSuccess);
  EXPECT_EQ(rtp(RTP_BEGIN_SESSION).back().arg("rx_pt"), 18);

  // The packet-loss detection goes over to the new session. Refused there, it does not undo
  // the change the session runs: the change is answered made, and the detection owed until the
  // device takes it.
  ASSERT_EQ(ioctl([](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(300); }), hwtest::kSuccess);
  EXPECT_EQ(mode(true, LGCP::CodecMode::ulaw), hwtest::kSuccess);
  EXPECT_TRUE(sim().state().rtp.session_of(channel)->pd);
  EXPECT_EQ(sim().state().rtp.session_of(channel)->pd_timeout, 300u);
  sim().fail_next(Device::rtp, EIO, 1, RTP_SET_EVENT_PD);
  EXPECT_EQ(mode(true, LGCP::CodecMode::alaw), hwtest::kSuccess);
  EXPECT_EQ(sim().state().rtp.session_of(channel)->params.tx_pt, 8);
  EXPECT_FALSE(sim().state().rtp.session_of(channel)->pd);
  clock.advance(RtpSlot::kPdRetryMs);
  EXPECT_EQ(sim().state().rtp.session_of(channel)->pd_timeout, 300u);
  // A detection switched off while owed stays off.
  sim().fail_next(Device::rtp, EIO, 1, RTP_SET_EVENT_PD);
  EXPECT_EQ(mode(false, LGCP::CodecMode::ulaw), hwtest::kSuccess);
  ASSERT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_pd_disable(); }), hwtest::kSuccess);
  sim().clear_requests();
  clock.advance(RtpSlot::kPdRetryMaxMs);
  EXPECT_TRUE(sim().requests(Device::rtp).empty()) << "nothing is owed";
  EXPECT_EQ(mode(false, LGCP::CodecMode::alaw), hwtest::kSuccess);
  EXPECT_EQ(names(Device::rtp), (std::vector<std::string>{"RTP_BEGIN_SESSION", "RTP_ADD_CHANNEL", "RTP_START_RX"}));

  // "lbrc" is the session codec's own payload, whatever law the create started its sides in.
  LGCP::Command g729 = rtp_create(TERM::Payload::ptG729, rtp_port());
  g729.select_create().select_rtp().set_txPayload(TERM::Payload::ptG711_Alaw);
  g729.select_create().select_rtp().set_rxPayload(TERM::Payload::ptG711_Alaw);
  ASSERT_EQ(send(g729, 5), hwtest::kSuccess);
  EXPECT_EQ(mode(true, LGCP::CodecMode::lbrc, 5), hwtest::kSuccess);
  EXPECT_EQ(mode(false, LGCP::CodecMode::lbrc, 5), hwtest::kSuccess);
  EXPECT_EQ(sim().state().rtp.session_of(slot(5)->channel)->params.tx_pt, 18);
  EXPECT_EQ(sim().state().rtp.session_of(slot(5)->channel)->params.rx_pt, 18);

  // A restart that fails answers "unsupported" and leaves the slot without a device.
  sim().fail_open(Device::rtp, ENOMEM);
  EXPECT_EQ(mode(true, LGCP::CodecMode::ulaw), LGCP::ErrorCause::unsupported);
  EXPECT_FALSE(slot()->device);
  sim().fail_open(Device::rtp, 0);
  EXPECT_EQ(sim().state().rtp.session_of(channel), nullptr);
}

TEST_F(RtpSlotTest, AnEchoRequestInTheCreateSwitchesTheCancellerOnlyWithTheSuppressor) {
  const std::tuple<bool, bool, const char*> cases[] = {
      {true, true, "CHANNEL_LMS_ON"}, {true, false, "CHANNEL_LMS_OFF"}, {false, true, nullptr}};
  unsigned n = 3;
  for (const auto& [suppressor, canceller, want] : cases) {
    sim().clear_requests();
    LGCP::Command c = rtp_create(TERM::Payload::ptG711_Alaw, rtp_port());
    TERM::RtpParams& p = c.select_create().select_rtp().get_codecRTP();
    p.include_echo().set_suppressor(suppressor);
    p.get_echo().set_canceller(canceller);
    ASSERT_EQ(send(c, n), hwtest::kSuccess) << log.all();
    auto tone = sim().requests(Device::dtmf);
    if (!want) {
      EXPECT_TRUE(tone.empty()) << tone.back().text();
      continue;
    }
    ASSERT_EQ(tone.size(), 1u) << want;
    EXPECT_STREQ(tone[0].def->name, want);
    EXPECT_EQ(tone[0].arg("timeslot"), slot(n++)->channel);
  }
}

TEST_F(RtpSlotTest, IoctlsReachTheFeaturesOfTheSessionChannel) {
  ASSERT_EQ(send(rtp_create(TERM::Payload::ptG711_Alaw, rtp_port())), hwtest::kSuccess);
  const int64_t ch = slot()->channel;
  struct Case {
    void (*fill)(LGCP::IoctlParams&);
    int answer;
    Device device;
    const char* request;  // the last request of the device
    const char* field;
    int64_t value;
  };
  const Case cases[] = {
      {[](LGCP::IoctlParams& p) { p.set_echoSuppressor(true); }, hwtest::kSuccess, Device::dtmf, "CHANNEL_LMS_ON", "timeslot", ch},
      {[](LGCP::IoctlParams& p) { p.set_dtmf_enable(true); }, hwtest::kSuccess, Device::dtmf, "DTMF_ENABLE_DETECTOR", "timeslot", ch},
      {[](LGCP::IoctlParams& p) { p.set_dtmf_reject_enable(true); }, hwtest::kSuccess, Device::dtmf, "DTMF_REJECTION_ENABLE", "timeslot", ch},
      {[](LGCP::IoctlParams& p) {
         LGCP::DTMFParams& d = p.select_dtmf_params();
         d.get_threshold().set_twist(3);
       }, hwtest::kSuccess, Device::dtmf, "DTMF_CONFIGURE_DETECTOR", "twist", 3},
      {[](LGCP::IoctlParams& p) { p.select_selcal().set_signs("ABCD"); }, hwtest::kSuccess, Device::dtmf, "SELCAL_DIAL", "timeslot", ch},
      {[](LGCP::IoctlParams& p) { p.set_vad_enable(true); }, hwtest::kSuccess, Device::dsp, "DSPROC_ENABLE", "mask", 1},
      {[](LGCP::IoctlParams& p) { p.set_vad_disable(); }, hwtest::kSuccess, Device::dsp, "DSPROC_DISABLE", "mask", 1},
      {[](LGCP::IoctlParams& p) { p.set_sd_params(); }, hwtest::kSuccess, Device::dsp, "DSPROC_CONFIGURE", "what", 2},
      {[](LGCP::IoctlParams& p) { p.set_sd_enable(true); }, hwtest::kSuccess, Device::dsp, "DSPROC_ENABLE", "mask", 2},
      {[](LGCP::IoctlParams& p) { p.select_rx_gain().set_gainDB(0x1FA); }, hwtest::kSuccess, Device::dsp, "DSPROC_CONFIGURE", "word2", 0xFA000000},
      {[](LGCP::IoctlParams& p) {
         LGCP::ToneFilter& f = p.select_tone_filter();
         f.set_freq(2100);
         f.set_enable(true);
         f.set_duration_th_msec(40);
         f.set_det_level_dB(-30);
       }, hwtest::kSuccess, Device::dsp, "DSPROC_CONFIGURE", "word2", (2100 << 16) | (1 << 8)},
      {[](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(300); }, hwtest::kSuccess, Device::rtp, "RTP_SET_EVENT_PD", "timeout2", 300},
      {[](LGCP::IoctlParams& p) { p.set_pd_disable(); }, hwtest::kSuccess, Device::rtp, "RTP_RESET_EVENT_PD", "type", 1},
  };
  for (const Case& c : cases) {
    sim().clear_requests();
    ASSERT_EQ(ioctl(c.fill), c.answer) << c.request << "\n" << log.all();
    auto log = sim().requests(c.device);
    ASSERT_FALSE(log.empty()) << c.request;
    EXPECT_STREQ(log.back().def->name, c.request);
    EXPECT_EQ(log.back().arg(c.field), c.value) << log.back().text();
  }
  for (const auto& r : sim().requests(Device::dsp)) EXPECT_EQ(r.arg("timeslot"), ch);
  EXPECT_TRUE(sim().state().rtp.session_of(static_cast<int>(ch))->pd == false);

  sim().fail_next(Device::rtp, EIO);
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(1); }), LGCP::ErrorCause::unsupported);
  sim().clear_requests();
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(-5); }), LGCP::ErrorCause::unsupported);
  EXPECT_TRUE(sim().requests(Device::rtp).empty()) << "a time-out of 4294967291 ms";
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_activateWaitTone(); }), hwtest::kSuccess);
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_deactivateWaitTone(); }), hwtest::kSuccess);
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_dtmf_disable(); }), LGCP::ErrorCause::unsupported);
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_mute_disable(); }), LGCP::ErrorCause::unsupported);
}

TEST_F(RtpSlotTest, DriverEventsBecomeSignals) {
  ASSERT_EQ(send(rtp_create(TERM::Payload::ptG711_Alaw, rtp_port())), hwtest::kSuccess);
  const int ch = slot()->channel;
  ASSERT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_dtmf_enable(true); }), hwtest::kSuccess);
  ASSERT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_vad_enable(true); }), hwtest::kSuccess);
  ctl.signals();

  sim().dtmf_event(ch, 5, 1234);
  sim().dtmf_event(ch, 17, 0);
  sim().dsp_vad(ch, 3, 1, 0);
  sim().rtp_event(ch, kEventPacketLoss, 1, 250);
  sim().rtp_event(ch, 2, 1, 250);
  pass(2);
  auto signals = ctl.signals();
  ASSERT_EQ(signals.size(), 4u) << log.all();
  std::multiset<int> seen;
  for (const auto& s : signals) seen.insert(s.getID());
  using S = LGCP::Signal;
  EXPECT_EQ(seen, (std::multiset<int>{S::e_tonec, S::e_tonec, S::e_vad, S::e_rtp}));
  const auto& dtmf = *std::find_if(signals.begin(), signals.end(), [](const S& s) { return s.is_tonec(); });
  EXPECT_EQ(dtmf.get_tonec().get_event().get_dtmf().getValue(), 5u);
  EXPECT_EQ(dtmf.get_tonec().get_timestamp(), 1234);

  // A device that hangs up is given up once instead of being served on every pass.
  sim().hangup(Device::rtp);
  pass(3);
  EXPECT_EQ(ctl.signals().size(), 0u);
  const std::string err = log.err.str();
  EXPECT_EQ(err.find("fail to read from rtp: device hung up"), err.rfind("fail to read from rtp: device hung up"));
  EXPECT_NE(err.find("fail to read from rtp: device hung up"), std::string::npos) << log.all();
}

TEST_F(RtpSlotTest, ResourcesReportTheVoiceDeviceCodecCounts) {
  sim().state().voice.codec_channels = {{1, 60}, {2, 20}, {4, 30}, {8, 0}, {65, 90}};
  LGCP::Resources r;
  factory.Query(r);
  EXPECT_EQ((std::vector<int64_t>{r.get_rtp_g729(), r.get_rtp_g723(), r.get_rtp_g711(), r.get_rtp_g711mcc(), r.get_universal()}),
            (std::vector<int64_t>{30, 20, 60, 0, 90}));

  // Without the voice device the three main counts fall to 0; the other two keep theirs.
  sim().fail_open(Device::voice, ENOENT);
  factory.IQuery();
  EXPECT_EQ(factory.g711, 0);
  EXPECT_EQ(factory.universal, 90);
  sim().fail_open(Device::voice, 0);
}

}  // namespace
