// E1 trunk control: status signals, the TCLK mask, CAS commands and events, failing devices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Harness.h"
#include "board/e1cas.h"
#include "board/maintenance.h"
#include "hardware/E1Ctl.h"

namespace {

using namespace hwtest;
namespace cas = board::e1cas;
namespace maint = board::maintenance;
using Texts = std::vector<std::string>;

LGCP::Command trunk_cfg(int trunk, LGCP::TrunkMode::NamedNumber mode) {
  LGCP::Command c;
  LGCP::TrunkCfg& cfg = c.select_trunkCfg();
  cfg.set_trunk(trunk);
  cfg.set_mode(mode);
  return c;
}

enum CasCmd { kOpen, kClose, kSet, kGet };

LGCP::Command cas_cmd(CasCmd cmd, int trunk, int timeslot, int bits = 0) {
  LGCP::Command c;
  LGCP::CasCommand& cc = c.select_ioctl().select_cas();
  cc.get_channel().set_path(trunk);
  cc.get_channel().set_timeslot(timeslot);
  switch (cmd) {
    case kOpen: cc.get_cmd().set_open(bits); break;
    case kClose: cc.get_cmd().set_close(); break;
    case kSet: cc.get_cmd().set_set(bits); break;
    case kGet: cc.get_cmd().set_get(); break;
  }
  return c;
}

class E1Control : public ::testing::Test {
 protected:
  // Connects and forgets what the connect produced.
  void connect() {
    ctl.connect();
    ctl.signals();
    sim().clear_requests();
    capture.clear();
  }
  // One CAS command, answered with success; the "cas" signals it produced.
  std::vector<Cas> cas_command(CasCmd cmd, int trunk, int timeslot, int bits = 0) {
    ctl.send(cas_cmd(cmd, trunk, timeslot, bits));
    EXPECT_EQ(ctl.answer(), kSuccess);
    return cas_signals(ctl.signals());
  }
  // One CAS command that cannot be carried out: answered with an error, no signal.
  void cas_refused(CasCmd cmd, int trunk, int timeslot, int bits = 0) {
    ctl.send(cas_cmd(cmd, trunk, timeslot, bits));
    EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::invalidParams) << cmd << " " << trunk << "/" << timeslot;
    EXPECT_TRUE(cas_signals(ctl.signals()).empty());
  }
  // Loop passes until the CAS reader took what the board sent.
  void pump() {
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);
  }

  CleanBoard clean;
  Capture capture;
  TestClock clock;
  E1Ctl e1;
  Controller ctl{&e1};
};

TEST_F(E1Control, StatusOfEveryTrunkAtConnectAndEverySecond) {
  sim().set_trunk_status(1, {3, 7, 1, 2, 3, 4});
  sim().set_trunk_status(2, {6, 0, 0, 0, 0, 0});
  sim().set_trunk_status(3, {9, 0, 0, 0, 0, 0});  // a state the enumeration lacks
  ctl.connect();
  const auto signals = ctl.signals();
  auto status = trunk_statuses(signals);
  ASSERT_EQ(status.size(), 4u);
  for (int trunk = 0; trunk < 4; ++trunk) {
    EXPECT_EQ(status[trunk]->get_trunk().getValue(), trunk);
    EXPECT_EQ(status[trunk]->get_type().getValue(), ACP::TrunkType::e1);
    EXPECT_FALSE(status[trunk]->get_clockMaster());
  }
  using S = ACP::TrunkState;
  EXPECT_EQ(status[0]->get_state().getValue(), S::normal);
  EXPECT_EQ(status[1]->get_state().getValue(), S::ais);
  EXPECT_EQ((std::vector<int>{status[1]->get_slips().getValue(), status[1]->get_lossBF().getValue(),
                              status[1]->get_lossCarrier().getValue(), status[1]->get_lossAIS().getValue(),
                              status[1]->get_lossRAI().getValue()}),
            (std::vector<int>{7, 1, 2, 3, 4}));
  EXPECT_EQ(status[2]->get_state().getValue(), S::disabled);
  EXPECT_EQ(status[3]->get_state().getValue(), S::unknown);
  EXPECT_EQ(arg(requests(Device::maintenance, maint::TRUNK_STATUS).at(3), "trunk"), 3);
  EXPECT_EQ(args(Device::maintenance, maint::SET_TCLK, "mask"), std::vector<int64_t>{0});

  clock.advance(999);
  EXPECT_TRUE(ctl.signals().empty());
  clock.advance(1);
  EXPECT_EQ(ctl.status_count(), 4u);
  // A disconnect does not stop the reports; a new connect restarts them at once.
  ctl.disconnect();
  clock.advance(1000);
  auto reads = [] { return requests(Device::maintenance, maint::TRUNK_STATUS).size(); };
  EXPECT_EQ(reads(), 12u);
  clock.advance(400);
  e1.OnConnect();
  EXPECT_EQ(reads(), 16u);
  clock.advance(600);
  EXPECT_EQ(reads(), 16u);
  clock.advance(400);
  EXPECT_EQ(reads(), 20u);
}

