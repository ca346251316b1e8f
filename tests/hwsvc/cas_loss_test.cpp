// CAS across a loss of "/dev/e1-cas": the trunks and channels the controller opened stay open
// for it, are opened again on the next descriptor, and every later command works on them.
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "Harness.h"
#include "board/e1cas.h"
#include "board/maintenance.h"
#include "hardware/E1Ctl.h"

namespace {

using namespace hwtest;
namespace cas = board::e1cas;

LGCP::Command cas_cmd(int trunk, int timeslot, bool get) {
  LGCP::Command c;
  LGCP::CasCommand& cc = c.select_ioctl().select_cas();
  cc.get_channel().set_path(trunk);
  cc.get_channel().set_timeslot(timeslot);
  if (get)
    cc.get_cmd().set_get();
  else
    cc.get_cmd().set_close();
  return c;
}

LGCP::Command cas_open(int trunk, int timeslot, int bits) {
  LGCP::Command c;
  LGCP::CasCommand& cc = c.select_ioctl().select_cas();
  cc.get_channel().set_path(trunk);
  cc.get_channel().set_timeslot(timeslot);
  cc.get_cmd().set_open(bits);
  return c;
}

class CasLoss : public ::testing::Test {
 protected:
  void SetUp() override {
    ctl.connect();
    run(cas_open(1, 5, 0x3));
    run(cas_open(2, 0, 0));
    ctl.signals();
    sim().clear_requests();
  }
  // A command; its answer (kSuccess or the error cause) and its "cas" signals.
  std::pair<int, std::vector<Cas>> run(const LGCP::Command& c) {
    ctl.send(c);
    int answer = ctl.answer();
    return {answer, cas_signals(ctl.signals())};
  }
  void pump() {
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);
  }
  // The driver lost what the old descriptor held, as a restarted driver would.
  static void driver_forgets() {
    for (auto& open : sim().state().cas_trunk_open) open = false;
    for (auto& trunk : sim().state().cas)
      for (auto& channel : trunk) channel.enabled = false;
  }

  CleanBoard clean;
  Capture capture;
  TestClock clock;
  E1Ctl e1;
  Controller ctl{&e1};
};

TEST_F(CasLoss, TheStatusTickReopensAndPutsBackTrunksAndChannels) {
  sim().hangup(Device::e1cas);
  pump();
  ASSERT_LT(e1.cas_fd(), 0);
  driver_forgets();
  sim().state().cas[1][5].rx = 0x9;
  clock.advance(E1Ctl::kStatusPeriodMs);
  pump();
  ASSERT_GE(e1.cas_fd(), 0);
  EXPECT_TRUE(sim().state().cas_trunk_open[1]);
  EXPECT_TRUE(sim().state().cas_trunk_open[2]);
  EXPECT_TRUE(sim().state().cas[1][5].enabled);
  EXPECT_EQ(sim().state().cas[1][5].tx, 0x3);
  EXPECT_EQ(e1.cas_enabled(1), 1u << 5);
  // The bits of the channel, which may have changed while the device was away.
  EXPECT_EQ(cas_signals(ctl.signals()), (std::vector<Cas>{{1, 5, 0x9, 0x3}}));

  EXPECT_EQ(run(cas_cmd(1, 5, true)), (std::pair{kSuccess, std::vector<Cas>{{1, 5, 0x9, 0x3}}}));
  EXPECT_EQ(run(cas_cmd(1, 5, false)), (std::pair{kSuccess, std::vector<Cas>{{1, 5, -1, 1}}}));
  EXPECT_FALSE(sim().state().cas[1][5].enabled);
  EXPECT_EQ(e1.cas_enabled(1), 0u);
  EXPECT_EQ(run(cas_cmd(2, 0, false)), (std::pair{kSuccess, std::vector<Cas>{{2, 0, 1, 0}}}));
  EXPECT_FALSE(sim().state().cas_trunk_open[2]);
}

