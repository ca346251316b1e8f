// The monitoring service on the simulated board: its polls, the power signal, the framer LEDs,
// "display", and the full resend that an agent connection brings.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <map>

#include "board/sim/SimBoard.h"
#include "board/sim/SimMonitoring.h"
#include "control/CtrlSrvServer.h"
#include "monitoring/MonitoringCtl.h"
#include "tests/control_server/ServerFixture.h"
#include "tests/monitoring/MonitoringSupport.h"

namespace {

using montest::FakeAgent;
using montest::Root;

constexpr int kPowerSignal = 17;

// Set commands queued for a kind, as "object[index]=value".
std::vector<std::string> queued(MonitoringCtl& ctl, int kind) {
  std::vector<std::string> out;
  for (auto const& c : ctl.agents().pending(kind)->get_snmp_set().get_commands()) {
    auto const& n = c.get_id().get_name();
    out.push_back(std::string(n.get_name()) + "[" + std::to_string(n.get_index().getValue()) + "]=" +
                  std::string(c.get_value()));
  }
  return out;
}

// The value queued last for an object, or "-" when none was.
std::string last(MonitoringCtl& ctl, int kind, const std::string& object) {
  std::string v = "-";
  for (auto const& q : queued(ctl, kind))
    if (q.rfind(object + "[", 0) == 0) v = q.substr(q.find('=') + 1);
  return v;
}

class Monitoring : public ::testing::Test {
 protected:
  Monitoring() {
    board::sim::SimBoard::instance().reset();
    server.Bind(&ctl);
    server.Bind(&spy);
  }
  ~Monitoring() override { board::sim::SimBoard::instance().reset(); }
  int power_signals() const { return static_cast<int>(std::count(spy.signals.begin(), spy.signals.end(), kPowerSignal)); }
  board::sim::BoardState& hal() { return board::sim::SimBoard::instance().state(); }

