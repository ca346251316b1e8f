// The control server: exactly one answer per command, the envelopes of answers and signals,
// the server's own errors, and services bound or not.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "ServerFixture.h"

namespace {

using srvtest::command;
using srvtest::ServerTest;
using vxtest::count;
using EC = LGCP::ErrorCause;
constexpr int kPing = LGCP::Command::e_ping;
constexpr int kDestroy = LGCP::Command::e_destroy;

TEST_F(ServerTest, ServicesAreOfferedTheCommandInBindOrderUntilOneTakesIt) {
  connect();
  b.onCommand = [&](LGCP::Command const&) { b.Success(); return true; };
  deliver(command(kPing, 7, 12));
  EXPECT_EQ(a.commands, 1);
  EXPECT_EQ(b.commands, 1);
  auto one = only();
  EXPECT_TRUE(one.success());
  EXPECT_EQ(one.seq, 7);
  EXPECT_EQ(one.slot, 12u);

  a.onCommand = [&](LGCP::Command const&) { a.Error(EC::busError); return true; };
  deliver(command(kPing));
  EXPECT_EQ(b.commands, 1);
  one = only();
  EXPECT_EQ(one.error(), EC::busError);
  EXPECT_FALSE(one.seq);
  EXPECT_FALSE(one.slot);
}

TEST_F(ServerTest, AnswerRulesOfOneCommand) {
  connect();
  // What the service does with a command it takes, and the answers that go out (-1: success).
  const struct {
    std::function<void(srvtest::ScriptedService&)> script;
    std::vector<int> want;
  } rows[] = {
      {[](auto& s) { s.Success(), s.Success(); }, {-1}},
      {[](auto& s) { s.Success(), s.Error(EC::internal); }, {-1, EC::internal}},
      {[](auto& s) { s.Error(EC::busError), s.Error(EC::internal), s.Success(); }, {EC::busError}},
      {[](auto& s) { s.delayResponse(), s.Success(), s.Error(EC::connectFail); }, {EC::connectFail}},
      {[](auto&) {}, {EC::internal}},  // taken but never answered: the server's own error
  };
  int seq = 0;
  for (const auto& row : rows) {
    a.onCommand = [&](LGCP::Command const&) { return row.script(a), true; };
    deliver(command(kPing, ++seq, 3));
    std::vector<int> got;
    for (const auto& answer : answers()) {
      got.push_back(answer.error());
      EXPECT_EQ(answer.seq, seq);
    }
    EXPECT_EQ(got, row.want) << "row " << seq;
  }
  EXPECT_EQ(count(streams.err.str(), "ctrl [pair]: software error: server do NOT send ack!!!"), 1);
}

TEST_F(ServerTest, DelayedAnswers) {
  connect();
  std::optional<int32_t> seq;
  unsigned slot = 0;
  a.onCommand = [&](LGCP::Command const&) { seq = a.delayResponse(); slot = a.GetSlot(); return true; };
  deliver(command(kPing, 41, 5));
  EXPECT_TRUE(answers().empty());
  EXPECT_EQ(streams.err.str().find("software error"), std::string::npos);
  EXPECT_EQ(seq, 41);
  a.delayedSuccess(slot, seq);
  auto one = only();
  EXPECT_TRUE(one.success());
  EXPECT_EQ(one.seq, 41);
  EXPECT_EQ(one.slot, 5u);

  // Every value a seq can take comes back, the ends of the range and -1 too, and the answer
  // goes out after a later command without a seq (as a destroy's answer does).
  for (int32_t value : {-1, INT32_MIN, INT32_MAX, 0}) {
    deliver(command(kPing, value, 7));
    const auto put_off = seq;
    deliver(command(kPing));
    EXPECT_TRUE(answers().empty());
    a.delayedSuccess(7, put_off);
    one = only();
    EXPECT_EQ(one.seq, value);
    EXPECT_EQ(one.slot, 7u);
  }

  // A command without a sequence number gets its delayed answer without one (and without a
  // slot when it had none).
  deliver(command(kPing));
  EXPECT_TRUE(answers().empty());
  a.delayedSuccess(slot = a.GetSlot(), seq);
  one = only();
  EXPECT_FALSE(one.seq);
  EXPECT_FALSE(one.slot);
}

TEST_F(ServerTest, TheServersOwnErrors) {
  connect();
  // No service takes it.
  deliver(command(kDestroy, 4, 1023));
  auto one = only();
  EXPECT_EQ(one.error(), EC::unexpectedMsgType);
  EXPECT_EQ(one.slot, 1023u);

  // Not a command: no slot in the answer, the seq kept.
  LGCP::Message response;
  response.set_seq(6);
  response.set_slot(8);
  response.get_pdu().select_response().set_success();
  deliver(response);
  one = only();
  EXPECT_EQ(one.error(), EC::unexpectedMsgType);
  EXPECT_EQ(one.seq, 6);
  EXPECT_FALSE(one.slot);

  // Slots above 1023 (the decoder reads the field as 16 bits) reach no service.
  const int before = a.commands;
  for (const char* frame : {"\x40\x04\x00\x0A", "\x40\xFF\xFF\x0A"}) {
    server.OnMessage(frame, 4);
    one = only();
    EXPECT_EQ(one.error(), EC::invalidSlot);
    EXPECT_FALSE(one.slot);
    EXPECT_FALSE(one.seq);
  }
  EXPECT_EQ(a.commands, before);
  EXPECT_EQ(server.GetSlot(), CtrlSrv::Server::no_slot);
}

TEST_F(ServerTest, UndecodableFramesAreLoggedWithTheirBytesAndDropped) {
  connect();
  server.OnMessage("\xFF\xFF\xFF", 3);
  server.OnMessage("", 0);
  EXPECT_TRUE(answers().empty());
  EXPECT_EQ(count(streams.err.str(), "ctrl [pair]: receive fail: decode error!\n"), 2);
  EXPECT_NE(streams.err.str().find(" msg: FF FF FF"), std::string::npos);
  EXPECT_EQ(a.commands, 0);
}

TEST_F(ServerTest, SignalsAreOfferedToTheOtherServicesThenSent) {
  connect();
  LGCP::Signal activated;
  activated.select_activated();
  a.onCommand = [&](LGCP::Command const&) {
    a.SendSignal(activated);  // carries the command's slot
    a.Success();
    return true;
  };
  deliver(command(kPing, 1, 77));
  auto got = answers();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[0].signal());
  EXPECT_EQ(got[0].slot, 77u);
  EXPECT_FALSE(got[0].seq);
  EXPECT_EQ(b.signals, std::vector<int>{LGCP::Signal::e_activated});
  EXPECT_TRUE(a.signals.empty());