// The status period runs on the loop's clock: a step of the time of day forward brings no
// burst, one backward no gap, and a drifting clock corrected by small steps keeps the second.
TEST_F(E1Control, StatusKeepsItsSecondAcrossStepsOfTheTimeOfDay) {
  connect();
  for (int64_t step : {3LL * 3600 * 1000, 400LL * 86400 * 1000, -20LL * 1000, -60LL * 1000, 400LL, -400LL, 400LL}) {
    clock.advance(500);
    clock.step_time_of_day(step);
    multiplexer.run_once(0);
    EXPECT_EQ(ctl.status_count(), 0u) << step;
    clock.advance(499);
    EXPECT_EQ(ctl.status_count(), 0u) << step;
    clock.advance(1);
    EXPECT_EQ(ctl.status_count(), 4u) << step;
  }
}

TEST_F(E1Control, StatusReadFailuresSkipTheTrunkAndTheDeviceIsOpenedAgain) {
  connect();
  sim().fail_next(Device::maintenance, EIO, 1);
  clock.advance(1000);
  const auto signals = ctl.signals();
  auto status = trunk_statuses(signals);
  ASSERT_EQ(status.size(), 3u);
  EXPECT_EQ(status[0]->get_trunk().getValue(), 1);

  // A maintenance device that went away is opened again at the next tick.
  sim().hangup(Device::maintenance);
  clock.advance(1000);
  EXPECT_EQ(ctl.status_count(), 0u);
  EXPECT_LT(e1.maintenance_fd(), 0);
  clock.advance(1000);
  EXPECT_EQ(ctl.status_count(), 4u);

  // One that cannot be opened is silent, and retried each second.
  E1Ctl fresh;
  Controller other{&fresh};
  sim().fail_open(Device::maintenance, ENOENT);
  sim().fail_open(Device::e1cas, ENOENT);
  other.connect();
  clock.advance(1000);
  EXPECT_TRUE(fresh.timer_armed());
  EXPECT_TRUE(other.signals().empty());
  sim().fail_open(Device::maintenance, 0);
  clock.advance(1000);
  EXPECT_EQ(other.status_count(), 4u);
}

TEST_F(E1Control, TrunkModeSetsTheTransmitClockMask) {
  connect();
  for (auto [trunk, mode] : {std::pair{2, LGCP::TrunkMode::slave}, {31, LGCP::TrunkMode::slave},
                             {0, LGCP::TrunkMode::slave}, {2, LGCP::TrunkMode::master}}) {
    ctl.send(trunk_cfg(trunk, mode));
    EXPECT_EQ(ctl.answer(), kSuccess);
  }
  EXPECT_EQ(args(Device::maintenance, maint::SET_TCLK, "mask"), (std::vector<int64_t>{0x4, 0x80000004, 0x80000005, 0x80000001}));
  EXPECT_EQ(sim().state().tclk_mask, 0x80000001u);

  // A negative trunk is ignored; one beyond the mask is refused; neither reaches the driver.
  sim().clear_requests();
  ctl.send(trunk_cfg(-1, LGCP::TrunkMode::slave));
  EXPECT_EQ(ctl.answer(), kSuccess);
  for (int trunk : {32, 2147483647}) {
    ctl.send(trunk_cfg(trunk, LGCP::TrunkMode::slave));
    EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::invalidParams) << trunk;
  }
  EXPECT_TRUE(args(Device::maintenance, maint::SET_TCLK, "mask").empty());
  EXPECT_EQ(e1.tclk_mask(), 0x80000001u);

  // The controller's departure keeps the mask, and a board reset meanwhile gets it back on the
  // status tick; the next controller starts from an empty one.
  ctl.disconnect();
  EXPECT_EQ(sim().state().tclk_mask, 0x80000001u);
  EXPECT_TRUE(args(Device::maintenance, maint::SET_TCLK, "mask").empty());
  sim().reset();
  clock.advance(1000);
  clock.advance(1000);
  EXPECT_EQ(sim().state().tclk_mask, 0x80000001u);
  e1.OnConnect();
  EXPECT_EQ(e1.tclk_mask(), 0u);
  EXPECT_EQ(sim().state().tclk_mask, 0u);

  // A mask that does not reach the driver is an internal error.
  sim().fail_next(Device::maintenance, EIO, 1);
  ctl.send(trunk_cfg(1, LGCP::TrunkMode::slave));
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::internal);
}

