// The SNMP agent link: item queueing by agent kind, the agent keys, and a fake agent on the
// loopback interface that sees the set commands, trap sinks and pings on the loop's clock.
#include <gtest/gtest.h>

#include <climits>
#include <iterator>

#include "control/ConnectorNet.h"
#include "monitoring/ISnmpAgentNotify.h"
#include "monitoring/SnmpAgentCtrl.h"
#include "tests/monitoring/MonitoringSupport.h"

namespace {

using montest::FakeAgent;
using montest::load_ini;
using vxtest::count;

class Notified : public ISnmpAgentNotify {
 public:
  void OnSnmpAgentConnect(std::string const& name) override { names.push_back(name); }
  std::vector<std::string> names;
};

std::string agents_ini(const std::vector<std::pair<std::string, std::string>>& agents) {
  std::string text = "[snmpagent]\n";
  for (auto const& [host, name] : agents) text += "host = " + host + "\nname = " + name + "\n[snmpagent]\n";
  return text.substr(0, text.size() - std::string("[snmpagent]\n").size());
}

std::vector<std::string> texts(const MON::Command* c) {
  std::vector<std::string> out;
  for (auto const& s : c->get_snmp_set().get_commands())
    out.push_back(std::to_string(s.get_uniq().getValue()) + " " + montest::text(s));
  return out;
}

TEST(SnmpAgentCtrl, ValuesQueueIntoTheListsOfTheKindsThatWantThem) {
  SnmpAgentCtrl ctrl;
  EXPECT_EQ(ctrl.pending(0), nullptr);
  EXPECT_EQ(ctrl.pending(1), nullptr);
  ctrl.Send(static_cast<SnmpAgentCtrl::MonitoringItemType>(99), "x");
  EXPECT_FALSE(ctrl.flush_pending());

  ctrl.Send(SnmpAgentCtrl::powerStatus, "3");
  ctrl.Send(SnmpAgentCtrl::e1StatusDsc, 2, "Active");
  ctrl.Send(SnmpAgentCtrl::sgBuildVersion, "T1\n");
  EXPECT_TRUE(ctrl.flush_pending());
  EXPECT_EQ(texts(ctrl.pending(2)),
            (std::vector<std::string>{"1 gatewayCommon/0/powerStatus=3", "3 e1Table/2/e1StatusDsc=Active"}));
  EXPECT_EQ(texts(ctrl.pending(4)),
            (std::vector<std::string>{"2 gatewayCommon/0/powerStatus=3", "4 statusGeneral/0/sgBuildVersion=T1\n"}));

  // Lists are emptied by the flush whether or not an agent was there to take them.
  ctrl.OnDpcSend();
  EXPECT_FALSE(ctrl.flush_pending());
  EXPECT_TRUE(ctrl.pending(2)->get_snmp_set().get_commands().empty());
  EXPECT_TRUE(ctrl.pending(4)->get_snmp_set().get_commands().empty());
}

TEST(SnmpAgentCtrl, TheUniqNumberWrapsWithoutOverflow) {
  SnmpAgentCtrl ctrl;
  ctrl.set_next_uniq(static_cast<uint32_t>(INT_MAX));
  ctrl.Send(SnmpAgentCtrl::powerStatus, "1");
  ctrl.set_next_uniq(UINT32_MAX);
  ctrl.Send(SnmpAgentCtrl::powerStatus, "2");
  EXPECT_EQ(texts(ctrl.pending(2))[0].substr(0, 11), std::to_string(INT_MAX) + " ");
  EXPECT_EQ(texts(ctrl.pending(4))[0].substr(0, 12), std::to_string(INT_MIN) + " ");
  EXPECT_EQ(texts(ctrl.pending(2))[1].substr(0, 3), "-1 ");
  EXPECT_EQ(texts(ctrl.pending(4))[1].substr(0, 2), "0 ");
}

TEST(SnmpAgentCtrl, AgentKeysAreCheckedBeforeAnythingConnects) {
  vxtest::CaptureStreams cap;
  SnmpAgentCtrl ctrl;
  IniFile::File file;
  load_ini(file, agents_ini({{"127.0.0.1", "quor"},
                             {"127.0.0.1:5000", "abc1"},
                             {"127.0.0.1:5000", "2"},
                             {"127.0.0.1:0", "quor"},
                             {"127.0.0.1:70000", "quor"},
                             {"300.1.1.1:5000", "quor"},
                             {"127.0.0.1:5000", "0x4"},
                             {"127.0.0.1:5000", "lemzgw.qx"}}));
  ctrl.CreateInstances(file["snmpagent"]);
  std::vector<std::pair<int, int>> got;
  for (auto const& i : ctrl.instances()) got.emplace_back(i->state(), i->kind());
  EXPECT_EQ(got, (std::vector<std::pair<int, int>>{{0, 2}, {0, 0}, {1, 2}, {0, 2}, {0, 2}, {0, 2}, {1, 4}, {1, 4}}));
  // The host without a port is refused silently; the others that are refused say why.
  EXPECT_EQ(count(cap.err.str(), "is not an address and port"), 3);
  auto it = std::next(ctrl.instances().begin(), 2);
  EXPECT_EQ((*it)->prefix(), "snmpagent.2 127.0.0.1:5000");
}

// One agent link connected to a fake agent, the loop's clock in the test's hand.
class AgentLink : public ::testing::Test {
 protected:
  void Configure(const std::vector<std::pair<FakeAgent*, std::string>>& agents) {
    std::vector<std::pair<std::string, std::string>> keys;
    for (auto const& [a, name] : agents) keys.emplace_back("127.0.0.1:" + std::to_string(a->port()), name);
    load_ini(file, agents_ini(keys));
    ctrl.Bind(&notified);
    ctrl.CreateInstances(file["snmpagent"]);
    for (auto const& [a, name] : agents)
      ASSERT_TRUE(a->pump_until([&, a = a] { return a->connected(); }));
    ASSERT_TRUE(vxtest::pump_until([&] { return notified.names.size() == agents.size(); }));
  }
  // Moves the clock and lets the loop run what fell due.
  void advance(FakeAgent& a, uint32_t ms) {
    clock.advance(ms);
    vxtest::pump(3);
    a.poll();
  }

  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  IniFile::File file;
  Notified notified;
  SnmpAgentCtrl ctrl;
};

TEST_F(AgentLink, PingsEveryFiveSecondsThenSilenceDropsTheLinkAndItComesBackTenSecondsLater) {
  FakeAgent agent;
  // A kind that is sent no items at all is still pinged from the connection on.
  Configure({{&agent, "lemzgw"}});
  EXPECT_EQ(notified.names, std::vector<std::string>{"lemzgw"});
  const uint32_t start = Mux::milliseconds();
  advance(agent, 4999);
  EXPECT_TRUE(agent.commands(MON::Command::e_ping).empty());
  for (int i = 1; i <= 6; ++i) {
    advance(agent, i == 1 ? 1 : 5000);
    ASSERT_TRUE(agent.pump_until([&] { return agent.commands(MON::Command::e_ping).size() == size_t(i); }));
    EXPECT_EQ(agent.commands(MON::Command::e_ping).back().at - start, uint32_t(5000 * i));
  }
  // The ping at 30 s is not yet "more than" 30 s of silence; the one at 35 s is.
  EXPECT_TRUE(agent.connected());
  advance(agent, 5000);
  ASSERT_TRUE(agent.pump_until([&] { return !agent.connected(); }));
  EXPECT_EQ(agent.commands(MON::Command::e_ping).size(), 7u);
  ASSERT_TRUE(vxtest::pump_until([&] { return ctrl.instances().front()->state() == SnmpAgentInstance::stateLost; }));
  EXPECT_FALSE(ctrl.instances().front()->ping_armed());

  advance(agent, 9999);
  EXPECT_EQ(agent.accepts, 1);
  advance(agent, 1);
  ASSERT_TRUE(agent.pump_until([&] { return agent.accepts == 2; }));
  ASSERT_TRUE(vxtest::pump_until([&] { return notified.names.size() == 2; }));
  EXPECT_EQ(ctrl.instances().front()->state(), SnmpAgentInstance::stateConnected);
  EXPECT_TRUE(agent.decoded_ok);
}

TEST_F(AgentLink, AnyFrameFromTheAgentKeepsTheLinkAlive) {
  FakeAgent agent;
  Configure({{&agent, "quor"}});
  MON::Message answer;
  answer.get_pdu().select_response().select_ping().set_success();
  for (int i = 0; i < 12; ++i) {
    advance(agent, 5000);
    // A frame that does not even decode counts as a sign of life too.
    if (i == 5) agent.reply_raw("\xff\xff\xff");
    else agent.reply(answer);
    ASSERT_TRUE(vxtest::pump_until([&] { return count(cap.err.str(), "decode error") >= (i >= 5 ? 1 : 0); }));
    vxtest::pump(2);
  }
  EXPECT_TRUE(agent.connected());
  EXPECT_EQ(agent.commands(MON::Command::e_ping).size(), 12u);
}

// Pings and the loss watch run on the loop's clock: an agent that answers is never taken for
// lost across steps of the time of day, and the pings keep their five seconds.
TEST_F(AgentLink, StepsOfTheTimeOfDayNeitherLoseTheAgentNorMoveThePings) {
  FakeAgent agent;
  Configure({{&agent, "quor"}});
  MON::Message answer;
  answer.get_pdu().select_response().select_ping().set_success();
  const int64_t steps[] = {3LL * 3600 * 1000, 400LL * 86400 * 1000, -20LL * 1000, -60LL * 1000};
  for (size_t i = 0; i < std::size(steps); ++i) {
    advance(agent, 2500);
    clock.step_time_of_day(steps[i]);
    advance(agent, 2500);
    ASSERT_TRUE(agent.pump_until([&] { return agent.commands(MON::Command::e_ping).size() == i + 1; }));
    agent.reply(answer);
    vxtest::pump(2);
  }
  EXPECT_TRUE(agent.connected());
  EXPECT_EQ(ctrl.instances().front()->state(), SnmpAgentInstance::stateConnected);
}

TEST_F(AgentLink, EachKindGetsItsItemsAndEveryAgentTheSinksAndSetCommands) {
  FakeAgent quor, qx, plain;
  Configure({{&quor, "quor"}, {&qx, "lemzgw.qx"}, {&plain, "lemzgw"}});
  ctrl.Send(SnmpAgentCtrl::powerStatus, "2");
  ctrl.Send(SnmpAgentCtrl::extBoardType, 3, "2");
  ctrl.Send(SnmpAgentCtrl::sgBootVersion, "b\n");
  ctrl.SendTrapsink({});
  ctrl.SendTrapsink({"10.0.0.1", "10.0.0.2:162"});
  ctrl.Send(MON::SnmpSetCommands());
  MON::SnmpSetCommands held;
  held.get_commands().push_back(montest::set_command(7, "gw", "descr", 1, "x"));
  ctrl.Send(held);
  vxtest::pump(2);
  for (FakeAgent* a : {&quor, &qx, &plain}) {
    ASSERT_TRUE(a->pump_until([&] { return !a->commands(MON::Command::e_snmp_trapsink_set).empty(); }));
    auto sinks = a->commands(MON::Command::e_snmp_trapsink_set);
    ASSERT_EQ(sinks.size(), 1u);
    auto const& list = sinks[0].message.get_pdu().get_command().get_snmp_trapsink_set().get_trapsinks();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(std::string(list[1].get_host()), "10.0.0.2:162");
    EXPECT_FALSE(list[0].has_port());
  }
  ASSERT_TRUE(quor.pump_until([&] { return quor.sets().size() == 3; }));
  ASSERT_TRUE(qx.pump_until([&] { return qx.sets().size() == 3; }));
  plain.pump_until([&] { return plain.sets().size() == 1; });
  EXPECT_EQ(quor.sets(), (std::vector<std::string>{"gw/1/descr=x", "gatewayCommon/0/powerStatus=2",
                                                    "extBoardTable/3/extBoardType=2"}));
  EXPECT_EQ(qx.sets(), (std::vector<std::string>{"gw/1/descr=x", "gatewayCommon/0/powerStatus=2",
                                                  "statusGeneral/0/sgBootVersion=b\n"}));
  EXPECT_EQ(plain.sets(), std::vector<std::string>{"gw/1/descr=x"});
}

TEST_F(AgentLink, LongListsAreSplitBelowTheListAndFrameLimits) {
  FakeAgent agent;
  Configure({{&agent, "quor"}});
  for (int i = 0; i < 250; ++i) ctrl.Send(SnmpAgentCtrl::extBoardStatus, i, "3");
  MON::SnmpSetCommands big;
  for (int i = 0; i < 40; ++i) big.get_commands().push_back(montest::set_command(i, "gw", "v", i, std::string(4000, 'a')));
  ctrl.Send(big);
  vxtest::pump(2);
  ASSERT_TRUE(agent.pump_until([&] { return agent.sets().size() == 290; }));
  for (auto const& m : agent.commands(MON::Command::e_snmp_set)) {
    EXPECT_LE(m.message.get_pdu().get_command().get_snmp_set().get_commands().size(), 100u);
    EXPECT_LT(m.bytes, 65531u);
  }
  EXPECT_GE(agent.commands(MON::Command::e_snmp_set).size(), 6u);  // 3 + at least 3 for 160 kB
  EXPECT_TRUE(agent.decoded_ok);
  EXPECT_EQ(agent.sets()[0], "gw/0/v=" + std::string(4000, 'a'));
}

}  // namespace
