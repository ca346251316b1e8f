// The TDM switch: its requests, the shadow table, the background refresh, driver failures.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <memory>

#include "board/sim/SimBoard.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "hardware/HwMux.h"
#include "tests/support/CaptureStreams.h"

namespace {

using board::sim::Device;
using board::sim::Request;
using board::sim::SimBoard;

class HwMuxTest : public ::testing::Test {
 protected:
  void SetUp() override { sim().reset(); }
  void TearDown() override {
    mux_.reset();
    sim().reset();
  }
  static SimBoard& sim() { return SimBoard::instance(); }

  HwMux& open() {
    mux_ = std::make_unique<HwMux>();
    capture_.clear();
    sim().clear_requests();
    return *mux_;
  }
  std::vector<Request> requests() { return sim().requests(Device::hal); }
  std::string last_request() {
    auto r = requests();
    return r.empty() ? "" : r.back().text();
  }
  std::string log() { return capture_.log.str(); }

  vxtest::CaptureStreams capture_;
  std::unique_ptr<HwMux> mux_;
};

// A device that cannot be opened is not opened by each request (on the board that is a system
// call and a log line per request): requests fail at once, and the refresh timer tries it
// again once a kReopenMs, logging only the first failure.
TEST_F(HwMuxTest, OpeningDisablesEveryOutputAndAnUnopenableDeviceIsRetriedOnceASecond) {
  Mux::test_clock_set(1'000'000'000ull * 1000);
  sim().fail_open(Device::hal, EACCES);
  mux_ = std::make_unique<HwMux>();
  EXPECT_EQ(mux_->Read(8192), 255);
  EXPECT_FALSE(mux_->Disable(8193));
  EXPECT_FALSE(mux_->Connect(1, 8192));
  for (int step = 0; step < 15; ++step) {
    Mux::test_clock_advance_ms(HwMux::kRefreshPeriodMs);
    multiplexer.run_once(0);
  }
  EXPECT_EQ(sim().open_count(Device::hal), 0);
  EXPECT_EQ(sim().request_count(Device::hal), 0u);
  EXPECT_EQ(log(), "hwMux: init\nhwMux: can't open device: Permission denied\nhwMux: ERROR not opened\n");

  sim().fail_open(Device::hal, 0);
  Mux::test_clock_advance_ms(HwMux::kRefreshPeriodMs);
  multiplexer.run_once(0);
  EXPECT_TRUE(mux_->IsOpened());
  auto r = requests();
  ASSERT_EQ(r.size(), 2048u);
  for (int i = 0; i < 2048; ++i)
    ASSERT_EQ(r[static_cast<size_t>(i)].text(), "MUX_DISABLE channel=" + std::to_string(8192 + i) + " -> 0");
  EXPECT_TRUE(mux_->Connect(1, 8192));
  EXPECT_EQ(mux_->entry(0), 1);
  for (int i = 1; i < 2048; ++i) ASSERT_EQ(mux_->entry(i), HwMux::kDisabled);
  EXPECT_EQ(mux_->cursor(), 0u);
  Mux::test_clock_clear();
}

TEST_F(HwMuxTest, RequestsCarryTheirChannelsAndUpdateTheTable) {
  HwMux& mux = open();
  EXPECT_TRUE(mux.Connect(5, 8200));
  EXPECT_EQ(last_request(), "MUX_CONNECT output=8200 source=5 -> 0");
  EXPECT_EQ(mux.entry(8), 5);
  EXPECT_TRUE(mux.Disconnect(8201));
  EXPECT_EQ(last_request(), "MUX_WRITE channel=8201 value=213 -> 0");
  EXPECT_EQ(mux.entry(9), HwMux::kConstant);
  EXPECT_TRUE(mux.Write(8202, 0x3C));
  EXPECT_EQ(last_request(), "MUX_WRITE channel=8202 value=60 -> 0");
  EXPECT_EQ(mux.entry(10), HwMux::kConstant);
  EXPECT_EQ(mux.Read(8202), 0x3C);
  EXPECT_EQ(last_request(), "MUX_READ channel=8202 value=255 -> 0");
  EXPECT_TRUE(mux.Disable(8200));
  EXPECT_EQ(last_request(), "MUX_DISABLE channel=8200 -> 0");
  EXPECT_EQ(mux.entry(8), HwMux::kDisabled);
  EXPECT_EQ(sim().state().mux.entry(8200).kind, board::sim::SimSwitch::Entry::disabled);

  // Negative channels are refused; those outside the table are sent but never touch it.
  sim().clear_requests();
  EXPECT_FALSE(mux.Connect(-1, 8200));
  EXPECT_FALSE(mux.Connect(3, -1));
  EXPECT_FALSE(mux.Disconnect(-1));
  EXPECT_FALSE(mux.Disable(-1));
  EXPECT_FALSE(mux.Write(-1, 1));
  EXPECT_EQ(mux.Read(-1), 255);
  EXPECT_TRUE(requests().empty());
  std::array<uint16_t, 2048> before;
  for (int i = 0; i < 2048; ++i) before[static_cast<size_t>(i)] = mux.entry(i);
  EXPECT_TRUE(mux.Connect(0, 0));
  EXPECT_TRUE(mux.Disconnect(0));
  EXPECT_TRUE(mux.Write(0, 1));
  EXPECT_TRUE(mux.Connect(7, 10240));
  EXPECT_TRUE(mux.Write(12000, 1));
  EXPECT_TRUE(mux.Disconnect(16383));
  EXPECT_FALSE(mux.Disable(20000)) << "the driver refuses it, the request still went out";
  EXPECT_EQ(requests().size(), 7u);
  EXPECT_EQ(requests()[3].text(), "MUX_CONNECT output=10240 source=7 -> 0");
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(mux.entry(i), before[static_cast<size_t>(i)]) << i;
  mux.RefreshChannel(-1);
  mux.RefreshChannel(2048);
  EXPECT_EQ(requests().size(), 7u);
}

TEST_F(HwMuxTest, RefreshSweepsOnlyDisabledOutputs) {
  HwMux& mux = open();
  mux.RefreshStep();
  auto r = requests();
  ASSERT_EQ(r.size(), 128u);
  EXPECT_EQ(r.front().arg("channel"), 8193) << "the first pass visits entries 1 to 128";
  EXPECT_EQ(r.back().arg("channel"), 8320);
  EXPECT_EQ(mux.cursor(), 128u);

  mux.Connect(1, 8192 + 200);
  mux.Disconnect(8192 + 201);
  mux.Write(8192 + 202, 7);
  mux.Disable(8192 + 203);
  sim().clear_requests();
  mux.RefreshStep();
  r = requests();
  EXPECT_EQ(r.size(), 125u) << "three driven outputs skipped";
  for (const Request& q : r) ASSERT_TRUE(*q.arg("channel") < 8392 || *q.arg("channel") > 8394);

  // The cursor wraps from 2047 to 0 within a step.
  for (int pass = 0; pass < 13; ++pass) mux.RefreshStep();
  EXPECT_EQ(mux.cursor(), 1920u);
  sim().clear_requests();
  mux.RefreshStep();
  EXPECT_EQ(mux.cursor(), 0u);
  EXPECT_EQ(requests().back().arg("channel"), 8192);
}

TEST_F(HwMuxTest, RefreshRunsOnTheEventLoop) {
  Mux::test_clock_set(1'000'000'000ull * 1000);
  open();
  Mux::test_clock_advance_ms(HwMux::kRefreshPeriodMs);
  multiplexer.run_once(0);
  auto r = requests();
  ASSERT_EQ(r.size(), 128u);
  EXPECT_EQ(r.front().arg("channel"), 8193);
  mux_.reset();
  sim().clear_requests();
  Mux::test_clock_advance_ms(HwMux::kRefreshPeriodMs);
  multiplexer.run_once(0);
  EXPECT_TRUE(requests().empty()) << "a destroyed switch leaves no timer behind";
  Mux::test_clock_clear();
}

// The refresh costs the same requests a second whether the loop passes thousands of times a
// second or a few: a full sweep about once a second.
TEST_F(HwMuxTest, RefreshIsPacedByTheLoopClockNotByItsPasses) {
  Mux::test_clock_set(1'000'000'000ull * 1000);
  open();
  for (int pass = 0; pass < 5000; ++pass) multiplexer.run_once(0);
  EXPECT_TRUE(requests().empty()) << "a busy loop within one period pays nothing";
  // A busy second: a pass every 0.1 ms of the clock's milliseconds.
  for (unsigned ms = 0; ms < 1000; ++ms) {
    Mux::test_clock_advance_ms(1);
    for (int pass = 0; pass < 10; ++pass) multiplexer.run_once(0);
  }
  const size_t busy = requests().size();
  EXPECT_GE(busy, 2048u) << "every disabled output is sent again within the second";
  EXPECT_LE(busy, 2100u);
  // A quiet second: one pass when the timer is due.
  sim().clear_requests();
  for (int step = 0; step < 16; ++step) {
    Mux::test_clock_advance_ms(HwMux::kRefreshPeriodMs);
    multiplexer.run_once(0);
  }
  EXPECT_EQ(requests().size(), busy);
  // A long pause still costs one step, never more.
  sim().clear_requests();
  Mux::test_clock_advance_ms(5000);
  multiplexer.run_once(0);
  EXPECT_EQ(requests().size(), 128u);
  Mux::test_clock_clear();
}

TEST_F(HwMuxTest, FailedRequestsAreLoggedAndLeaveTheTableAsTheSwitchHasIt) {
  HwMux& mux = open();
  sim().fail_next(Device::hal, EIO, 5);
  EXPECT_FALSE(mux.Connect(5, 8200));
  EXPECT_FALSE(mux.Disconnect(8201));
  EXPECT_FALSE(mux.Write(8202, 0xAB));
  EXPECT_EQ(mux.Read(8202), 255);
  EXPECT_FALSE(mux.Disable(8203));
  EXPECT_EQ(log(),
            "hwMux: connect 5 -> 8200 failed: Input/output error\n"
            "hwMux: disconnect failed 8201 : Input/output error\n"
            "hwMux: write failed 8202 <- 0xab : Input/output error\n"
            "hwMux: read failed 8202 -> 0xff : Input/output error\n"
            "hwMux: disable failed 8203 : Input/output error\n");
  // A refused connect leaves the output as it was wanted; a refused disconnect, write or
  // disable stays wanted, owed to the switch.
  EXPECT_EQ((std::array{mux.entry(8), mux.entry(9), mux.entry(10), mux.entry(11)}),
            (std::array<uint16_t, 4>{HwMux::kDisabled, HwMux::kConstant, HwMux::kConstant, HwMux::kDisabled}));
  EXPECT_EQ(mux.owed(), 2u) << "the disable asked for what the switch confirmed already";
  EXPECT_TRUE(mux.Connect(5, 8200));
  sim().fail_next(Device::hal, EBUSY, 1);
  EXPECT_FALSE(mux.Connect(6, 8200));
  EXPECT_EQ(mux.entry(8), 5) << "the switch still carries the old source";
}

// The device is reset under the daemon: the descriptor it gave up is dropped, a new one gets
// the table (the paths of live calls, the constant outputs, the others disabled) and the
// request that found the device gone is made on it.
TEST_F(HwMuxTest, AResetDeviceIsOpenedAgainWithTheTableAndLiveRoutesKept) {
  HwMux& mux = open();
  const int old_fd = mux.fd();
  ASSERT_TRUE(mux.Connect(33, 8200));
  ASSERT_TRUE(mux.Write(8201, 0x7E));
  ASSERT_TRUE(mux.Connect(4096, 33));  // below the bus outputs: made again all the same
  sim().hangup(Device::hal);
  sim().clear_requests();
  capture_.clear();
  EXPECT_TRUE(mux.Connect(34, 8202));
  EXPECT_NE(log().find("hwMux: device gone: No such device\n"), std::string::npos) << log();
  EXPECT_NE(log().find("hwMux: device opened\n"), std::string::npos) << log();
  EXPECT_GE(mux.fd(), 0);
  EXPECT_EQ(sim().open_count(Device::hal), 1) << "the old descriptor is closed (was " << old_fd << ")";
  auto r = requests();
  ASSERT_EQ(r.size(), 2048u + 2u) << "the bus outputs, the route below them, then the request";
  EXPECT_EQ(r[8].text(), "MUX_CONNECT output=8200 source=33 -> 0");
  EXPECT_EQ(r[9].text(), "MUX_WRITE channel=8201 value=126 -> 0");
  EXPECT_EQ(r[10].text(), "MUX_DISABLE channel=8202 -> 0");
  EXPECT_EQ(r[2048].text(), "MUX_CONNECT output=33 source=4096 -> 0");
  EXPECT_EQ(r.back().text(), "MUX_CONNECT output=8202 source=34 -> 0");
  using Entry = board::sim::SimSwitch::Entry;
  EXPECT_EQ(sim().state().mux.entry(8200).source, 33);
  EXPECT_EQ(sim().state().mux.entry(33).source, 4096);
  EXPECT_EQ(sim().state().mux.entry(8202).kind, Entry::connected);

  // Found by the refresh, and a device that stays away: requests fail, the refresh timer
  // tries it again every kReopenMs, quietly.
  Mux::test_clock_set(1'000'000'000ull * 1000);
  sim().hangup(Device::hal);
  sim().fail_open(Device::hal, ENOENT);
  capture_.clear();
  for (int step = 0; step < 16; ++step) mux.RefreshStep();
  EXPECT_NE(log().find("hwMux: device gone: No such device\n"), std::string::npos) << log();
  EXPECT_LT(mux.fd(), 0);
  EXPECT_FALSE(mux.Connect(35, 8203));
  EXPECT_FALSE(mux.Disable(8203));
  sim().fail_open(Device::hal, 0);
  mux.OnRefreshTimer();
  EXPECT_LT(mux.fd(), 0) << "not before kReopenMs";
  Mux::test_clock_advance_ms(HwMux::kReopenMs);
  mux.OnRefreshTimer();
  EXPECT_GE(mux.fd(), 0);
  EXPECT_EQ(sim().state().mux.entry(8200).source, 33);
  EXPECT_EQ(sim().state().mux.entry(8203).kind, Entry::disabled);
  Mux::test_clock_clear();
}

}  // namespace