TEST_F(E1Control, OpenOpensTheTrunkThenEnablesTheChannel) {
  connect();
  sim().state().cas[1][5].rx = 0x9;
  EXPECT_EQ(cas_command(kOpen, 1, 5, 0x1A), (std::vector<Cas>{{1, 0, 0, 0}, {1, 5, 0x9, 0xA}}));
  EXPECT_TRUE(e1.cas_open(1));
  EXPECT_EQ(texts(Device::e1cas), (Texts{"CAS_OPEN_TRUNK trunk=1 -> 0",
                                          "CAS_ENABLE trunk=1 timeslot=5 tx=10 disable=0 -> 0",
                                          "CAS_GET trunk=1 timeslot=5 -> 0"}));

  // Already open: status 0, then the channel; "set" does the same.
  EXPECT_EQ(cas_command(kOpen, 1, 7, 0x5), (std::vector<Cas>{{1, 0, 0, 0}, {1, 7, 0, 0x5}}));
  EXPECT_EQ(cas_command(kSet, 1, 7, 0xF3), (std::vector<Cas>{{1, 0, 0, 0}, {1, 7, 0, 0x3}}));
  EXPECT_EQ(requests(Device::e1cas, cas::CAS_OPEN_TRUNK).size(), 1u);
  EXPECT_EQ(sim().state().cas[1][7].tx, 0x3);

  // The framing and signalling timeslots open only the trunk.
  sim().clear_requests();
  EXPECT_EQ(cas_command(kOpen, 0, 0, 0xF), (std::vector<Cas>{{0, 0, 0, 0}}));
  EXPECT_EQ(cas_command(kOpen, 3, 16, 0xF), (std::vector<Cas>{{3, 0, 0, 0}}));
  EXPECT_TRUE(e1.cas_open(0));
  EXPECT_TRUE(e1.cas_open(3));
  EXPECT_TRUE(requests(Device::e1cas, cas::CAS_ENABLE).empty());
  EXPECT_TRUE(requests(Device::e1cas, cas::CAS_GET).empty());
}

TEST_F(E1Control, CloseDisablesAChannelOrClosesTheTrunkAndGetReportsTheBits) {
  connect();
  cas_command(kOpen, 2, 5, 0x1);
  cas_command(kOpen, 2, 6, 0x6);
  sim().clear_requests();
  EXPECT_EQ(cas_command(kClose, 2, 5), (std::vector<Cas>{{2, 5, -1, 1}}));
  EXPECT_EQ(texts(Device::e1cas), Texts{"CAS_ENABLE trunk=2 timeslot=5 tx=0 disable=1 -> 0"});
  EXPECT_TRUE(sim().state().cas[2][6].enabled);
  cas_refused(kClose, 2, 16);

  sim().state().cas[2][6].rx = 0xC;
  EXPECT_EQ(cas_command(kGet, 2, 6), (std::vector<Cas>{{2, 6, 0xC, 0x6}}));
  EXPECT_EQ(cas_command(kGet, 2, 40), (std::vector<Cas>{{2, 40, -1, 0}})) << "refused by the driver";

  // The driver's 0 for a closed trunk is reported as status 1.
  EXPECT_EQ(cas_command(kClose, 2, 0), (std::vector<Cas>{{2, 0, 1, 0}}));
  EXPECT_FALSE(e1.cas_open(2));
  EXPECT_EQ(arg(requests(Device::e1cas, cas::CAS_CLOSE_TRUNK).at(0), "trunk"), 2);
  // Closed trunks, and trunks outside the board, refuse everything.
  sim().clear_requests();
  cas_refused(kClose, 2, 0);
  cas_refused(kGet, 2, 6);
  for (int trunk : {-1, 4, 1 << 20}) {
    for (CasCmd cmd : {kOpen, kClose, kSet, kGet}) cas_refused(cmd, trunk, 5, 1);
  }
  EXPECT_EQ(sim().request_count(Device::e1cas), 0u);
}

