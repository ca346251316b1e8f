// The simulated RTP, mixer and voice devices: sessions per descriptor, events, mixer sums, codec
// counts, through the device seam and the text protocol.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>

#include "board/mixer.h"
#include "board/rtp.h"
#include "board/voice.h"
#include "tests/board/SimFixture.h"
#include "tests/support/RecordBytes.h"

namespace rtp_test {

using board::sim::Device;
using board::sim::SimRtp;
using namespace board::rtp;
using vxtest::bytes_of;
using vxtest::Bytes;

class SimRtpTest : public simtest::SimTest {
 protected:
  int open(const char* path = kPath) { return SimTest::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
  void close(int fd) {
    forget(fd);
    board::close(fd);
  }
  static rtp_connection_params params(uint16_t port) {
    rtp_connection_params p;
    p.remote_addr = 0x0A000001;
    p.remote_port = port;
    p.local_port = port;
    p.rx_pt = 8;
    p.tx_pt = 18;
    p.ssrc = 0x01020304;
    p.dscp = 184;
    return p;
  }
  // A begun session with a channel; returns the channel, or -errno.
  int session(int fd, int wanted = -1, uint16_t port = 4000) {
    rtp_connection_params p = params(port);
    if (board::ioctl(fd, RTP_BEGIN_SESSION, &p) < 0) return -errno;
    rtp_channel_info info;
    info.tdm = wanted;
    info.dev_no = -1;
    info.chn = -1;
    if (board::ioctl(fd, RTP_ADD_CHANNEL, &info) < 0) return -errno;
    return info.tdm;
  }
};

TEST_F(SimRtpTest, EachSessionGetsAChannelOfItsOwnUntilItsLastDescriptorCloses) {
  int a = open(), b = open();
  int ca = session(a), cb = session(b);
  EXPECT_EQ(ca, SimRtp::kFirstChannel);
  EXPECT_EQ(cb, SimRtp::kFirstChannel + 1);
  EXPECT_EQ(session(a), -EBUSY) << "one session per descriptor";

  // A restart: the new descriptor asks for the channel the old session holds.
  int c = open();
  EXPECT_EQ(session(c, ca), -EBUSY);
  int dup = ::dup(a);
  close(a);
  EXPECT_NE(sim().state().rtp.session_of(ca), nullptr) << "a duplicate keeps the session";
  ::close(dup);
  int d = open();
  EXPECT_EQ(session(d, ca), ca);
  EXPECT_EQ(session(open(), SimRtp::kFirstChannel - 1), -EINVAL);

  auto log = sim().requests(Device::rtp, RTP_BEGIN_SESSION);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().bytes(), bytes_of(params(4000))) << "the whole 44-byte block is logged";
  EXPECT_EQ(log.back().arg("dscp"), 184);
  EXPECT_EQ(log.back().arg("ssrc"), 0x01020304);
}

TEST_F(SimRtpTest, CapacityAndOrderOfRequestsAreChecked) {
  sim().state().rtp.capacity = 2;
  int a = open();
  rtp_channel_info info;
  info.tdm = -1;
  EXPECT_EQ(board::ioctl(a, RTP_ADD_CHANNEL, &info), -1) << "no channel before the session begins";
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(board::ioctl(a, RTP_START_RX, nullptr), -1);
  EXPECT_GE(session(a), 0);
  EXPECT_GE(session(open()), 0);
  EXPECT_EQ(session(open()), -ENOSPC);

  EXPECT_EQ(board::ioctl(a, RTP_START_RX, nullptr), 0);
  int ch = SimRtp::kFirstChannel;
  EXPECT_TRUE(sim().state().rtp.session_of(ch)->receiving);
  rtp_pd_event_params pd;
  pd.type = kEventPacketLoss;
  pd.timeout = 250;
  EXPECT_EQ(board::ioctl(a, RTP_SET_EVENT_PD, &pd), 0);
  EXPECT_EQ(sim().state().rtp.session_of(ch)->pd_timeout, 250u);
  EventReset reset;
  reset.type = 2;
  EXPECT_EQ(board::ioctl(a, RTP_RESET_EVENT_PD, &reset), -1);
  reset.type = 1;
  EXPECT_EQ(board::ioctl(a, RTP_RESET_EVENT_PD, &reset), 0);
  EXPECT_FALSE(sim().state().rtp.session_of(ch)->pd);
  for (uint32_t r : {RTP_STOP, RTP_END_SESSION, RTP_RELEASE}) EXPECT_EQ(board::ioctl(a, r, nullptr), 0);
  EXPECT_EQ(sim().state().rtp.session_of(ch), nullptr) << "released: the channel is free";
  EXPECT_GE(session(open()), 0);
}

TEST_F(SimRtpTest, EventsReachOnlyTheSessionOfTheChannelAndVoiceCountsCodecs) {
  int a = open(), b = open();
  int ca = session(a);
  session(b);
  rtp_pd_event_params pd;
  pd.type = kEventPacketLoss;
  pd.timeout = 500;
  ASSERT_EQ(board::ioctl(a, RTP_SET_EVENT_PD, &pd), 0);
  EXPECT_EQ(sim().rtp_event(ca, kEventPacketLoss, 7), 1u);
  EXPECT_EQ(sim().rtp_event(SimRtp::kFirstChannel + 5, kEventPacketLoss, 7), 0u);
  uint8_t buf[64];
  ASSERT_EQ(::read(a, buf, sizeof buf), static_cast<ssize_t>(sizeof(rtp_event))) << "one record per read";
  auto e = vxtest::from_bytes<rtp_event>(Bytes(buf, buf + sizeof(rtp_event)));
  EXPECT_EQ(std::tuple(uint32_t{e.type}, uint32_t{e.value}, uint32_t{e.timeout}), std::tuple(kEventPacketLoss, 7u, 500u));
  EXPECT_EQ(::read(b, buf, 1), -1);

  int v = open(board::voice::kPath);
  board::voice::CodecQuery q;
  q.codec = board::voice::kCodecG729;
  sim().state().voice.codec_channels[board::voice::kCodecG729] = 12;
  EXPECT_EQ(board::ioctl(v, board::voice::VOICE_CODEC_CHANNELS, &q), 12);
  q.codec = 3;
  EXPECT_EQ(board::ioctl(v, board::voice::VOICE_CODEC_CHANNELS, &q), -1);
}

}  // namespace rtp_test

