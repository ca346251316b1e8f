// The heartbeat watchdog and the slot table's start-up shell.
#include <gtest/gtest.h>

#include "ServerFixture.h"
#include "foundation/Multiplexer.h"
#include "monitoring/HeartBeatCtl.h"
#include "slots/Slots.h"

namespace {

using srvtest::command;
using EC = LGCP::ErrorCause;

// The heartbeat is a process-wide service bound to the global server.
class HeartbeatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0);
    if (ctrlServer.services().empty()) ctrlServer.Bind(HeartBeatCtl::instance());
    ctrlServer.Activate(new srvtest::PairConnection(fd[0]));
  }
  void TearDown() override {
    ctrlServer.Deactivate();
    ::close(fd[1]);
  }
  void deliver(int alt) {
    const std::string bytes = srvtest::encode(command(alt, 1));
    ctrlServer.OnMessage(bytes.data(), int(bytes.size()));
  }
  // Advances the test clock and runs the timers that are due.
  void advance(uint32_t ms) {
    clock.advance(ms);
    vxtest::pump(1);
  }
  int fd[2];
  vxtest::TestClock clock;
  vxtest::CaptureStreams streams;
  HeartBeatCtl& hb = *HeartBeatCtl::instance();
};

TEST_F(HeartbeatTest, AControllerThatOnlyListensStaysAndOneSilentAfterACommandIsDropped) {
  // Not armed by the connection: a controller that never sends a command is never dropped.
  EXPECT_FALSE(hb.armed());
  for (int i = 0; i < 5; ++i) advance(120000);
  EXPECT_EQ(ctrlServer.connection()->state(), Control::State::Connected);
  EXPECT_EQ(streams.log.str().find("heartbeat timeout"), std::string::npos);
  // Its first command arms the watchdog.
  deliver(LGCP::Command::e_destroy);
  EXPECT_TRUE(hb.armed());
  advance(119999);
  EXPECT_EQ(ctrlServer.connection()->state(), Control::State::Connected);
  advance(1);
  EXPECT_EQ(vxtest::count(streams.log.str(), "heartbeat timeout!!!\n"), 1);
  EXPECT_TRUE(vxtest::pump_until([&] { return !hb.armed(); }));
  EXPECT_TRUE(vxtest::peer_closed(fd[1]));
}

TEST_F(HeartbeatTest, EveryCommandRestartsTheWatchdogAndPingIsAnswered) {
  for (int i = 0; i < 5; ++i) {
    advance(119000);
    deliver(i % 2 ? LGCP::Command::e_ping : LGCP::Command::e_destroy);
  }
  EXPECT_EQ(ctrlServer.connection()->state(), Control::State::Connected);
  EXPECT_EQ(streams.log.str().find("heartbeat timeout"), std::string::npos);
  const auto bytes = vxtest::drain(fd[1]);
  // destroy: nobody else is bound, so unexpectedMsgType; ping: success.
  EXPECT_EQ(bytes.size(), 5u * 8u);
  EXPECT_EQ(bytes[7], 0x64);   // destroy: unexpectedMsgType
  EXPECT_EQ(bytes[15], 0x40);  // ping: success
  ctrlServer.Deactivate();
  EXPECT_FALSE(hb.armed());
}

// NTP's first step after a boot without a battery-backed clock, an operator's date, a clock
// corrected backwards: the watchdog measures silence on the loop's clock, which none of them
// moves.
constexpr int64_t kDaySteps[] = {3 * 3600 * 1000, 400LL * 86400 * 1000, -20 * 1000, -60 * 1000};

TEST_F(HeartbeatTest, StepsOfTheTimeOfDayNeitherDropAPingingControllerNorKeepASilentOne) {
  for (int64_t step : kDaySteps) {
    for (int i = 0; i < 30; ++i) {
      advance(5000);
      if (i == 10) clock.step_time_of_day(step);
      deliver(LGCP::Command::e_ping);
    }
  }
  EXPECT_EQ(ctrlServer.connection()->state(), Control::State::Connected);
  EXPECT_EQ(streams.log.str().find("heartbeat timeout"), std::string::npos);

  for (int64_t step : kDaySteps) clock.step_time_of_day(step);
  advance(119999);
  EXPECT_EQ(ctrlServer.connection()->state(), Control::State::Connected);
  advance(1);
  EXPECT_EQ(vxtest::count(streams.log.str(), "heartbeat timeout!!!\n"), 1);
}

class SlotsTest : public srvtest::ServerTest {};

TEST_F(SlotsTest, QueryIsAnsweredThenTheResourcesSignalFollows) {
  server.Bind(Slots::instance());
  connect();
  deliver(command(LGCP::Command::e_query, 3));
  auto got = answers();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[0].success());
  ASSERT_TRUE(got[1].signal());
  EXPECT_EQ(got[1].message.get_pdu().get_signal().getID(), LGCP::Signal::e_query);
  EXPECT_FALSE(got[1].seq);
  EXPECT_FALSE(got[1].slot);
  EXPECT_EQ(a.signals, std::vector<int>{LGCP::Signal::e_query});

  // Query with a slot is not the table's; slot commands on an empty table.
  deliver(command(LGCP::Command::e_query, 4, 9));
  deliver(command(LGCP::Command::e_destroy, 5, 9));
  got = answers();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].error(), EC::unexpectedMsgType);
  EXPECT_EQ(got[1].error(), EC::slotNotExists);
  EXPECT_EQ(got[1].slot, 9u);
  Slots::instance()->server = nullptr;
}

}  // namespace
