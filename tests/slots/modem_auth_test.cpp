// The local authentication channel: records cut from the byte stream however they arrive,
// passed to the slot of their session as signals, the daemon's answers on activation, and
// the records and connections that are refused.
#include "ModemFixture.h"

namespace {

using namespace modemtest;

class ModemAuthTest : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    send(create_modem(1, 5, {}));
    send(create_modem(2, 6, {.ddm = {1}}));
    modem(5)->IOnOutputStream();  // modem 0, session 0
    got();
    client = dial();
  }
  void TearDown() override {
    ::close(client);
    ModemTest::TearDown();
  }
  // Writes the bytes and runs the loop until `signals` answers arrived (or a while passed).
  Strings exchange(const std::string& bytes, size_t signals) {
    write_to(client, bytes);
    Strings out;
    pump([&] {
      for (auto& t : got()) out.push_back(t);
      return out.size() >= signals;
    });
    pump_idle();
    for (auto& t : got()) out.push_back(t);
    return out;
  }

  int client = -1;
};

TEST_F(ModemAuthTest, RequestsAndAccountingReachTheSlotOfTheirSession) {
  EXPECT_EQ(exchange(bytes_of(auth_request(0, "alice", "secret")), 1), Strings{"auth alice/secret"});
  EXPECT_EQ(exchange(bytes_of(accounting(0)), 1), Strings{"acct 1:2 3:4 5:6 7:8 0:99"});
  // HDLC slots are session -1.
  EXPECT_EQ(exchange(bytes_of(auth_request(-1, "bob", "pw")), 1), Strings{"auth bob/pw"});
  EXPECT_EQ(factory->clients.front()->session, -1);
  // A session nobody has: dropped, and the channel stays up.
  EXPECT_EQ(exchange(bytes_of(auth_request(7, "eve", "x")), 0), Strings{});
  EXPECT_EQ(exchange(bytes_of(auth_request(0, "carol", "y")), 1), Strings{"auth carol/y"});
}

TEST_F(ModemAuthTest, RecordsAreCutAcrossReadsAndFromOneRead) {
  const std::string one = bytes_of(auth_request(0, "split", "read"));
  write_to(client, one.substr(0, 3));
  pump_idle();
  write_to(client, one.substr(3, 70));
  pump_idle();
  EXPECT_EQ(exchange(one.substr(73), 1), Strings{"auth split/read"});
  const std::string both = bytes_of(accounting(0)) + bytes_of(auth_request(0, "two", "at once"));
  EXPECT_EQ(exchange(both, 2), (Strings{"acct 1:2 3:4 5:6 7:8 0:99", "auth two/at once"}));
}

TEST_F(ModemAuthTest, UnterminatedTextsStopAtTheirFieldEnd) {
  voauth r = auth_request(0, "", "");
  std::memset(r.username, 'u', sizeof r.username);
  std::memset(r.password, 'p', sizeof r.password);
  EXPECT_EQ(exchange(bytes_of(r), 1), Strings{"auth " + std::string(64, 'u') + "/" + std::string(64, 'p')});
}

TEST_F(ModemAuthTest, MalformedRecordsAreDroppedAndTheChannelStaysUp) {
  // Kinds with the wrong size send nothing.
  std::string bad_auth = bytes_of(auth_request(0, "a", "b"));
  bad_auth.resize(100);
  reinterpret_cast<attr*>(bad_auth.data())->length = 100;
  std::string bad_acct = bytes_of(accounting(0));
  bad_acct.resize(60);
  reinterpret_cast<attr*>(bad_acct.data())->length = 60;
  // A record too short to name a session, the daemon's own kinds and an unknown kind.
  const std::string records = bad_auth + bad_acct + header_only(8, 1, 0).substr(0, 8) + header_only(12, 2, 0) +
                              header_only(12, 3, 0) + header_only(12, 0x42, 0) + header_only(4, 1, 0).substr(0, 4);
  EXPECT_EQ(exchange(records, 0), Strings{});
  EXPECT_EQ(exchange(bytes_of(auth_request(0, "still", "up")), 1), Strings{"auth still/up"});
}

TEST_F(ModemAuthTest, ALengthOutsideFourTo512EndsTheConnection) {
  write_to(client, header_only(513, 1, 0));
  EXPECT_TRUE(closed_by_daemon(client));
  pump_idle();
  EXPECT_TRUE(factory->clients.empty());
  const int again = dial();
  write_to(again, std::string("\0\0\0\0", 4).substr(0, 3) + std::string(1, '\0'));  // length 0
  EXPECT_TRUE(closed_by_daemon(again));
  ::close(again);
}

