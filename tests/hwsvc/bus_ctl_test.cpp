// Bus clock control through the control server against the simulated "/dev/hal".
#include <gtest/gtest.h>

#include <sstream>

#include "Harness.h"
#include "board/hal.h"
#include "hardware/BusCtl.h"

namespace {

using namespace hwtest;
namespace hal = board::hal;

LGCP::Command clock_cfg(LGCP::ClkSel0::NamedNumber sel, LGCP::BExtEn::NamedNumber ext, int source) {
  LGCP::Command c;
  LGCP::ClockCfg& cfg = c.select_clockCfg();
  cfg.set_clkSel0(sel);
  cfg.set_bextEn(ext);
  cfg.set_source(source);
  return c;
}

std::vector<int64_t> selected_sources() {
  std::vector<int64_t> out;
  for (const Request& r : requests(Device::hal, hal::HW_CLOCK_SELECT)) out.push_back(arg(r, "source"));
  return out;
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
    EXPECT_EQ(selected_sources(), c.selected < 0 ? std::vector<int64_t>{} : std::vector<int64_t>{c.selected});
  }
  std::ostringstream names;
  for (int source : {0, 4, 5, 6, 8, -3}) BusCtl::PutSourceName(names << ' ', source);
  EXPECT_EQ(names.str(), " f0 freerun X3 ?1 8 -3");
}

TEST_F(BusClock, ConnectAndDisconnectFallBackToTheFreeRunningClock) {
  ctl.send(clock_cfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 1));
  ctl.disconnect();
  EXPECT_EQ(sim().state().clock_source, BusCtl::kFreeRun);
  service.OnConnect();
  EXPECT_EQ(selected_sources(), (std::vector<int64_t>{1, 4, 4}));
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
  EXPECT_EQ(selected_sources(), (std::vector<int64_t>{4, 12}));

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

}  // namespace