  vxtest::CaptureStreams cap;
  Root root;
  CtrlSrv::Server server;
  MonitoringCtl ctl;
  srvtest::ScriptedService spy;
};

TEST_F(Monitoring, PowerCodesMapToStatusesAChangeIsSignalledFiledAndQueuedAsIsTheDip) {
  const std::vector<std::pair<int, int>> codes = {{0, 3}, {3, 3}, {1, 1}, {2, 2}, {4, 0}, {255, 0}, {0, 3}};
  int signals = 0;
  int previous = 0;
  for (auto [code, status] : codes) {
    hal().power = static_cast<uint8_t>(code);
    ctl.doPowerCheck();
    EXPECT_EQ(ctl.holder().powerStatus.getValue(), status) << code;
    EXPECT_EQ(root.read("/var/monitoring/powerstatus"), std::to_string(status));
    if (status != previous) ++signals;
    previous = status;
    EXPECT_EQ(power_signals(), signals) << code;
  }
  EXPECT_EQ(last(ctl, 2, "powerStatus"), "3");
  EXPECT_EQ(last(ctl, 4, "powerStatus"), "3");

  // A controller always gets the status on connecting, twice when the check found a change.
  ctl.OnConnect();
  EXPECT_EQ(power_signals(), signals + 1);
  hal().power = 1;
  ctl.OnConnect();
  EXPECT_EQ(power_signals(), signals + 3);

  // A failing driver request changes nothing.
  board::sim::SimBoard::instance().fail_next(board::sim::Device::hal, EIO);
  hal().power = 2;
  ctl.doPowerCheck();
  EXPECT_EQ(ctl.holder().powerStatus.getValue(), 1);
  hal().dip = 0x41;
  ctl.doDipCheck();
  EXPECT_EQ(root.read("/var/monitoring/dip"), "65");
  EXPECT_EQ(last(ctl, 2, "gatewayDip"), "65");
}

TEST_F(Monitoring, FramerLedsFollowLineAndLinkReports) {
  auto framer = [&](int e1, bool line, bool value) {
    LGCP::Command c;
    auto& f = c.select_display().select_framer();
    f.set_e1(e1);
    if (line) f.get_info().select_line() = value;
    else f.get_info().select_link() = value;
    EXPECT_TRUE(ctl.OnCommand(c));
    return static_cast<int>(hal().leds);
  };
  EXPECT_EQ(framer(2, true, true), 0x30);
  EXPECT_EQ(framer(2, false, true), 0x20);
  EXPECT_EQ(framer(2, false, false), 0x30);
  EXPECT_EQ(framer(0, true, true), 0x33);
  EXPECT_EQ(framer(2, true, false), 0x03);
  EXPECT_EQ(ctl.leds(), 0x03);
}

LGCP::Command line_report(int e1, bool up) {
  LGCP::Command c;
  auto& f = c.select_display().select_framer();
  f.set_e1(e1);
  f.get_info().select_line() = up;
  return c;
}

// A LED byte the driver refused, or reported while the device was away, is kept and written
// by the next polls until the driver takes it; the failure is logged once.
TEST_F(Monitoring, RefusedOrUnreachableLedWritesAreWrittenByThePoll) {
  vxtest::TestClock clock;
  auto& sim = board::sim::SimBoard::instance();
  MonitoringCtl timed;
  auto step = [&](uint32_t ms) {
    clock.advance(ms);
    vxtest::pump(2);
  };
  ASSERT_TRUE(timed.OnCommand(line_report(0, true)));
  ASSERT_EQ(hal().leds, 0x03);

  sim.fail_next(board::sim::Device::hal, EIO, 1);
  ASSERT_TRUE(timed.OnCommand(line_report(1, true)));
  EXPECT_EQ(hal().leds, 0x03);
  EXPECT_TRUE(timed.ledsOwed());
  step(2000);
  EXPECT_EQ(hal().leds, 0x0F);
  EXPECT_FALSE(timed.ledsOwed());

  sim.fail_open(board::sim::Device::hal, ENOENT);
  sim.hangup(board::sim::Device::hal);
  step(2000);
  ASSERT_TRUE(timed.OnCommand(line_report(1, false)));
  EXPECT_EQ(timed.leds(), 0x03);
  step(2000);
  EXPECT_EQ(hal().leds, 0x0F);
  sim.fail_open(board::sim::Device::hal, 0);
  step(2000);
  EXPECT_EQ(hal().leds, 0x03);
  EXPECT_FALSE(timed.ledsOwed());
  const std::string err = cap.err.str();
  EXPECT_EQ(err.find("monitoring: framer LED write fail: "), err.rfind("monitoring: framer LED write fail: ")) << err;
  EXPECT_NE(err.find("monitoring: framer LED write fail: "), std::string::npos) << err;
}

TEST_F(Monitoring, BackgroundReadingsOfVersionsConfigurationAndTemperature) {
  root.write("/var/version", "T1.2\n");
  root.write("/var/board-version", "B7");
  root.write("/proc/temperature", "41 C\n");
  root.write("/usr/local/etc/config.2save.tar.bz2", "");
  root.write("/usr/local/etc/config.00000099-0000000000000099/x", "");  // a directory
  root.write("/usr/local/etc/config.short", "");
  root.write("/usr/local/etc/config.0000001a-000000000000002b", "");
  ctl.doVersionsCheck();
  ctl.doConfigCheck();
  ctl.doTemperatureCheck();
  EXPECT_EQ(ctl.holder().buildVersion, "T1.2\n");
  EXPECT_EQ(ctl.holder().bootVersion, "");
  EXPECT_EQ(last(ctl, 4, "sgBuildVersion"), "T1.2\n");
  EXPECT_EQ(last(ctl, 4, "sgBoardVersion"), "B7");
  EXPECT_EQ(last(ctl, 4, "sgBootVersion"), "-");
  EXPECT_EQ(root.read("/var/monitoring/config_version"), "0000001a-000000000000002b");
  EXPECT_EQ(last(ctl, 2, "gatewayConfigVersion"), "26");
  EXPECT_EQ(last(ctl, 2, "temperature"), "41");
  EXPECT_EQ(last(ctl, 4, "temperature"), "-");
  root.write("/proc/temperature", "39\f\n");  // any white space ends the number
  ctl.doTemperatureCheck();
  EXPECT_EQ(last(ctl, 2, "temperature"), "39");
  // Nine characters after "config." give the first part; the second keeps the walk's last one.
  std::filesystem::remove_all(root.path("/usr/local/etc"));
  root.write("/usr/local/etc/config.0000001b-", "");
  ctl.doConfigCheck();
  EXPECT_EQ(root.read("/var/monitoring/config_version"), "0000001b-0000000000000000");
}

TEST_F(Monitoring, AFullResendSendsTheStartValuesAndTheDriverBuildText) {
  ctl.OnDpcSend();
  EXPECT_EQ(last(ctl, 2, "gatewayDip"), "4294967295");
  EXPECT_EQ(last(ctl, 2, "gatewayConfigVersion"), "4294967295");
  EXPECT_EQ(last(ctl, 2, "powerStatus"), "0");
  EXPECT_EQ(last(ctl, 2, "controllerStatus"), "0");
  EXPECT_EQ(last(ctl, 2, "temperature"), "");
  EXPECT_EQ(last(ctl, 4, "sgFPGAVersion"), "");
  EXPECT_EQ(last(ctl, 2, "driverBuild"), "-");  // no version file: nothing
  EXPECT_NE(last(ctl, 2, "softwareBuild"), "-");
  const std::map<std::string, std::string> lines = {
      {"voice 1.2.3 20240101\n", "1.2.3 [20240101]"},
      {"voice  1.2.3 20240101 beta\n", "1.2.3 [20240101 beta]"},
      {"voice 1.2.3\n", "none"},
      {"", "-"},
  };
  for (auto const& [line, text] : lines) {
    root.write("/proc/voice/version", line);
    ctl.agents().OnDpcSend();
    ctl.OnDpcSend();
    EXPECT_EQ(last(ctl, 2, "driverBuild"), text) << line;
  }
}

TEST_F(Monitoring, DisplayIsTakenAndFeedsTheAgents) {
  LGCP::Command ping;
  ping.select_ping();
  EXPECT_FALSE(ctl.OnCommand(ping));

  LGCP::Command c;
  auto& tc = c.select_display().select_termCounter();
  tc.set_owner(LGCP::TermCounterOwner::extBoard);
  tc.set_ownerId(4);
  tc.set_cnt(-1);
  EXPECT_TRUE(ctl.OnCommand(c));
  tc.set_owner(LGCP::TermCounterOwner::router);
  tc.omit_ownerId();
  tc.set_cnt(7);
  EXPECT_TRUE(ctl.OnCommand(c));
  // Every held counter goes out on every counter report.
  EXPECT_EQ(queued(ctl, 2), (std::vector<std::string>{"extBoardTermCnt[4]=4294967295", "routerTermCnt[0]=7",
                                                       "extBoardTermCnt[4]=4294967295"}));
  ctl.agents().OnDpcSend();

  auto& phone = c.select_display().select_emPhone().select_phoneStatus();
  phone.set_id(0);
  EXPECT_TRUE(ctl.OnCommand(c));
  EXPECT_EQ(queued(ctl, 2).size(), 8u);
  EXPECT_EQ(queued(ctl, 2)[0], "emPhonePanelSoftVer[1]=");
  EXPECT_EQ(root.read("/var/monitoring/emphone0"), "\n\n\n0\n0\n0\n0\n0\n");
  ctl.agents().OnDpcSend();

  auto& own = c.select_display().select_controller();
  own.get_host().set_iaddr(inet_ntoa(ctl.holder().ownAddr.sin_addr));
  own.set_status(HSP::ControllerStatus::active);
  EXPECT_TRUE(ctl.OnCommand(c));
  EXPECT_TRUE(ctl.OnCommand(c));  // sent whether or not it changed
  EXPECT_EQ(queued(ctl, 2), (std::vector<std::string>{"controllerStatus[0]=2", "controllerStatus[0]=2"}));
}

TEST_F(Monitoring, FramerStatusFilesAreReadAndSentWithTheirIndex) {
  auto& sim = board::sim::SimMonitoring::instance();
  board::sim::SimFramer f;
  f.state = "Active";
  f.signal_loss = false;
  ASSERT_TRUE(sim.write_framer(0, f));
  ASSERT_TRUE(sim.write_framer(3, f));
  MonitoringCtl fresh;
  ASSERT_EQ(fresh.holder().framers.size(), 2u);
  fresh.doFramerCheck();
  EXPECT_EQ(last(fresh, 2, "e1StatusDsc"), "Active");
  std::vector<std::string> connected;
  for (auto const& q : queued(fresh, 2))
    if (q.rfind("e1Connected", 0) == 0) connected.push_back(q);
  EXPECT_EQ(connected, (std::vector<std::string>{"e1Connected[1]=1", "e1Connected[4]=1"}));
  fresh.agents().OnDpcSend();
  fresh.doFramerCheck();
  EXPECT_TRUE(queued(fresh, 2).empty());
  sim.remove_framer(3);
  fresh.doFramerCheck();  // the reader keeps its values
  EXPECT_EQ(fresh.holder().framers.back().statusDsc, "Active");
}

// Versions, configuration and framers at 1 s and then every 60 s; power and DIP every 2 s; the
// controller check at 5 s.
TEST_F(Monitoring, TimersRunTheChecksAtOneTwoAndFiveSecondsThenPeriodically) {
  vxtest::TestClock clock;
  root.write("/var/version", "V1\n");
  board::sim::SimFramer f;
  f.state = "Active";
  ASSERT_TRUE(board::sim::SimMonitoring::instance().write_framer(0, f));
  MonitoringCtl timed;
  auto& h = timed.holder();
  auto step = [&](uint32_t ms) {
    clock.advance(ms);
    vxtest::pump(2);
  };
  hal().dip = 9;
  step(999);
  EXPECT_EQ(h.buildVersion, "");
  step(1);
  EXPECT_EQ(h.buildVersion, "V1\n");
  EXPECT_EQ(h.framers.front().statusDsc, "Active");
  step(1000);
  EXPECT_EQ(h.dipValue, 9);
  hal().dip = 10;
  step(1999);
  EXPECT_EQ(h.dipValue, 9);
  step(1);
  EXPECT_EQ(h.dipValue, 10);
  EXPECT_EQ(h.controllers.size(), 0u);
  step(1000);
  ASSERT_EQ(h.controllers.size(), 1u);
  EXPECT_EQ(h.controllers.front().get_status().getValue(), HSP::ControllerStatus::notrun);
  root.write("/var/version", "V2\n");
  f.state = "No Carrier";
  f.signal_loss = true;
  ASSERT_TRUE(board::sim::SimMonitoring::instance().write_framer(0, f));
  step(55999);
  EXPECT_EQ(h.buildVersion, "V1\n");
  EXPECT_EQ(h.framers.front().statusDsc, "Active");
  step(1);
  EXPECT_EQ(h.buildVersion, "V2\n");
  EXPECT_EQ(h.framers.front().statusDsc, "No Carrier");
  EXPECT_FALSE(h.framers.front().connected);
}

TEST_F(Monitoring, ALocalControllerProcessWithoutAConnectionIsNotconnectionElseNotrun) {
  const std::string program = root.path("/controller");
  std::filesystem::copy_file("/bin/sleep", program);
  char arg0[] = "controller", arg1[] = "30";
  char* argv[] = {arg0, arg1, nullptr};
  pid_t child = -1;
  ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0);
  ASSERT_TRUE(vxtest::pump_until([&] {
    ctl.doControllerCheck();
    return ctl.holder().controllers.size() == 1 &&
           ctl.holder().controllers.front().get_status().getValue() == HSP::ControllerStatus::notconnection;
  }));
  EXPECT_EQ(ctl.holder().controllerPid, child);
  EXPECT_EQ(last(ctl, 2, "controllerStatus"), "4");
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ctl.doControllerCheck();
  EXPECT_EQ(ctl.holder().controllers.front().get_status().getValue(), HSP::ControllerStatus::notrun);
  EXPECT_EQ(root.read("/var/monitoring/controller/" + std::string(inet_ntoa(ctl.holder().ownAddr.sin_addr)) +
                      "/status"),
            "5");
}

