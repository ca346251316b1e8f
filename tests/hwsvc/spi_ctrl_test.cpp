// SPI line status against the simulated "/dev/hal": the register writes that bring the line
// interfaces up and down and choose the clock master, the status signals every second, and
// what a read failure or a driver without SPI does to them.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <array>
#include <memory>
#include <tuple>
#include <vector>

#include "Harness.h"
#include "board/hal.h"
#include "hardware/spiCtrl.h"

namespace {

using namespace hwtest;
namespace hal = board::hal;

using Reg = std::tuple<int, int, int>;  // channel, address, data

std::vector<Reg> spi_writes() {
  std::vector<Reg> out;
  for (const Request& r : requests(Device::hal, hal::SPI_WRITE))
    out.emplace_back(arg(r, "channel"), arg(r, "address"), arg(r, "data"));
  return out;
}

// The writes that bring up the seven line interfaces, each initialised and then enabled.
std::vector<Reg> start_writes() {
  std::vector<Reg> out;
  for (int ch = 0; ch < 7; ++ch)
    out.insert(out.end(), {{ch, 50, 128}, {ch, 48, 8}, {ch, 87, 48}, {ch, 52, 96},
                           {ch, 53, 0}, {ch, 54, 0}, {ch, 55, 0}, {ch, 50, 0}});
  return out;
}

void set_status(int channel, uint8_t value) { sim().state().spi[static_cast<size_t>(channel)][51] = value; }

struct Line {
  int trunk;
  int state;
  int slips;
  bool operator==(const Line&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Line& l) {
  return os << "{" << l.trunk << " state " << l.state << " slips " << l.slips << "}";
}

std::vector<Line> lines(const std::vector<LGCP::Signal>& signals) {
  std::vector<Line> out;
  for (const ACP::TrunkStatus* s : trunk_statuses(signals)) {
    EXPECT_EQ(s->get_type().getValue(), ACP::TrunkType::bri);
    EXPECT_FALSE(s->get_clockMaster());
    EXPECT_EQ(s->get_lossBF().getValue() | s->get_lossCarrier().getValue() | s->get_lossAIS().getValue() |
                  s->get_lossRAI().getValue(),
              0);
    out.push_back({s->get_trunk().getValue(), s->get_state().getValue(), s->get_slips().getValue()});
  }
  return out;
}

class SpiStatus : public ::testing::Test {
 protected:
  void SetUp() override { clean_board(); }
  void TearDown() override {
    ctl.reset();
    spi.reset();
  }
  // A fresh service, bound to a server whose controller is connected.
  void start(bool connect = true) {
    spi = std::make_unique<spiCtrl>();
    ctl = std::make_unique<Controller>(std::initializer_list<CtrlSrv::Service*>{spi.get()});
    if (connect) ctl->connect();
  }