// The loop has not yet seen the hang-up when a command comes: the request that finds the
// descriptor gone is made again on a new one.
TEST_F(CasLoss, ACommandOnAGoneDescriptorIsRetriedOnANewOne) {
  sim().hangup(Device::e1cas);
  sim().state().cas[1][5].rx = 0x5;
  auto [answer, signals] = run(cas_cmd(1, 5, true));
  EXPECT_EQ(answer, kSuccess);
  ASSERT_FALSE(signals.empty());
  EXPECT_EQ(signals.back(), (Cas{1, 5, 0x5, 0x3}));
  for (const Cas& c : signals) EXPECT_GE(c.rx, 0) << "no failure reported";
  EXPECT_GE(e1.cas_fd(), 0);
}

TEST_F(CasLoss, ADisconnectWhileTheDeviceIsAwayStillClosesTheTrunks) {
  sim().hangup(Device::e1cas);
  pump();
  ASSERT_LT(e1.cas_fd(), 0);
  ctl.disconnect();
  EXPECT_FALSE(sim().state().cas_trunk_open[1]);
  EXPECT_FALSE(sim().state().cas_trunk_open[2]);
  EXPECT_FALSE(sim().state().cas[1][5].enabled);
  EXPECT_EQ(args(Device::e1cas, cas::CAS_CLOSE_TRUNK, "trunk"), (std::vector<int64_t>{1, 2}));
}

// The controller leaves while its closes cannot be made: they are owed, carried out on the next
// descriptor or status tick, and the trunks are never opened again for anyone.
TEST_F(CasLoss, ClosesThatFailedWhenTheControllerLeftAreMadeLaterAndNothingIsReopened) {
  sim().fail_open(Device::e1cas, ENOENT);
  sim().hangup(Device::e1cas);
  pump();
  ctl.disconnect();
  EXPECT_TRUE(sim().state().cas_trunk_open[1]);
  EXPECT_FALSE(e1.cas_open(1));
  sim().fail_open(Device::e1cas, 0);
  sim().fail_next(Device::e1cas, EIO, 1, cas::CAS_CLOSE_TRUNK);  // trunk 1 refuses once
  clock.advance(E1Ctl::kStatusPeriodMs);
  pump();
  ASSERT_GE(e1.cas_fd(), 0);
  EXPECT_TRUE(sim().state().cas_trunk_open[1]);
  EXPECT_FALSE(sim().state().cas_trunk_open[2]);
  clock.advance(E1Ctl::kStatusPeriodMs);
  pump();
  EXPECT_FALSE(sim().state().cas_trunk_open[1]);
  EXPECT_FALSE(sim().state().cas[1][5].enabled);
  EXPECT_TRUE(args(Device::e1cas, cas::CAS_OPEN_TRUNK, "trunk").empty());
  EXPECT_EQ(args(Device::e1cas, cas::CAS_CLOSE_TRUNK, "trunk"), (std::vector<int64_t>{1, 2, 1}));
  clock.advance(E1Ctl::kStatusPeriodMs);
  pump();
  EXPECT_EQ(args(Device::e1cas, cas::CAS_CLOSE_TRUNK, "trunk").size(), 3u) << "each close made once";
}

