// SPI line interfaces: bring-up and clock master register writes, status signals each second.
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
  // The process's own instance (the bus clock's tests make it) would answer the board's
  // hang-ups beside the one under test: it is shown a bus without SPI, which stops it for good.
  static void SetUpTestSuite() {
    clean_board();
    sim().state().spi_present = false;
    spiCtrl::instance()->read(0, spiCtrl::kRegControl);
    sim().state().spi_present = true;
  }
  void SetUp() override { clean_board(); }
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

TEST_F(SpiStatus, StartBringsUpSevenChannelsAndTheEndTakesAllDown) {
  start(false);
  EXPECT_EQ(spi_writes(), start_writes());
  EXPECT_EQ(sim().state().spi[7][50], 0);  // the eighth is never touched
  ASSERT_GE(spi->fd(), 0);
  EXPECT_EQ(fcntl(spi->fd(), F_GETFD) & FD_CLOEXEC, 0) << "kept across exec";

  // The clock master is one channel or none; bad channels are refused.
  sim().clear_requests();
  spi->clock(3);
  spi->clock(-1);
  spi->clock(8);
  spi->clock(-2);
  spi->init_channel(8);
  spi->enable_channel(-1);
  spi->disable_channel(9);
  std::vector<Reg> expected;
  for (int channel = 0; channel < 8; ++channel) expected.emplace_back(channel, 87, 48);
  expected.emplace_back(3, 87, 56);
  for (int channel = 0; channel < 8; ++channel) expected.emplace_back(channel, 87, 48);
  EXPECT_EQ(spi_writes(), expected);

  // Going away takes every channel down and drops the clock master.
  ctl.reset();
  sim().clear_requests();
  spi.reset();
  expected.clear();
  for (int channel = 0; channel < 8; ++channel) expected.emplace_back(channel, 50, 128);
  for (int channel = 0; channel < 8; ++channel) expected.emplace_back(channel, 87, 48);
  EXPECT_EQ(spi_writes(), expected);
}

TEST_F(SpiStatus, StatusRegisterGivesTheLineStateEverySecondWhileConnected) {
  const std::array<uint8_t, 8> status = {0xC5, 0x05, 0x01, 0x00, 0x85, 0x45, 0xFE, 0xC7};
  for (int channel = 0; channel < 8; ++channel) set_status(channel, status[static_cast<size_t>(channel)]);
  start();
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
  EXPECT_EQ(reads[5].text(), "SPI_READ channel=5 address=51 data=255 -> 69");
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
  auto slips = [&] {
    clock.advance(1000);
    std::vector<int> out;
    for (const Line& l : lines(ctl->signals())) out.push_back(l.slips);
    out.resize(2);
    return out;
  };
  EXPECT_EQ(slips(), (std::vector<int>{1, 1}));
  EXPECT_EQ(slips(), (std::vector<int>{0, 0})) << "still set: already reported";
  set_status(0, 0xC5);
  EXPECT_EQ(slips(), (std::vector<int>{0, 0}));
  set_status(0, 0xE5);
  EXPECT_EQ(slips(), (std::vector<int>{1, 0})) << "cleared, then set again";
}

TEST_F(SpiStatus, UnreadableChannelIsSkippedNotReportedAsLoss) {
  for (int channel = 0; channel < 8; ++channel) set_status(channel, 0xC5);
  start();
  sim().fail_next(Device::hal, EIO, 1);
  clock.advance(1000);
  const auto round = lines(ctl->signals());
  ASSERT_EQ(round.size(), 7u);
  EXPECT_EQ(round[0].trunk, 1);
  for (const Line& l : round) EXPECT_EQ(l.state, ACP::TrunkState::normal);
  EXPECT_TRUE(spi->timer_armed());
  // A failed write is not a driver without SPI.
  sim().fail_next(Device::hal, EBUSY, 1);
  spi->disable_channel(2);
  EXPECT_TRUE(spi->spi_present());
}

TEST_F(SpiStatus, DriverWithoutSpiStopsEverySpiOperationForGood) {
  start();
  sim().state().spi_present = false;
  clock.advance(1000);
  EXPECT_TRUE(ctl->signals().empty());
  EXPECT_FALSE(spi->spi_present());
  EXPECT_FALSE(spi->timer_armed());

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
  EXPECT_TRUE(spi->timer_armed());  // the status round opens it once it can
  sim().fail_open(Device::hal, 0);
  spi->enable_channel(7);
  std::vector<Reg> expected = start_writes();
  expected.emplace_back(7, 50, 0);
  EXPECT_EQ(spi_writes(), expected);
}

// A reset device gives its descriptors up (ENODEV, as a driver without SPI answers): the
// status round opens it anew, brings the channels up again and goes on reporting; only ENODEV
// on the new descriptor means no SPI.
TEST_F(SpiStatus, ResetDeviceIsOpenedAgainNotTakenForOneWithoutSpi) {
  start();
  for (auto& channel : sim().state().spi) channel.fill(0);
  set_status(0, 0xC5);
  sim().hangup(Device::hal);
  sim().clear_requests();
  clock.advance(1000);
  EXPECT_TRUE(spi->spi_present());
  EXPECT_TRUE(spi->timer_armed());
  EXPECT_GE(spi->fd(), 0);
  EXPECT_EQ(spi_writes(), start_writes());
  std::vector<Line> got = lines(ctl->signals());
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[0], (Line{0, ACP::TrunkState::normal, 0}));

  sim().state().spi_present = false;
  clock.advance(1000);
  EXPECT_FALSE(spi->spi_present());
  const std::string log = capture.log.str();
  EXPECT_NE(log.find("spi: hal without spi"), std::string::npos);
  EXPECT_EQ(log.find("spi: hal without spi"), log.rfind("spi: hal without spi"));
}

// The device is reset and cannot be opened for a moment, while the controller leaves: the service
// opens it again by itself, brings the channels and the clock master back, and the next
// controller gets the line status. Without any controller, a reset is found all the same (the
// driver hangs the descriptor up), and no register is read.
TEST_F(SpiStatus, ResetDeviceIsBroughtBackWithoutAController) {
  start();
  spi->clock(2);
  set_status(0, 0xC5);
  std::vector<Reg> expected = start_writes();
  expected.emplace_back(2, 87, 56);
  for (bool connected : {true, false}) {
    for (auto& channel : sim().state().spi) channel.fill(0);
    sim().fail_open(Device::hal, ENOENT);
    sim().hangup(Device::hal);
    if (connected) {
      clock.advance(1000);  // the status round finds it gone
      EXPECT_LT(spi->fd(), 0);
      ctl->disconnect();
    }
    sim().fail_open(Device::hal, 0);
    sim().clear_requests();
    ctl->signals();
    clock.advance(1000);
    EXPECT_GE(spi->fd(), 0);
    EXPECT_EQ(spi_writes(), expected) << "connected first: " << connected;
    clock.advance(3000);
    EXPECT_TRUE(requests(Device::hal, hal::SPI_READ).empty());
    EXPECT_TRUE(ctl->signals().empty());
  }
  set_status(0, 0xC5);
  ctl->connect();
  clock.advance(1000);
  std::vector<Line> got = lines(ctl->signals());
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[0], (Line{0, ACP::TrunkState::normal, 0}));
}

}  // namespace