namespace mixer_test {

using board::sim::Device;
using board::sim::SimMixer;
using namespace board::mixer;

class SimMixerTest : public simtest::SimTest {
 protected:
  // One request on a descriptor of its own, as the daemon makes them; the result or -errno.
  static int request(const char* path, uint32_t number, void* arg) {
    const int fd = board::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    const int r = board::ioctl(fd, number, arg);
    const int error = errno;
    board::close(fd);
    return r < 0 ? -error : r;
  }
  static int add(int out, int in, int gain, uint32_t number = MIX_RX_ADD, int unit = 0) {
    MixRx r;
    r.rx = {unit, kTypeTdm, out};
    r.tx = {unit, kTypeTdm, in};
    r.gain = gain;
    return request(kPath, number, &r);
  }
};

TEST_F(SimMixerTest, UnitsAreEnumeratedAndOutputsSumTheirInputs) {
  ASSERT_TRUE(sim().state().mixer.set_unit(3, 4, 2));
  MixUnit u;
  u.unit = -1;
  ASSERT_EQ(request(kPath, MIX_ENUMERATE, &u), 0);
  EXPECT_EQ(u.unit, 0);
  EXPECT_EQ(u.channels, 32);
  ASSERT_EQ(request(kPath, MIX_ENUMERATE, &u), 0);
  EXPECT_EQ(u.unit, 3);
  EXPECT_EQ(u.channels, 4);
  EXPECT_EQ(u.inputs, 2);
  EXPECT_EQ(request(kPath, MIX_ENUMERATE, &u), -ENODEV);

  MixSlot s{3, kTypeTdm, 2};
  EXPECT_EQ(request(kPath, MIX_TDM, &s), SimMixer::timeslot(3, 2));
  s.number = 4;
  EXPECT_EQ(request(kPath, MIX_TDM, &s), -EINVAL) << "channel out of range";
  s = {3, 1, 2};
  EXPECT_EQ(request(kPath, MIX_TDM, &s), -EINVAL) << "only TDM channels";

  EXPECT_EQ(add(1, 2, 100, MIX_RX_ADD, 3), 0);
  EXPECT_EQ(add(1, 3, 200, MIX_RX_ADD, 3), 0);
  EXPECT_EQ(add(1, 0, 300, MIX_RX_ADD, 3), -ENOSPC) << "two inputs per output on unit 3";
  EXPECT_EQ(add(1, 3, 5, MIX_RX_ADD, 3), 0) << "a re-add changes the gain";
  EXPECT_EQ(protocol.execute("mixer-sum 3 1"), "ok 2\n3/2 gain=100\n3/3 gain=5\n");
  EXPECT_EQ(add(1, 2, 0, MIX_RX_REMOVE, 3), 0);
  EXPECT_EQ(add(1, 2, 0, MIX_RX_REMOVE, 3), -ENOENT);
  MixSlot out{3, kTypeTdm, 1};
  EXPECT_EQ(request(kPath, MIX_RX_CLEAR, &out), 0);
  EXPECT_TRUE(sim().state().mixer.sum(3, 1)->empty());

  auto log = sim().requests(Device::mixer, MIX_RX_ADD);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].text(), "MIX_RX_ADD rx_dev_no=3 rx_type=0 rx_number=1 tx_dev_no=3 tx_type=0 tx_number=2 gain=100 -> 0");
  sim().fail_next(Device::mixer, EIO);
  EXPECT_EQ(request(kPath, MIX_TDM, &s), -EIO);
}

TEST_F(SimMixerTest, TheTextProtocolSetsUnitsAndVersion) {
  EXPECT_EQ(protocol.execute("mixer-unit 2 8 4"), "ok\n");
  EXPECT_EQ(protocol.execute("mixer-units"),
            "ok 2\n0 channels=32 inputs=32 timeslot=3072\n2 channels=8 inputs=4 timeslot=3200\n");
  EXPECT_EQ(protocol.execute("mixer-remove 0"), "ok 1\n");
  EXPECT_EQ(protocol.execute("mixer-remove 0"), "ok 0\n");
  for (const char* bad : {"mixer-unit 16 8 4", "mixer-unit 1 0 4", "mixer-unit 1 65 4", "mixer-unit 1 8", "mixer-sum 2",
                          "mixer-sum 2 64", "voice-version 123456789012345678901", "hdlc-hangup"})
    EXPECT_EQ(protocol.execute(bad).rfind("error", 0), 0u) << bad;
  EXPECT_EQ(protocol.execute("mixer-sum 2 8"), "error no such channel\n");

  EXPECT_EQ(protocol.execute("voice-version v2.5-test"), "ok\n");
  board::voice::VersionInfo v{};
  ASSERT_EQ(request(board::voice::kPath, board::voice::VOICE_VERSION, &v), 0);
  EXPECT_EQ(std::string(v.text, 8), "v2.5-tes");
  EXPECT_EQ(v.text[9], 0);
}

}  // namespace mixer_test