// The board refuses the re-open of a trunk on the new descriptor: the trunk stays open for the
// controller, unconfirmed, and the status tick opens it again; meanwhile the controller can
// close it, and its departure closes it.
TEST_F(CasLoss, ARefusedReopenKeepsTheTrunkTheControllersAndIsRetried) {
  sim().hangup(Device::e1cas);
  pump();
  sim().fail_next(Device::e1cas, EIO, 1, cas::CAS_OPEN_TRUNK);
  clock.advance(E1Ctl::kStatusPeriodMs);
  pump();
  ASSERT_GE(e1.cas_fd(), 0);
  EXPECT_TRUE(e1.cas_open(1));
  EXPECT_FALSE(e1.cas_confirmed(1));
  EXPECT_TRUE(e1.cas_confirmed(2));
  EXPECT_EQ(cas_signals(ctl.signals()), (std::vector<Cas>{{1, 0, -1, 0}})) << "the failure, once";
  driver_forgets();
  clock.advance(E1Ctl::kStatusPeriodMs);
  pump();
  EXPECT_TRUE(e1.cas_confirmed(1));
  EXPECT_TRUE(sim().state().cas_trunk_open[1]);
  EXPECT_TRUE(sim().state().cas[1][5].enabled);
  EXPECT_EQ(cas_signals(ctl.signals()), (std::vector<Cas>{{1, 0, 0, 0}, {1, 5, 0, 0x3}})) << "back, with the bits";

  // Refused again, then closed by the controller: the board closes it, and nothing reopens it.
  sim().hangup(Device::e1cas);
  pump();
  sim().fail_next(Device::e1cas, EIO, 1, cas::CAS_OPEN_TRUNK);
  clock.advance(E1Ctl::kStatusPeriodMs);
  pump();
  ASSERT_FALSE(e1.cas_confirmed(1));
  EXPECT_EQ(run(cas_cmd(1, 0, false)).first, kSuccess);
  EXPECT_FALSE(sim().state().cas_trunk_open[1]);
  EXPECT_FALSE(sim().state().cas[1][5].enabled);
  sim().clear_requests();
  clock.advance(E1Ctl::kStatusPeriodMs);
  EXPECT_TRUE(args(Device::e1cas, cas::CAS_OPEN_TRUNK, "trunk").empty());

  // A descriptor the driver gives up inside the restore leaves the trunk unconfirmed too: the
  // next tick opens a new descriptor and the trunk on it.
  sim().hangup(Device::e1cas);
  pump();
  sim().fail_next(Device::e1cas, ENODEV, 1, cas::CAS_OPEN_TRUNK);
  clock.advance(E1Ctl::kStatusPeriodMs);
  pump();
  EXPECT_TRUE(e1.cas_open(2));
  EXPECT_FALSE(e1.cas_confirmed(2));
  clock.advance(E1Ctl::kStatusPeriodMs);
  pump();
  EXPECT_TRUE(e1.cas_confirmed(2));
  EXPECT_TRUE(sim().state().cas_trunk_open[2]);
}

// The clock mask is kept as wanted: a refused write is made on the status tick, its failure
// logged once, and a descriptor the driver gave up gets the mask again.
TEST_F(CasLoss, TheClockMaskIsWrittenUntilTheBoardHasIt) {
  namespace maint = board::maintenance;
  LGCP::Command slave;
  LGCP::TrunkCfg& cfg = slave.select_trunkCfg();
  cfg.set_trunk(2);
  cfg.set_mode(LGCP::TrunkMode::slave);
  // Refused at the connect and on the ticks after it: logged once, written when it can be.
  ASSERT_EQ(run(slave).first, kSuccess);
  sim().fail_next(Device::maintenance, EIO, 3, maint::SET_TCLK);
  capture.clear();
  ctl.connect();
  clock.advance(E1Ctl::kStatusPeriodMs);
  clock.advance(E1Ctl::kStatusPeriodMs);
  EXPECT_EQ(sim().state().tclk_mask, 0x4u);
  clock.advance(E1Ctl::kStatusPeriodMs);
  EXPECT_EQ(sim().state().tclk_mask, 0u);
  EXPECT_EQ(capture.err.str(), "E1: fail to set TCLK [cause=Input/output error]\n");

  // The driver restarts with its default mask: the next descriptor is given the kept one.
  ASSERT_EQ(run(slave).first, kSuccess);
  sim().hangup(Device::maintenance);
  sim().state().tclk_mask = 0;
  clock.advance(E1Ctl::kStatusPeriodMs);
  clock.advance(E1Ctl::kStatusPeriodMs);
  EXPECT_EQ(sim().state().tclk_mask, 0x4u);
}

}  // namespace
