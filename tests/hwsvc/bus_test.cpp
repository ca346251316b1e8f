// The bus services through the control server against the simulated "/dev/hal": the clock
// source and the bus self-test.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Harness.h"
#include "board/hal.h"
#include "hardware/BusCtl.h"
#include "hardware/HwMux.h"
#include "hardware/HwTests.h"

namespace {

using namespace hwtest;
namespace hal = board::hal;

// The C library's default random() generator, written out from its published recurrence so
// that the test does not take the pattern from the function the service calls.
class ReferenceRandom {
 public:
  explicit ReferenceRandom(unsigned seed) {
    if (seed == 0) seed = 1;
    r_.push_back(static_cast<int32_t>(seed));
    for (int i = 1; i < 31; ++i) {
      const int64_t word = r_.back();
      int64_t next = 16807 * (word % 127773) - 2836 * (word / 127773);
      if (next < 0) next += 2147483647;
      r_.push_back(static_cast<int32_t>(next));
    }
    for (int i = 31; i < 34; ++i) r_.push_back(r_[static_cast<size_t>(i - 31)]);
    for (int i = 34; i < 344; ++i) step();
  }
  uint8_t next_byte() { return static_cast<uint8_t>((step() >> 1) & 0xFF); }

 private:
  uint32_t step() {
    const size_t n = r_.size();
    const uint32_t v = static_cast<uint32_t>(r_[n - 31]) + static_cast<uint32_t>(r_[n - 3]);
    r_.push_back(static_cast<int32_t>(v));
    return v;
  }
  std::vector<int32_t> r_;
};

std::vector<uint8_t> pattern(unsigned seed, int length) {
  ReferenceRandom gen(seed);
  std::vector<uint8_t> bytes;
  for (int i = 0; i < length; ++i) bytes.push_back(gen.next_byte());
  return bytes;
}

enum Mode { kRead, kWrite, kDisconnect };

LGCP::Command bpc(int bus, int seed, Mode mode, int start, int length) {
  LGCP::Command c;
  LGCP::BpcTestParams& p = c.select_testBpc();
  p.set_bus(static_cast<unsigned>(bus));
  p.set_seed(seed);
  if (mode == kRead) p.get_mode().set_read();
  if (mode == kWrite) p.get_mode().set_write();
  if (mode == kDisconnect) p.get_mode().set_disconnect();
  p.set_timeslot_start(static_cast<unsigned>(start));
  p.set_timeslot_length(static_cast<unsigned>(length));
  return c;
}

int channel_of(int bus, int timeslot) { return 8192 + bus * 128 + timeslot; }

class BusSelfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HwMux::instance()->IsOpened());
    clean_board();
    ctl.connect();
  }

  Capture capture;
  HwTests service;
  Controller ctl{&service};
};

TEST_F(BusSelfTest, WriteDrivesTheSeededPatternAndReadsItBack) {
  for (int seed : {12345, 0, -987654321}) {
    SCOPED_TRACE(seed);
    sim().clear_requests();
    ctl.send(bpc(3, seed, kWrite, 10, 20));
    EXPECT_EQ(ctl.answer(), kSuccess);

    const std::vector<uint8_t> expected = pattern(static_cast<unsigned>(seed), 20);
    const auto writes = requests(Device::hal, hal::MUX_WRITE);
    const auto reads = requests(Device::hal, hal::MUX_READ);
    ASSERT_EQ(writes.size(), 20u);
    ASSERT_EQ(reads.size(), 20u);
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(arg(writes[i], "channel"), channel_of(3, 10 + i));
      EXPECT_EQ(arg(writes[i], "value"), expected[i]) << "timeslot " << 10 + i;
      EXPECT_EQ(arg(reads[i], "channel"), channel_of(3, 10 + i));
      EXPECT_EQ(sim().state().mux.read(channel_of(3, 10 + i)), expected[i]);
      EXPECT_EQ(HwMux::instance()->entry(3 * 128 + 10 + i), HwMux::kConstant);
    }
    // Every write comes before the first read-back.
    EXPECT_LT(writes.back().sequence, reads.front().sequence);
  }
  EXPECT_EQ(capture.err.str(), "");
}

TEST_F(BusSelfTest, ReadChecksWhatAnotherPartyWrote) {
  ctl.send(bpc(5, 4242, kWrite, 0, 127));
  ASSERT_EQ(ctl.answer(), kSuccess);

  sim().clear_requests();
  ctl.send(bpc(5, 4242, kRead, 0, 127));
  EXPECT_EQ(ctl.answer(), kSuccess);
  EXPECT_TRUE(requests(Device::hal, hal::MUX_WRITE).empty());
  EXPECT_EQ(requests(Device::hal, hal::MUX_READ).size(), 127u);

  // Another seed: the first timeslot whose byte differs is reported, by its number on the bus.
  const std::vector<uint8_t> written = pattern(4242, 127);
  const std::vector<uint8_t> other = pattern(99, 127);
  int first = 0;
  while (first < 127 && written[first] == other[first]) ++first;
  ASSERT_LT(first, 127);
  sim().clear_requests();
  ctl.send(bpc(5, 99, kRead, 0, 127));
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::busError);
  EXPECT_EQ(requests(Device::hal, hal::MUX_READ).size(), static_cast<size_t>(first + 1));
  char line[80];
  snprintf(line, sizeof line, "bus 5: test failed on channel %d expected %02X  read %02X \n", first, other[first],
           written[first]);
  EXPECT_EQ(capture.err.str(), line);
}

