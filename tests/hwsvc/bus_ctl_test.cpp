// Bus clock control through the control server against the simulated "/dev/hal": the source
// each configuration selects, the default clock on connect and disconnect, the refusal after
// --disable-clock, and device failures answered as such.
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
    const char* name;
  } cases[] = {
      {S::external, E::enabled, 2, 2, "f2"},       {S::external, E::enabled, 0, 0, "f0"},
      {S::external, E::enabled, 7, 7, "?2"},       {S::external, E::enabled, -1, -1, nullptr},
      {S::external, E::disabled, 2, 5, "X3"},      {S::internal, E::enabled, 3, 4, "freerun"},
      {S::internal, E::disabled, -9, 4, "freerun"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.sel << "/" << c.ext << "/" << c.source);
    sim().clear_requests();
    capture.clear();
    ctl.send(clock_cfg(c.sel, c.ext, c.source));
    EXPECT_EQ(ctl.answer(), kSuccess);
    if (c.selected < 0) {
      EXPECT_TRUE(selected_sources().empty());
      EXPECT_EQ(capture.err.str().find("clock source ="), std::string::npos);
    } else {
      EXPECT_EQ(selected_sources(), std::vector<int64_t>{c.selected});
      EXPECT_EQ(sim().state().clock_source, c.selected);
      EXPECT_NE(capture.err.str().find(std::string("clkctl: clock source = ") + c.name + "\n"), std::string::npos)
          << capture.err.str();
    }
  }
}

TEST_F(BusClock, CommandIsLoggedInValueNotationBeforeTheSelection) {
  ctl.send(clock_cfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 2));
  EXPECT_EQ(capture.err.str(),
            "clkctl: set clock source cmd: {\n"
            "  clkSel0 external,\n"
            "  bextEn enabled,\n"
            "  source 2\n"
            "}\n"
            "clkctl: clock source = f2\n");
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
  EXPECT_EQ(capture.log.str(), "clock control disabled.\n");
  other.connect();
  fresh.OnDisconnect();
  other.send(clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
  EXPECT_EQ(other.answer(), LGCP::ErrorCause::unsupported);
  EXPECT_EQ(sim().request_count(Device::hal), 0u);
  EXPECT_LT(fresh.fd(), 0);
  // Told directly, it cannot open the device either.
  EXPECT_FALSE(fresh.DrvSetClkSrc(4));
  EXPECT_NE(capture.err.str().find("clkctl: device open error\n"), std::string::npos);
}

TEST_F(BusClock, DeviceFailuresAreAnsweredAsInternal) {
  // The driver refuses the request.
  sim().fail_next(Device::hal, EIO, 1);
  ctl.send(clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::internal);
  EXPECT_NE(capture.err.str().find("clkctl: HW_CLOCK_SELECT fail.\n"), std::string::npos);

  // A source the driver does not have.
  ctl.send(clock_cfg(LGCP::ClkSel0::external, LGCP::BExtEn::enabled, 12));
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::internal);
  EXPECT_EQ(selected_sources(), (std::vector<int64_t>{4, 12}));

  // The device cannot be opened at all; the next command opens it.
  BusCtl fresh;
  Controller other{&fresh};
  sim().fail_open(Device::hal, ENOENT);
  other.connect();
  capture.clear();
  other.send(clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
  EXPECT_EQ(other.answer(), LGCP::ErrorCause::internal);
  EXPECT_NE(capture.err.str().find("clkctl: set clock source fail: code 1.\n"), std::string::npos);
  sim().fail_open(Device::hal, 0);
  other.send(clock_cfg(LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
  EXPECT_EQ(other.answer(), kSuccess);
  EXPECT_GE(fresh.fd(), 0);
}

TEST(BusClockNames, SourceOutsideTheNameTableIsPrintedAsItsNumber) {
  std::ostringstream os;
  for (int source : {0, 4, 5, 6, 8, 255, -3}) {
    BusCtl::PutSourceName(os, source);
    os << ' ';
  }
  EXPECT_EQ(os.str(), "f0 freerun X3 ?1 8 255 -3 ");
}

}  // namespace
