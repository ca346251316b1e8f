#pragma once
// A control server serving one end of a socket pair: tests hand it frames directly and read
// its answers, decoded, from the other end.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "asn1/CoderEnv.h"
#include "control/CtrlSrvServer.h"
#include "control/CtrlSrvService.h"
#include "control/ServiceUnix.h"
#include "foundation/Fd.h"
#include "tests/control/TestSupport.h"
#include "tests/control_server/PairConnection.h"

namespace srvtest {

// A service whose answer to each command is programmed by the test.
class ScriptedService : public CtrlSrv::Service {
 public:
  std::function<bool(LGCP::Command const&)> onCommand = [](LGCP::Command const&) { return false; };
  bool OnCommand(LGCP::Command const& c) override {
    ++commands;
    return onCommand(c);
  }
  void OnConnect() override { events.push_back("connect"); }
  void OnDisconnect() override { events.push_back("disconnect"); }
  void OnSignal(LGCP::Signal const& s) override { signals.push_back(s.getID()); }
  int commands = 0;
  std::vector<std::string> events;
  std::vector<int> signals;
};

struct Answer {
  std::optional<int> seq;
  std::optional<unsigned> slot;
  LGCP::Message message;
  bool success() const { return message.get_pdu().is_response() && message.get_pdu().get_response().is_success(); }
  int error() const {
    const auto& p = message.get_pdu();
    return p.is_response() && p.get_response().is_error() ? int(p.get_response().get_error().getValue()) : -1;
  }
  bool signal() const { return message.get_pdu().is_signal(); }
};

inline const ASN1::CoderEnv& per() {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
  return env;
}

inline std::string encode(const LGCP::Message& m) {
  std::string out;
  EXPECT_TRUE(ASN1::encode(m, &per(), std::back_inserter(out)));
  return out;
}

inline LGCP::Message command(int alt, std::optional<int> seq = {}, std::optional<unsigned> slot = {}) {
  LGCP::Message m;
  if (seq) m.set_seq(*seq);
  if (slot) m.set_slot(*slot);
  LGCP::Command& c = m.get_pdu().select_command();
  switch (alt) {
    case LGCP::Command::e_query: c.set_query(); break;
    case LGCP::Command::e_ping: c.select_ping(); break;
    case LGCP::Command::e_destroy: c.select_destroy(); break;
    case LGCP::Command::e_deactivate: c.select_deactivate(); break;
    case LGCP::Command::e_disconnect: c.select_disconnect(); break;
    default: ADD_FAILURE() << "no builder for alternative " << alt;
  }
  return m;
}

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd), 0);
    server.Bind(&a);
    server.Bind(&b);
  }
  void TearDown() override {
    server.Deactivate();
    ::close(fd[1]);
  }
  void connect() {
    server.Activate(new PairConnection(fd[0]));
    ASSERT_EQ(server.connection()->state(), Control::State::Connected);
  }
  void deliver(const LGCP::Message& m) {
    const std::string bytes = encode(m);
    server.OnMessage(bytes.data(), int(bytes.size()));
  }
  // Every frame the server has written so far, decoded.
  std::vector<Answer> answers() {
    std::vector<Answer> out;
    const auto bytes = vxtest::drain(fd[1]);
    for (std::size_t at = 0; at + 4 <= bytes.size();) {
      const std::size_t len = (bytes[at + 2] << 8) | bytes[at + 3];
      EXPECT_GE(len, 4u);
      Answer a;
      EXPECT_TRUE(ASN1::decode(bytes.data() + at + 4, bytes.data() + at + len, &per(), a.message));
      if (a.message.has_seq()) a.seq = a.message.get_seq().getValue();
      if (a.message.has_slot()) a.slot = a.message.get_slot().getValue();
      out.push_back(std::move(a));
      at += len;
    }
    return out;
  }

  // The one answer written since the last look (an empty answer when there is not exactly one).
  Answer only() {
    auto got = answers();
    EXPECT_EQ(got.size(), 1u);
    got.resize(1);
    return std::move(got[0]);
  }

  int fd[2];
  CtrlSrv::Server server;
  ScriptedService a, b;
  vxtest::CaptureStreams streams;
};

}  // namespace srvtest