TEST_F(BusSelfTest, DisconnectDisablesTheRunAndEmptyRunsTouchNothing) {
  for (Mode mode : {kRead, kWrite, kDisconnect}) {
    ctl.send(bpc(1, 7, mode, 64, 0));
    EXPECT_EQ(ctl.answer(), kSuccess);
  }
  EXPECT_EQ(sim().request_count(Device::hal), 0u);

  ctl.send(bpc(0, 1, kWrite, 100, 10));
  ASSERT_EQ(ctl.answer(), kSuccess);
  sim().clear_requests();
  // A disable the driver refuses does not stop the run.
  sim().fail_next(Device::hal, EIO, 1);
  ctl.send(bpc(0, 1, kDisconnect, 100, 10));
  EXPECT_EQ(ctl.answer(), kSuccess);
  const auto disables = requests(Device::hal, hal::MUX_DISABLE);
  ASSERT_EQ(disables.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(arg(disables[i], "channel"), channel_of(0, 100 + i));
    EXPECT_EQ(HwMux::instance()->entry(100 + i), HwMux::kDisabled);
  }
  EXPECT_EQ(sim().request_count(Device::hal), 10u);

  // The last bus with the longest run reaches 127 channels past the last switch output: the
  // requests still go to the driver, and the switch's table is left alone beyond its end.
  sim().clear_requests();
  ctl.send(bpc(15, 31337, kWrite, 127, 127));
  EXPECT_EQ(ctl.answer(), kSuccess);
  const auto writes = requests(Device::hal, hal::MUX_WRITE);
  ASSERT_EQ(writes.size(), 127u);
  EXPECT_EQ(arg(writes.back(), "channel"), channel_of(15, 253));
  EXPECT_EQ(HwMux::instance()->entry(HwMux::kOutputs - 1), HwMux::kConstant);
  ctl.send(bpc(15, 31337, kDisconnect, 127, 127));
  EXPECT_EQ(ctl.answer(), kSuccess);
  EXPECT_EQ(HwMux::instance()->entry(HwMux::kOutputs - 1), HwMux::kDisabled);
}

TEST_F(BusSelfTest, FailedWriteOrReadIsABusErrorOnTheUndrivenByte) {
  // The first write of the run fails, so its timeslot keeps carrying nothing (0xFF).
  const std::vector<uint8_t> written = pattern(2024, 4);
  ASSERT_NE(written[0], 0xFF);
  HwMux::instance()->Disable(channel_of(2, 5));
  sim().fail_next(Device::hal, EIO, 1);
  ctl.send(bpc(2, 2024, kWrite, 5, 4));
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::busError);
  char line[80];
  snprintf(line, sizeof line, "bus 2: write failed on channel 5 write %02X  written FF \n", written[0]);
  EXPECT_EQ(capture.err.str(), line);

  capture.clear();
  const std::vector<uint8_t> expected = pattern(77, 3);
  ASSERT_NE(expected[0], 0xFF);
  sim().fail_next(Device::hal, EIO, 1);
  ctl.send(bpc(4, 77, kRead, 126, 3));
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::busError);
  snprintf(line, sizeof line, "bus 4: test failed on channel 126 expected %02X  read FF \n", expected[0]);
  EXPECT_EQ(capture.err.str(), line);
}

LGCP::Command clock_cfg(LGCP::ClkSel0::NamedNumber sel, LGCP::BExtEn::NamedNumber ext, int source) {
  LGCP::Command c;
  LGCP::ClockCfg& cfg = c.select_clockCfg();
  cfg.set_clkSel0(sel);
  cfg.set_bextEn(ext);
  cfg.set_source(source);
  return c;
}

class BusClock : public ::testing::Test {
 protected:
  void SetUp() override {
    clean_board();
    ctl.connect();
    sim().clear_requests();
    capture.clear();
  }

  Capture capture;
  BusCtl service;
  Controller ctl{&service};
};

TEST_F(BusClock, ConfigurationSelectsTheSource) {
  using S = LGCP::ClkSel0;
  using E = LGCP::BExtEn;
  struct Case {
    S::NamedNumber sel;
    E::NamedNumber ext;
    int source;
    int selected;  // -1: nothing selected
  } cases[] = {
      {S::external, E::enabled, 2, 2},  {S::external, E::enabled, 0, 0},   {S::external, E::enabled, -1, -1},
      {S::external, E::disabled, 2, 5}, {S::internal, E::enabled, 3, 4},   {S::internal, E::disabled, -9, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sel << "/" << c.ext << "/" << c.source);
    sim().clear_requests();
    ctl.send(clock_cfg(c.sel, c.ext, c.source));
    EXPECT_EQ(ctl.answer(), kSuccess);
    EXPECT_EQ(args(Device::hal, hal::HW_CLOCK_SELECT, "source"), c.selected < 0 ? std::vector<int64_t>{} : std::vector<int64_t>{c.selected});
  }
}