  Capture capture;
  TestClock clock;
  std::unique_ptr<spiCtrl> spi;
  std::unique_ptr<Controller> ctl;
};

TEST_F(SpiStatus, StartBringsUpSevenChannelsOnADescriptorKeptAcrossExec) {
  start(false);
  EXPECT_EQ(spi_writes(), start_writes());
  EXPECT_EQ(sim().state().spi[6][50], 0);
  EXPECT_EQ(sim().state().spi[7][50], 0);  // the eighth is never touched
  ASSERT_GE(spi->fd(), 0);
  EXPECT_EQ(fcntl(spi->fd(), F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(capture.log.str().rfind("spi: try init\nspi: init channel 0\nspi: enable channel 0\nspi: init channel 1\n", 0),
            0u);

  // Going away takes every channel down and drops the clock master.
  ctl.reset();
  sim().clear_requests();
  spi.reset();
  std::vector<Reg> expected;
  for (int channel = 0; channel < 8; ++channel) expected.emplace_back(channel, 50, 128);
  for (int channel = 0; channel < 8; ++channel) expected.emplace_back(channel, 87, 48);
  EXPECT_EQ(spi_writes(), expected);
}

TEST_F(SpiStatus, ClockMasterIsOneChannelOrNone) {
  start(false);
  sim().clear_requests();
  capture.clear();
  spi->clock(3);
  std::vector<Reg> expected;
  for (int channel = 0; channel < 8; ++channel) expected.emplace_back(channel, 87, 48);
  expected.emplace_back(3, 87, 56);
  EXPECT_EQ(spi_writes(), expected);

  sim().clear_requests();
  spi->clock(-1);
  expected.pop_back();
  EXPECT_EQ(spi_writes(), expected);

  sim().clear_requests();
  spi->clock(8);
  spi->clock(-2);
  spi->init_channel(8);
  spi->enable_channel(-1);
  spi->disable_channel(9);
  EXPECT_TRUE(spi_writes().empty());
  EXPECT_EQ(capture.log.str(),
            "spi: set clock master on channel 3\n"
            "spi: clock master disabled\n"
            "spi: bad channel for set clock master 8\n"
            "spi: bad channel for set clock master -2\n"
            "spi: bad channel for init 8\n"
            "spi: bad channel for enable -1\n"
            "spi: bad channel for disable 9\n");
}

TEST_F(SpiStatus, StatusRegisterGivesTheLineState) {
  const std::array<uint8_t, 8> status = {0xC5, 0x05, 0x01, 0x00, 0x85, 0x45, 0xFE, 0xC7};
  for (int channel = 0; channel < 8; ++channel) set_status(channel, status[static_cast<size_t>(channel)]);
  start();
  EXPECT_TRUE(spi->timer_armed());
  clock.advance(999);
  EXPECT_TRUE(ctl->signals().empty());
  clock.advance(1);
  using S = ACP::TrunkState;
  EXPECT_EQ(lines(ctl->signals()), (std::vector<Line>{{0, S::normal, 0},
                                                      {1, S::ais, 0},
                                                      {2, S::lossBF, 0},
                                                      {3, S::lossCarrier, 0},
                                                      {4, S::rai, 0},
                                                      {5, S::ais, 0},
                                                      {6, S::lossCarrier, 1},
                                                      {7, S::normal, 0}}));
  const auto reads = requests(Device::hal, hal::SPI_READ);
  ASSERT_EQ(reads.size(), 8u);
  EXPECT_EQ(arg(reads[5], "channel"), 5);
  EXPECT_EQ(arg(reads[5], "address"), 51);
  EXPECT_EQ(arg(reads[5], "data"), 0xFF);
  // Every second while connected; not after the controller went away.
  clock.advance(1000);
  EXPECT_EQ(ctl->signals().size(), 8u);
  ctl->disconnect();
  EXPECT_FALSE(spi->timer_armed());
  clock.advance(5000);
  EXPECT_TRUE(ctl->signals().empty());
}

// Each channel counts its own slips: one report per rising edge of its slip bit.
TEST_F(SpiStatus, SlipIsReportedOncePerEdgeOnEachChannel) {
  start();
  set_status(0, 0xE5);
  set_status(1, 0xE5);
  clock.advance(1000);
  auto round = lines(ctl->signals());
  ASSERT_EQ(round.size(), 8u);
  EXPECT_EQ(round[0].slips, 1);
  EXPECT_EQ(round[1].slips, 1);

  clock.advance(1000);  // still set: already reported
  round = lines(ctl->signals());
  EXPECT_EQ(round[0].slips, 0);
  EXPECT_EQ(round[1].slips, 0);

  set_status(0, 0xC5);
  clock.advance(1000);
  set_status(0, 0xE5);
  clock.advance(1000);
  round = lines(ctl->signals());
  ASSERT_EQ(round.size(), 16u);
  EXPECT_EQ(round[8].slips, 1);  // cleared, then set again
  EXPECT_EQ(round[9].slips, 0);
}

TEST_F(SpiStatus, UnreadableChannelIsSkippedNotReportedAsLoss) {
  for (int channel = 0; channel < 8; ++channel) set_status(channel, 0xC5);
  start();
  sim().fail_next(Device::hal, EIO, 1);
  capture.clear();
  clock.advance(1000);
  const auto round = lines(ctl->signals());
  ASSERT_EQ(round.size(), 7u);
  EXPECT_EQ(round[0].trunk, 1);
  for (const Line& l : round) EXPECT_EQ(l.state, ACP::TrunkState::normal);
  EXPECT_EQ(capture.log.str(), "spi: read error: channel=0 addr=51\n");
  EXPECT_TRUE(spi->timer_armed());

  // A failed write is logged with its register and value.
  capture.clear();
  sim().fail_next(Device::hal, EBUSY, 1);
  spi->disable_channel(2);
  EXPECT_EQ(capture.log.str(), "spi: write error: channel=2 addr=50 data=128\nspi: disable channel 2\n");
}

TEST_F(SpiStatus, DriverWithoutSpiStopsEverySpiOperationForGood) {
  start();
  sim().state().spi_present = false;
  capture.clear();
  clock.advance(1000);
  EXPECT_TRUE(ctl->signals().empty());
  EXPECT_FALSE(spi->spi_present());
  EXPECT_FALSE(spi->timer_armed());
  EXPECT_EQ(capture.log.str(), "spi: hal without spi\n");

  sim().state().spi_present = true;
  sim().clear_requests();
  spi->clock(1);
  spi->enable_channel(1);
  spi->OnConnect();
  clock.advance(3000);
  EXPECT_TRUE(spi_writes().empty());
  EXPECT_TRUE(requests(Device::hal, hal::SPI_READ).empty());
  EXPECT_TRUE(ctl->signals().empty());
}

TEST_F(SpiStatus, DeviceThatCannotBeOpenedIsRetriedAtTheNextUse) {
  sim().fail_open(Device::hal, ENOENT);
  start();
  EXPECT_LT(spi->fd(), 0);
  EXPECT_FALSE(spi->timer_armed());
  EXPECT_EQ(capture.log.str().rfind("spi: try init\nspi: /dev/hal open fail\n", 0), 0u);

  sim().fail_open(Device::hal, 0);
  spi->enable_channel(7);
  EXPECT_GE(spi->fd(), 0);
  std::vector<Reg> expected = start_writes();
  expected.emplace_back(7, 50, 0);
  EXPECT_EQ(spi_writes(), expected);
}

}  // namespace
