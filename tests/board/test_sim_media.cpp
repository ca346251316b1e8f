// The simulated RTP and mixer devices: sessions per descriptor, mixer sums.
#include <gtest/gtest.h>

#include <cerrno>

#include "board/mixer.h"
#include "board/rtp.h"
#include "tests/board/SimFixture.h"

namespace rtp_test {

using board::sim::SimRtp;
using namespace board::rtp;

class SimRtpTest : public simtest::SimTest {
 protected:
  int open(const char* path = kPath) { return SimTest::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC); }
  void close(int fd) {
    forget(fd);
    board::close(fd);
  }
  // A begun session with a channel; returns the channel, or -errno.
  int session(int fd, int wanted = -1) {
    rtp_connection_params p;
    p.remote_addr = 0x0A000001;
    p.remote_port = p.local_port = 4000;
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

TEST_F(SimMixerTest, OutputsSumTheirInputsUpToTheUnitsLimit) {
  ASSERT_TRUE(sim().state().mixer.set_unit(3, 4, 2));
  MixSlot s{3, kTypeTdm, 2};
  EXPECT_EQ(request(kPath, MIX_TDM, &s), SimMixer::timeslot(3, 2));
  s.number = 4;
  EXPECT_EQ(request(kPath, MIX_TDM, &s), -EINVAL) << "channel out of range";

  EXPECT_EQ(add(1, 2, 100, MIX_RX_ADD, 3), 0);
  EXPECT_EQ(add(1, 3, 200, MIX_RX_ADD, 3), 0);
  EXPECT_EQ(add(1, 0, 300, MIX_RX_ADD, 3), -ENOSPC) << "two inputs per output on unit 3";
  EXPECT_EQ(add(1, 2, 0, MIX_RX_REMOVE, 3), 0);
  EXPECT_EQ(add(1, 2, 0, MIX_RX_REMOVE, 3), -ENOENT);
  EXPECT_EQ(sim().state().mixer.sum(3, 1)->size(), 1u);
  MixSlot out{3, kTypeTdm, 1};
  EXPECT_EQ(request(kPath, MIX_RX_CLEAR, &out), 0);
  EXPECT_TRUE(sim().state().mixer.sum(3, 1)->empty());
  sim().fail_next(Device::mixer, EIO);
  EXPECT_EQ(request(kPath, MIX_TDM, &s), -EIO);
}

}  // namespace mixer_test