TEST_F(BusClock, ConnectAndDisconnectFallBackToTheFreeRunningClock) {
  ctl.send(clock_cfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 1));
  ctl.disconnect();
  EXPECT_EQ(sim().state().clock_source, BusCtl::kFreeRun);
  service.OnConnect();
  EXPECT_EQ(args(Device::hal, hal::HW_CLOCK_SELECT, "source"), (std::vector<int64_t>{1, 4, 4}));
}

TEST_F(BusClock, DisabledControlRefusesAndLeavesTheClockAlone) {
  BusCtl fresh;
  Controller other{&fresh};
  fresh.DisableControl();
  other.connect();
  fresh.OnDisconnect();
  other.send(clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
  EXPECT_EQ(other.answer(), LGCP::ErrorCause::unsupported);
  EXPECT_EQ(sim().request_count(Device::hal), 0u);
  EXPECT_FALSE(fresh.DrvSetClkSrc(4)) << "nor can it open the device";
}

TEST_F(BusClock, DeviceFailuresAreAnsweredAsInternal) {
  sim().fail_next(Device::hal, EIO, 1);
  ctl.send(clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::internal);
  ctl.send(clock_cfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 12));  // a source the driver lacks
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::internal);
  EXPECT_EQ(args(Device::hal, hal::HW_CLOCK_SELECT, "source"), (std::vector<int64_t>{4, 12}));

  // The device cannot be opened at all; the next command opens it.
  BusCtl fresh;
  Controller other{&fresh};
  sim().fail_open(Device::hal, ENOENT);
  other.connect();
  other.send(clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
  EXPECT_EQ(other.answer(), LGCP::ErrorCause::internal);
  sim().fail_open(Device::hal, 0);
  other.send(clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
  EXPECT_EQ(other.answer(), kSuccess);
  EXPECT_GE(fresh.fd(), 0);
}

size_t count(const std::string& text, const std::string& line) {
  size_t n = 0;
  for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
  return n;
}

// A departure while the device is away, and the next controller's connect: the free-running
// default is owed and written once the device opens again; one failure line, not one a try.
TEST_F(BusClock, DefaultRefusedWhileTheDeviceIsAwayIsWrittenWhenItComesBack) {
  TestClock clock;
  ctl.send(clock_cfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2));
  ASSERT_EQ(ctl.answer(), kSuccess);
  sim().fail_open(Device::hal, ENOENT);
  sim().hangup(Device::hal);
  clock.advance(0);
  capture.clear();
  ctl.disconnect();
  service.OnConnect();
  for (int i = 0; i < 5; ++i) clock.advance(BusCtl::kRetryLastMs);
  EXPECT_EQ(sim().state().clock_source, 2);
  EXPECT_TRUE(service.owed());
  EXPECT_EQ(count(capture.err.str(), "clkctl: set clock source fail: code 1.\n"), 1u) << capture.err.str();

  sim().fail_open(Device::hal, 0);
  clock.advance(BusCtl::kRetryLastMs);
  EXPECT_EQ(sim().state().clock_source, BusCtl::kFreeRun);
  EXPECT_FALSE(service.owed());
}

// A reset device (its descriptor hangs up) is told the source again at once; a default it
// refuses is retried until it takes it; a refused command leaves the source wanted before.
TEST_F(BusClock, ResetAndRefusalsLeaveTheWantedSourceOwed) {
  TestClock clock;
  ctl.send(clock_cfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2));
  ASSERT_EQ(ctl.answer(), kSuccess);
  sim().state().clock_source = -1;
  sim().hangup(Device::hal);
  clock.advance(0);
  EXPECT_EQ(sim().state().clock_source, 2);
  EXPECT_FALSE(service.owed());

  sim().fail_next(Device::hal, EIO, 1);
  ctl.send(clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::internal);
  EXPECT_EQ(service.wanted(), 2);
  EXPECT_FALSE(service.owed());

  capture.clear();
  sim().fail_next(Device::hal, EIO, 1000000);
  ctl.disconnect();
  for (int i = 0; i < 5; ++i) clock.advance(BusCtl::kRetryLastMs);
  EXPECT_EQ(sim().state().clock_source, 2);
  EXPECT_EQ(count(capture.err.str(), "clkctl: HW_CLOCK_SELECT fail.\n"), 1u) << capture.err.str();
  sim().fail_next(Device::hal, 0, 0);
  clock.advance(BusCtl::kRetryLastMs);
  EXPECT_EQ(sim().state().clock_source, BusCtl::kFreeRun);
  EXPECT_FALSE(service.owed());
}

}  // namespace