TEST_F(ModemAuthTest, ActivationSendsAcceptAndIpToTheClientOfTheSession) {
  // A second client that last named session 0 too: the first in connection order gets them.
  const int second = dial();
  write_to(second, bytes_of(auth_request(0, "x", "y")));
  exchange(bytes_of(auth_request(0, "a", "b")), 2);
  send(activate_modem(3, 5));
  EXPECT_EQ(got(), Strings{"success"});
  const voaccept accept{{16, 2, 0}, 1};
  const voip ip{{36, 3, 0}, 0, inet_addr("10.1.2.3"), inet_addr("255.255.255.0"), inet_addr("10.1.2.1"),
                inet_addr("10.1.2.53"), 1500};
  EXPECT_EQ(take(client, sizeof accept + sizeof ip), bytes_of(accept) + bytes_of(ip));
  pump_idle();
  char c;
  EXPECT_EQ(::recv(second, &c, 1, MSG_DONTWAIT), -1);  // nothing for the second client
  ::close(second);
  // No client for session -1: the activation still succeeds.
  send(activate_modem(4, 6));
  EXPECT_EQ(got(), Strings{"success"});
  // Other alternatives are refused.
  send(slot_command(5, 5, [](LGCP::Command& c) { c.select_activate().set_empty(); }));
  EXPECT_EQ(got(), Strings{"error " + std::to_string(LGCP::ErrorCause::unsupported)});
}

TEST_F(ModemAuthTest, AModemTheBoardGaveToAnotherSlotTakesItsSessionAlong) {
  exchange(bytes_of(auth_request(0, "alice", "secret")), 1);
  // The board frees its modems without hanging the device up: the next slot is given modem 0.
  sim().modem().configure(4, 1024);
  send(create_modem(3, 7, {}));
  got();
  modem(7)->IOnOutputStream();
  EXPECT_EQ(got(), (Strings{"abort 19", "transmitter active 1024", "receiver active 1024"}));
  EXPECT_EQ(launcher.signals, (std::vector<std::pair<int, int>>{{4000, SIGHUP}}));
  EXPECT_EQ(modem(5)->IGetTransmitChannel(), -1);
  // The session's records reach the new holder; the old one sends none on activation.
  write_to(client, bytes_of(auth_request(0, "bob", "pw")));
  std::vector<srvtest::Answer> a;
  pump([&] {
    for (auto& x : answers()) a.push_back(x);
    return !a.empty();
  });
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].slot, 7u);
  EXPECT_EQ(modem_text(a[0]), "auth bob/pw");
  send(activate_modem(4, 5));
  send(activate_modem(5, 7));
  EXPECT_EQ(got(), (Strings{"success", "success"}));
  EXPECT_EQ(take(client, sizeof(voaccept) + sizeof(voip)).size(), sizeof(voaccept) + sizeof(voip));
  pump_idle();
  char c;
  EXPECT_EQ(::recv(client, &c, 1, MSG_DONTWAIT), -1);
  // The hung-up pppd's end is not reported a second time.
  modem(5)->childWait.handler->Invoke(modem(5)->childWait, 0);
  EXPECT_EQ(got(), Strings{});
}

TEST_F(ModemAuthTest, LocalClientsAreCapped) {
  std::vector<int> more;
  while (factory->clients.size() < ModemFactory::kMaxClients) more.push_back(dial());
  const int extra = dial();
  EXPECT_TRUE(closed_by_daemon(extra));
  EXPECT_EQ(factory->clients.size(), ModemFactory::kMaxClients);
  ::close(extra);
  for (int s : more) ::close(s);
  pump([&] { return factory->clients.size() == 1; });
  EXPECT_EQ(factory->clients.size(), 1u);
}

TEST_F(ModemAuthTest, TheListenerReusesItsAddress) {
  const uint16_t port = factory->AuthPort();
  ASSERT_NE(port, 0);
  // The daemon's side closes first, so its end of the connection waits in TIME_WAIT on the
  // port: a new listener gets the port all the same.
  exchange(bytes_of(auth_request(0, "a", "b")), 1);
  factory.reset();
  char c;
  EXPECT_TRUE(pump([&] { return ::recv(client, &c, 1, MSG_DONTWAIT) == 0; }));
  ::close(client);
  client = -1;
  factory = std::make_unique<ModemFactory>(port);
  EXPECT_EQ(factory->AuthPort(), port);
}

}  // namespace
