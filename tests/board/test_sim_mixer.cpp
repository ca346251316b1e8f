// The simulated mixer and voice devices and the hang-up of one controller channel, through the
// device seam and through the text protocol.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "board/board.h"
#include "board/mcc.h"
#include "board/mixer.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SimProtocol.h"
#include "board/voice.h"

namespace {

using board::sim::Device;
using board::sim::SimBoard;
using board::sim::SimMixer;
using namespace board::mixer;

class SimMixerTest : public ::testing::Test {
 protected:
  void SetUp() override { sim().reset(); }
  void TearDown() override { sim().reset(); }
  static SimBoard& sim() { return SimBoard::instance(); }

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

  board::sim::SimProtocol protocol{sim()};
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

}  // namespace