TEST_F(Monitoring, AnAgentThatConnectsLateGetsEverythingSplitIntoWholeMessages) {
  vxtest::TestClock clock;
  hal().power = 2;
  ctl.doPowerCheck();
  LGCP::Command c;
  for (int i = 0; i < 150; ++i) {
    auto& b = c.select_display().select_board().select_boardStatus();
    b.set_position(i);
    b.get_version() = std::string("v") + std::to_string(i);
    EXPECT_TRUE(ctl.OnCommand(c));
  }
  auto& sinks = c.select_display().select_snmpTrapReceivers();
  sinks.push_back(ASN1::IA5String("10.1.1.1"));
  EXPECT_TRUE(ctl.OnCommand(c));
  vxtest::pump(2);

  FakeAgent agent;
  IniFile::File file;
  montest::load_ini(file, "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent.port()) + "\nname = quor\n");
  ctl.Configure(file);
  ASSERT_TRUE(agent.pump_until([&] { return agent.sets().size() >= 450; }));
  EXPECT_EQ(agent.commands(MON::Command::e_snmp_trapsink_set).size(), 1u);
  auto sets = agent.sets();
  EXPECT_NE(std::find(sets.begin(), sets.end(), "gatewayCommon/0/powerStatus=2"), sets.end());
  EXPECT_NE(std::find(sets.begin(), sets.end(), "extBoardTable/149/extBoardSoftVer=v149"), sets.end());
  EXPECT_TRUE(agent.decoded_ok);
}

}  // namespace