TEST_F(E1Control, DriverFailuresTravelInTheSignal) {
  connect();
  sim().fail_next(Device::e1cas, EIO, 1);
  EXPECT_EQ(cas_command(kOpen, 1, 5, 1), (std::vector<Cas>{{1, 0, -1, 0}}));
  EXPECT_FALSE(e1.cas_open(1));
  EXPECT_EQ(cas_command(kOpen, 1, 40, 1), (std::vector<Cas>{{1, 0, 0, 0}, {1, 40, -1, 0}}));
  cas_command(kOpen, 1, 5, 1);
  cas_command(kOpen, 1, 6, 1);
  for (auto [cmd, timeslot] : {std::pair{kClose, 5}, {kClose, 0}, {kGet, 6}}) {
    sim().fail_next(Device::e1cas, EBUSY, 1);
    EXPECT_EQ(cas_command(cmd, 1, timeslot), (std::vector<Cas>{{1, timeslot, -1, 0}}));
  }
  EXPECT_TRUE(e1.cas_open(1)) << "a failed close leaves the trunk open";
}

TEST_F(E1Control, CasChangesArriveAsSignalsAndShortRecordsAreDropped) {
  connect();
  cas_command(kOpen, 3, 12, 0x9);
  EXPECT_EQ(sim().cas_change(3, 12, 0x5), 1u);
  const uint8_t short_record[5] = {0, 0, 0, 1, 0};
  EXPECT_EQ(sim().inject_raw(Device::e1cas, short_record), 1u);
  EXPECT_EQ(sim().cas_change(0, 1, 0xF), 1u);
  pump();
  EXPECT_EQ(cas_signals(ctl.signals()), (std::vector<Cas>{{3, 12, 0x5, 0x9}, {0, 1, 0xF, 0}}));
  EXPECT_GE(e1.cas_fd(), 0);
}

// A CAS device that hangs up is given up at once (no busy loop on it) and opened again at the
// next use; the trunks and channels that were open are opened again on the new descriptor
// (reported with their bits), then the command runs.
TEST_F(E1Control, HungUpCasDeviceIsReleasedAndReopened) {
  connect();
  cas_command(kOpen, 1, 5, 0x1);
  sim().clear_requests();
  sim().hangup(Device::e1cas);
  pump();
  EXPECT_LT(e1.cas_fd(), 0);
  EXPECT_TRUE(e1.cas_open(1)) << "still open for the controller";
  for (int i = 0; i < 20; ++i) multiplexer.run_once(0);
  EXPECT_EQ(capture.err.str(), "E1: cas interface closed: end of file\n") << "once";

  EXPECT_EQ(cas_command(kOpen, 1, 5, 0x2), (std::vector<Cas>{{1, 5, 0, 0x1}, {1, 0, 0, 0}, {1, 5, 0, 0x2}}));
  EXPECT_EQ(requests(Device::e1cas, cas::CAS_OPEN_TRUNK).size(), 1u);
  sim().cas_change(1, 5, 0x4);
  pump();
  EXPECT_EQ(cas_signals(ctl.signals()), (std::vector<Cas>{{1, 5, 0x4, 0x2}}));

  // The status tick also brings it back.
  sim().hangup(Device::e1cas);
  pump();
  EXPECT_LT(e1.cas_fd(), 0);
  clock.advance(1000);
  EXPECT_GE(e1.cas_fd(), 0);
}

TEST_F(E1Control, CommandsWithoutTheDeviceOrForOthersAreRefused) {
  sim().fail_open(Device::e1cas, ENOENT);
  connect();
  ctl.send(cas_cmd(kOpen, 0, 5, 1));
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::internal);
  EXPECT_TRUE(ctl.signals().empty());
  sim().fail_open(Device::e1cas, 0);
  EXPECT_EQ(cas_command(kOpen, 0, 5, 1).size(), 2u);

  sim().clear_requests();
  LGCP::Command c;
  c.select_ioctl().set_ss7RqBSN();
  ctl.send(c);
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::unsupported);
  LGCP::Command other;
  other.set_ping();
  ctl.send(other);
  EXPECT_EQ(ctl.answer(), LGCP::ErrorCause::unexpectedMsgType);
  EXPECT_EQ(sim().request_count(Device::e1cas), 0u);
}

TEST_F(E1Control, DisconnectClosesEveryOpenTrunk) {
  connect();
  cas_command(kOpen, 0, 0);
  cas_command(kOpen, 2, 5, 1);
  sim().clear_requests();
  ctl.disconnect();
  EXPECT_EQ(texts(Device::e1cas), (Texts{"CAS_CLOSE_TRUNK trunk=0 -> 0", "CAS_CLOSE_TRUNK trunk=2 -> 0"}));
  for (int trunk = 0; trunk < 4; ++trunk) EXPECT_FALSE(e1.cas_open(trunk));
}

}  // namespace