  a.SendSignal(activated);  // outside a command: no slot
  b.SendSignal(300, activated);
  got = answers();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_FALSE(got[0].slot);
  EXPECT_EQ(got[1].slot, 300u);
  EXPECT_EQ(a.signals.size(), 1u);
  EXPECT_EQ(b.signals.size(), 2u);

  // Without a connection the other services still see it; the send is dropped with a line.
  server.Deactivate();
  a.SendSignal(activated);
  EXPECT_EQ(b.signals.size(), 3u);
  EXPECT_NE(streams.err.str().find("ctrl [null]: send fail: Service not attached!"), std::string::npos);
}

TEST_F(ServerTest, ConnectionLifecycleReachesEveryServiceInOrder) {
  bool connected = true;
  EXPECT_FALSE(a.CheckServerConnection(connected));
  connect();
  EXPECT_TRUE(a.CheckServerConnection(connected));
  EXPECT_TRUE(connected);
  EXPECT_EQ(a.events, std::vector<std::string>{"connect"});
  EXPECT_EQ(b.events, std::vector<std::string>{"connect"});
  EXPECT_NE(streams.log.str().find("ctrl [pair]: controller connect."), std::string::npos);
  server.OnHeartbeatTimeout();
  EXPECT_TRUE(vxtest::pump_until([&] { return a.events.size() == 2; }));
  EXPECT_EQ(a.events.back(), "disconnect");
  EXPECT_TRUE(vxtest::peer_closed(fd[1]));
  EXPECT_TRUE(a.CheckServerConnection(connected));
  EXPECT_FALSE(connected);
  server.Deactivate();
  EXPECT_EQ(server.connection(), nullptr);
  EXPECT_FALSE(a.CheckServerConnection(connected));
}

TEST(UnboundService, OnlyWritesItsErrorLine) {
  vxtest::CaptureStreams streams;
  srvtest::ScriptedService s;
  s.Success();
  s.Error(EC::internal);
  LGCP::Signal sig;
  sig.select_activated();
  s.SendSignal(sig);
  EXPECT_EQ(count(streams.err.str(), "CtrlSrv::Service error! service not connected to server.\n"), 3);
  EXPECT_FALSE(s.delayResponse());
  bool connected = false;
  EXPECT_FALSE(s.CheckServerConnection(connected));
}

}  // namespace
