// The TDM switch: its requests, the shadow table, the background refresh, driver failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <memory>
#include <vector>

#include "board/sim/SimBoard.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "hardware/HwMux.h"
#include "hardware/SwitchModel.h"
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

  // Negative channels are refused, and so are those the switch does not have; those outside
  // the table are sent but never touch it.
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
  EXPECT_FALSE(mux.Disable(20000)) << "the switch does not have it: nothing is sent";
  EXPECT_EQ(requests().size(), 6u);
  EXPECT_EQ(requests()[3].text(), "MUX_CONNECT output=10240 source=7 -> 0");
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(mux.entry(i), before[static_cast<size_t>(i)]) << i;
  mux.RefreshChannel(-1);
  mux.RefreshChannel(2048);
  EXPECT_EQ(requests().size(), 6u);
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
            "hwMux: owed requests refused: Input/output error, 1 left\n"
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

namespace {

// The loop run for ms of its clock, a pass every 10 ms.
void run_for(unsigned ms) {
  for (unsigned t = 0; t < ms; t += 10) {
    Mux::test_clock_advance_ms(10);
    multiplexer.run_once(0);
  }
}

size_t lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

// The board's drivers are reset (every device hung up, the switch emptied) and the switch then
// refuses requests for a while, busy or finding them invalid: everything the daemon wants is on
// the switch again once it takes requests, the routes outside the bus outputs included, with
// one open and a few lines.
TEST_F(HwMuxTest, AResetSwitchGetsEverythingWantedAgainThroughRefusals) {
  using Entry = board::sim::SimSwitch::Entry;
  for (int error : {EBUSY, EINVAL}) {
    SCOPED_TRACE(error);
    Mux::test_clock_set(1'000'000'000ull * 1000);
    HwMux& mux = open();
    ASSERT_TRUE(mux.Connect(1, 2));        // a trunk timeslot's output
    ASSERT_TRUE(mux.Connect(1, 8576));     // a bus output
    ASSERT_TRUE(mux.Connect(5, 2048));     // an RTP channel
    ASSERT_TRUE(mux.Connect(33, 4096));    // a controller channel
    ASSERT_TRUE(mux.Write(8201, 0x7E));
    ASSERT_TRUE(mux.Disconnect(3));
    sim().reset();
    sim().fail_next(Device::hal, error, 2500);
    capture_.clear();
    run_for(5000);
    const auto& sw = sim().state().mux;
    EXPECT_EQ(sw.entry(2).source, 1);
    EXPECT_EQ(sw.entry(8576).source, 1);
    EXPECT_EQ(sw.entry(2048).source, 5);
    EXPECT_EQ(sw.entry(4096).source, 33);
    EXPECT_EQ(sw.entry(8201).kind, Entry::constant);
    EXPECT_EQ(sw.entry(8201).byte, 0x7E);
    EXPECT_EQ(sw.entry(3).kind, Entry::constant);
    EXPECT_EQ(sw.entry(8192).kind, Entry::disabled);
    EXPECT_EQ(mux.owed(), 0u);
    EXPECT_EQ(count_of(log(), "hwMux: device opened"), 1u) << log();
    EXPECT_LE(lines(log()), 4u) << log();
    EXPECT_LE(sim().request_count(Device::hal), 5 * 2100u + 2048u);
    Mux::test_clock_clear();
  }
}

// A board whose every bus output is driven (a write test on all 16 buses, or calls) has
// nothing for the refresh to disable: a reset is noticed all the same within a sweep, and
// everything wanted goes again; the refresh costs a request a step meanwhile.
TEST_F(HwMuxTest, AResetIsNoticedWhenEveryOutputIsDriven) {
  using Entry = board::sim::SimSwitch::Entry;
  Mux::test_clock_set(1'000'000'000ull * 1000);
  HwMux& mux = open();
  for (int i = 0; i < HwMux::kOutputs; ++i)
    ASSERT_TRUE(i < 120 ? mux.Connect(i + 1, 8192 + i) : mux.Write(8192 + i, static_cast<unsigned char>(i)));
  sim().clear_requests();
  run_for(1000);
  EXPECT_LE(sim().request_count(Device::hal), 20u);
  sim().reset();
  run_for(1000);
  const auto& sw = sim().state().mux;
  EXPECT_EQ(sw.entry(8192).source, 1);
  EXPECT_EQ(sw.entry(8192 + 119).source, 120);
  EXPECT_EQ(sw.entry(8192 + 2047).kind, Entry::constant);
  EXPECT_EQ(sw.entry(8192 + 2047).byte, 2047 & 0xFF);
  EXPECT_EQ(mux.owed(), 0u);
  Mux::test_clock_clear();
}

// Takedowns asked for while the device is away are carried out when it returns, and what is
// asked later for an output replaces what was owed for it. While it is away nothing opens it
// but the paced reopen.
TEST_F(HwMuxTest, WishesMadeWhileTheDeviceIsAwayAreCarriedOutOnItsReturn) {
  using Entry = board::sim::SimSwitch::Entry;
  Mux::test_clock_set(1'000'000'000ull * 1000);
  HwMux& mux = open();
  for (int out : {8326, 8327, 8328, 8329}) ASSERT_TRUE(mux.Connect(1, out));
  sim().hangup(Device::hal);
  sim().fail_open(Device::hal, ENODEV);
  capture_.clear();
  mux.Disable(8326);  // finds the device gone, cannot open it again
  EXPECT_FALSE(mux.Disconnect(8327));
  EXPECT_FALSE(mux.Write(8328, 0x55));
  EXPECT_FALSE(mux.Disconnect(8329));
  EXPECT_FALSE(mux.Disable(8329));
  for (int n = 0; n < 100; ++n) mux.Disable(8192 + n);
  run_for(3500);
  EXPECT_EQ(count_of(log(), "hwMux: can't open device"), 1u) << log();
  EXPECT_LE(lines(log()), 3u) << log();
  sim().fail_open(Device::hal, 0);
  run_for(1100);
  const auto& sw = sim().state().mux;
  EXPECT_EQ(sw.entry(8326).kind, Entry::disabled);
  EXPECT_EQ(sw.entry(8327).kind, Entry::constant);
  EXPECT_EQ(sw.entry(8327).byte, 0xD5);
  EXPECT_EQ(sw.entry(8328).byte, 0x55);
  EXPECT_EQ(sw.entry(8329).kind, Entry::disabled) << "the later disable replaced the owed disconnect";
  EXPECT_EQ(count_of(log(), "hwMux: device opened"), 1u);
  Mux::test_clock_clear();
}

// A full board's 120 takedowns refused for three seconds: one line each when first refused, one
// when the refusals start and one when the switch takes them; the retries back off and stay
// within the refresh's pacing.
TEST_F(HwMuxTest, RefusedTakedownsAreRetriedQuietlyWithBackOff) {
  using Entry = board::sim::SimSwitch::Entry;
  Mux::test_clock_set(1'000'000'000ull * 1000);
  HwMux& mux = open();
  for (int n = 0; n < 120; ++n) ASSERT_TRUE(mux.Connect(n, 8192 + 256 + n));
  sim().fail_next(Device::hal, EBUSY, 1000000, board::hal::MUX_DISABLE);
  capture_.clear();
  sim().clear_requests();
  for (int n = 0; n < 120; ++n) EXPECT_FALSE(mux.Disable(8192 + 256 + n));
  run_for(3000);
  EXPECT_EQ(lines(log()), 121u) << log();
  EXPECT_EQ(log().find("hwMux: disable failed 8448 : Device or resource busy\n"
                       "hwMux: owed requests refused: Device or resource busy, 1 left\n"),
            0u);
  EXPECT_LE(sim().request_count(Device::hal), 120u + 3 * 2100u);
  EXPECT_EQ(mux.owed(), 120u);
  sim().fail_next(Device::hal, 0, 0);
  run_for(700);
  for (int n = 0; n < 120; ++n) ASSERT_EQ(sim().state().mux.entry(8192 + 256 + n).kind, Entry::disabled) << n;
  EXPECT_EQ(mux.owed(), 0u);
  EXPECT_EQ(lines(log()), 122u);
  EXPECT_NE(log().find("hwMux: owed requests taken\n"), std::string::npos);
  EXPECT_EQ(sim().open_count(Device::hal), 1);
  Mux::test_clock_clear();
}

// What a channel's holder asks before giving the channel back: whether a route into or out of
// it stands on the switch (confirmed), or stands or is still wanted.
TEST(SwitchModelTest, AnswersWhetherARouteStillUsesAChannel) {
  using State = SwitchModel::State;
  SwitchModel m;
  m.want(8200, State::Routed(4096));
  EXPECT_TRUE(SwitchModel::route_uses(4096));
  EXPECT_FALSE(SwitchModel::confirmed_route_uses(4096)) << "wanted, not yet made";
  m.confirm(8200, State::Routed(4096));
  EXPECT_TRUE(SwitchModel::confirmed_route_uses(4096));
  EXPECT_TRUE(SwitchModel::confirmed_route_uses(8200)) << "a route into the output uses it too";
  m.want(8200, State::Disabled());
  EXPECT_TRUE(SwitchModel::confirmed_route_uses(4096)) << "the takedown is owed";
  EXPECT_TRUE(SwitchModel::route_uses(4096));
  m.confirm(8200, State::Disabled());
  EXPECT_FALSE(SwitchModel::route_uses(4096));
  EXPECT_FALSE(SwitchModel::route_uses(8200));

  // A grace is a wanted state with a deadline; a later wish replaces it.
  m.want(2, State::Routed(4097));
  m.confirm(2, State::Routed(4097));
  m.schedule(2, State::Disabled(), 500, 4097);
  EXPECT_EQ(m.scheduled().size(), 1u);
  m.want(2, State::Routed(5));
  EXPECT_TRUE(m.scheduled().empty());
  EXPECT_EQ(m.find(2)->graceOf, -1);
  EXPECT_TRUE(SwitchModel::confirmed_route_uses(4097)) << "until the switch takes the new route";
  m.confirm(2, State::Routed(5));
  EXPECT_FALSE(SwitchModel::route_uses(4097));

  // After a reopen nothing is confirmed and everything wanted is owed, the bus outputs first.
  m.forget_confirmed();
  EXPECT_FALSE(SwitchModel::confirmed_route_uses(5));
  EXPECT_TRUE(SwitchModel::route_uses(5));
  ASSERT_EQ(m.owed().size(), 2049u);
  EXPECT_EQ(m.owed().front(), 8192);
  EXPECT_EQ(m.owed().back(), 2);
}

// A route, byte or takedown for a channel the switch does not have is refused before it is
// sent, and nothing is owed for it. An output the switch refuses for good costs a couple of
// requests a second and one line, however many requests the others get through, and holds up
// no other.
TEST_F(HwMuxTest, AnOutputRefusedForGoodHoldsUpNoOtherAndCostsLittle) {
  using Entry = board::sim::SimSwitch::Entry;
  Mux::test_clock_set(1'000'000'000ull * 1000);
  HwMux& mux = open();
  ASSERT_TRUE(mux.Connect(1, 8300));
  ASSERT_TRUE(mux.Connect(1, 33));  // outside the sweep: only the retries send it
  EXPECT_FALSE(mux.Connect(1, 20000));
  EXPECT_FALSE(mux.Write(16384, 1));
  EXPECT_EQ(sim().request_count(Device::hal), 2u) << "decided from the number, not sent";
  EXPECT_EQ(mux.owed(), 0u);
  capture_.clear();
  EXPECT_FALSE(mux.Disable(20000)) << "no such channel";
  EXPECT_FALSE(mux.Disconnect(16384));
  EXPECT_EQ(mux.owed(), 0u) << "nothing there to take down";
  sim().refuse_channel(40, EIO);
  EXPECT_FALSE(mux.Disable(40));
  EXPECT_EQ(mux.owed(), 1u);
  sim().fail_next(Device::hal, EBUSY, 1000000, board::hal::MUX_WRITE);
  EXPECT_FALSE(mux.Disconnect(8300));
  sim().fail_next(Device::hal, EBUSY, 1, board::hal::MUX_DISABLE);
  EXPECT_FALSE(mux.Disable(33));
  // Only writes are refused now: the disable goes at a retry, behind or before the write.
  sim().fail_next(Device::hal, EBUSY, 1000000, board::hal::MUX_WRITE);
  sim().clear_requests();
  for (unsigned ms = 0; ms < 4000; ms += 10) {
    run_for(10);
    if (ms % 100 == 0) {
      ASSERT_TRUE(mux.Connect(static_cast<int>(ms / 100), 8301));
    }
  }
  EXPECT_EQ(sim().state().mux.entry(33).kind, Entry::disabled);
  EXPECT_EQ(sim().state().mux.entry(8300).source, 1);
  EXPECT_EQ(mux.owed(), 2u);
  size_t refused = 0;
  for (const Request& q : requests()) {
    refused += q.arg("channel") == 40;
    EXPECT_LT(q.arg("channel"), 16384);
  }
  EXPECT_LE(refused, 4 * 3u) << "the others' successes do not hasten it";
  EXPECT_GE(refused, 4u);
  sim().fail_next(Device::hal, 0, 0);
  run_for(1000);
  EXPECT_EQ(sim().state().mux.entry(8300).kind, Entry::constant);
  EXPECT_EQ(mux.owed(), 1u) << "the disable refused for good stays owed";
  EXPECT_EQ(count_of(log(), "20000"), 1u) << log();
  EXPECT_EQ(count_of(log(), "16384"), 1u) << log();
  sim().refuse_channel(40, 0);
  Mux::test_clock_clear();
}

// However many outputs the switch refuses for good, their retries share one budget of about 32
// a second, in turn, so that each is still tried and one the switch takes again is found.
// (test_switch_reconcile checks that an owed output it does not refuse waits behind none of them,
// and that the sweep's re-disables of refused outputs do not look like a switch refusing all.)
TEST_F(HwMuxTest, OutputsRefusedForGoodShareOneBoundedBudget) {
  using Entry = board::sim::SimSwitch::Entry;
  Mux::test_clock_set(1'000'000'000ull * 1000);
  HwMux& mux = open();
  std::vector<int> outputs;
  for (int bus = 0; bus < 16; ++bus) outputs.push_back(8192 + 128 * bus);
  for (int c = 7100; c < 7400; ++c) outputs.push_back(c);
  // (The simulator keeps refusals across its reset.)
  struct Refusals {
    std::vector<int>& outputs;
    ~Refusals() {
      for (int c : outputs) sim().refuse_channel(c, 0);
    }
  } refusals{outputs};
  for (int c : outputs) sim().refuse_channel(c, EIO);
  for (int c = 7100; c < 7400; ++c) EXPECT_FALSE(mux.Disable(c));
  // Past the back-off (a re-disable is made once a sweep).
  run_for(9000);
  // Two halves, each within what the simulator's request log keeps.
  std::map<int, unsigned> tries;
  unsigned refused = 0;
  for (int half = 0; half < 2; ++half) {
    sim().clear_requests();
    run_for(6000);
    EXPECT_LE(sim().request_count(Device::hal), 6 * (2048u + 33u));
    for (const Request& q : requests()) {
      if (q.result >= 0) continue;
      ++tries[static_cast<int>(*q.arg("channel"))];
      ++refused;
    }
  }
  EXPECT_LE(refused, 12 * 33u);
  for (int c : outputs) ASSERT_GE(tries[c], 1u) << c << ": every one in turn";
  sim().refuse_channel(7399, 0);
  run_for(11000);
  EXPECT_EQ(sim().state().mux.entry(7399).kind, Entry::disabled);
  EXPECT_EQ(mux.owed(), 299u);
  Mux::test_clock_clear();
}
