// The local authentication channel: records cut from the byte stream however they arrive,
// passed to the slot of their session as signals, the daemon's answers on activation, and
// the records and connections that are refused.
#include "ModemFixture.h"

namespace {

using namespace modemtest;
using C = LGCP::Command;

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
  // Writes the bytes (to the fixture's client unless another is named) and runs the loop until
  // `signals` answers arrived (or a while passed).
  Strings exchange(const std::string& bytes, size_t signals, int to = -1) {
    write_to(to < 0 ? client : to, bytes);
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

TEST_F(ModemAuthTest, ActivationGoesToTheFirstClientWhoseLastRecordNamedTheSession) {
  // Both clients speak for slot 5's call. The first names session -1 last, so the activation
  // goes to the second; once the first names session 0 again, it is first in order.
  exchange(bytes_of(auth_request(0, "a", "b")) + bytes_of(accounting(-1)), 2);
  const int second = dial();
  exchange(bytes_of(auth_request(0, "x", "y")), 1, second);
  send(activate_modem(3, 5));
  EXPECT_EQ(got(), Strings{"success"});
  const voaccept accept{{16, 2, 0}, 1};
  const voip ip{{36, 3, 0}, 0, inet_addr("10.1.2.3"), inet_addr("255.255.255.0"), inet_addr("10.1.2.1"),
                inet_addr("10.1.2.53"), 1500};
  EXPECT_EQ(take(second, sizeof accept + sizeof ip), bytes_of(accept) + bytes_of(ip));
  pump_idle();
  char c;
  EXPECT_EQ(::recv(client, &c, 1, MSG_DONTWAIT), -1);  // nothing for the first client
  // A record the slot refuses names nothing; an accounting record does.
  exchange(header_only(12, 2, 0) + bytes_of(accounting(0)), 1);
  send(activate_modem(4, 5));
  EXPECT_EQ(got(), Strings{"success"});
  EXPECT_EQ(take(client, sizeof accept + sizeof ip), bytes_of(accept) + bytes_of(ip));
  pump_idle();
  EXPECT_EQ(::recv(second, &c, 1, MSG_DONTWAIT), -1);
  ::close(second);
  // No client for session -1: the activation still succeeds.
  send(activate_modem(5, 6));
  EXPECT_EQ(got(), Strings{"success"});
  // Other alternatives are refused.
  send(slot_command(6, 5, [](LGCP::Command& c) { c.select_activate().set_empty(); }));
  EXPECT_EQ(got(), Strings{"error " + std::to_string(LGCP::ErrorCause::unsupported)});
}

TEST_F(ModemAuthTest, AnActivationWhoseAddressesDoNotParseIsRefusedAndSendsNothing) {
  exchange(bytes_of(auth_request(0, "a", "b")), 1);
  send(activate_modem(3, 5, [](TERM::ModemUserParameters& u) {
    u.set_remoteAddr("10.0.0.300");
    u.set_gateway("gw");
  }));
  send(activate_modem(4, 5, [](TERM::ModemUserParameters& u) { u.set_dns(std::string("10.1.2.53\0" "9", 11)); }));
  const std::string refused = "error " + std::to_string(LGCP::ErrorCause::unsupported);
  EXPECT_EQ(got(), (Strings{refused, refused}));
  for (const char* line : {"activation refused: remoteAddr \"10.0.0.300\" is not an IPv4 address",
                           "activation refused: gateway \"gw\" is not an IPv4 address", "dns \"10.1.2.53\\x009\""})
    EXPECT_NE(streams.err.str().find(line), std::string::npos) << line;
  // Nothing reached the PPP side; a well-formed activation, all-ones netmask and all, does.
  send(activate_modem(5, 5, [](TERM::ModemUserParameters& u) { u.set_netmask("255.255.255.255"); }));
  EXPECT_EQ(got(), Strings{"success"});
  EXPECT_EQ(take(client, sizeof(voaccept) + sizeof(voip)).substr(sizeof(voaccept) + 20, 4), std::string(4, '\xff'));
}

TEST_F(ModemAuthTest, AModemTheBoardGaveToAnotherSlotServesOnlyTheNewCallsConnection) {
  exchange(bytes_of(auth_request(0, "alice", "secret")), 1);
  // The board frees its modems without hanging the device up: the next slot is given modem 0
  // while the old pppd, hung up, keeps its connection.
  sim().modem().configure(4, 1024);
  send(create_modem(3, 7, {}));
  got();
  modem(7)->IOnOutputStream();
  EXPECT_EQ(got(), (Strings{"abort 19", "transmitter active 1024", "receiver active 1024"}));
  EXPECT_EQ(launcher.signals, (std::vector<std::pair<int, int>>{{4000, SIGHUP}}));
  EXPECT_EQ(modem(5)->IGetTransmitChannel(), -1);

  // The old connection's closing accounting is the lost call's: dropped.
  EXPECT_EQ(exchange(bytes_of(accounting(0)), 0), Strings{});
  EXPECT_NE(streams.err.str().find("speaks for a call that is over, dropped."), std::string::npos);
  // The new call's own connection serves slot 7.
  const int fresh = dial();
  write_to(fresh, bytes_of(auth_request(0, "bob", "pw")));
  std::vector<srvtest::Answer> a;
  pump([&] {
    for (auto& x : answers()) a.push_back(x);
    return !a.empty();
  });
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].slot, 7u);
  EXPECT_EQ(modem_text(a[0]), "auth bob/pw");
  // Slot 5 holds no session: its activation is not done. Slot 7's goes to the new connection.
  send(activate_modem(4, 5));
  send(activate_modem(5, 7));
  EXPECT_EQ(got(), (Strings{"error " + std::to_string(LGCP::ErrorCause::unsupported), "success"}));
  EXPECT_EQ(take(fresh, sizeof(voaccept) + sizeof(voip)).size(), sizeof(voaccept) + sizeof(voip));
  pump_idle();
  char c;
  EXPECT_EQ(::recv(client, &c, 1, MSG_DONTWAIT), -1);
  ::close(fresh);

  // The hung-up pppd is killed as at a destroy, and its end is not reported a second time.
  clock.advance(ModemSlot::kTerminateTimeoutMs - 1);
  pump_idle();
  EXPECT_EQ(launcher.signals.size(), 1u);
  clock.advance(1);
  pump_idle();
  EXPECT_EQ(launcher.signals, (std::vector<std::pair<int, int>>{{4000, SIGHUP}, {4000, SIGKILL}}));
  modem(5)->childWait.handler->Invoke(modem(5)->childWait, 9);
  EXPECT_EQ(got(), Strings{});
}

TEST_F(ModemAuthTest, ADestroyAfterTheModemIsLostKeepsTheKillTimeOfTheLoss) {
  sim().modem().configure(4, 1024);
  send(create_modem(3, 7, {}));
  modem(7)->IOnOutputStream();  // takes modem 0 from slot 5
  got();
  clock.advance(2000);
  pump_idle();
  send(simple(6, 5, C::e_destroy));
  EXPECT_EQ(got(), Strings{});  // answered once the pppd is gone
  clock.advance(ModemSlot::kTerminateTimeoutMs - 2000 - 1);
  pump_idle();
  EXPECT_EQ(launcher.signals, (std::vector<std::pair<int, int>>{{4000, SIGHUP}, {4000, SIGHUP}}));
  clock.advance(1);
  pump_idle();
  EXPECT_EQ(launcher.signals.back(), (std::pair<int, int>{4000, SIGKILL}));
  EXPECT_EQ(slots.Find(5), nullptr);
  const auto late = answers();
  ASSERT_EQ(late.size(), 1u);
  EXPECT_TRUE(late[0].success() && late[0].seq == 6);
}

TEST_F(ModemAuthTest, ASlotWithoutAModemHoldsNoSession) {
  // Slot 7, a DSP modem slot not started, comes before slot 8, an HDLC slot (session -1).
  send(simple(3, 6, C::e_destroy));
  send(create_modem(4, 7, {}));
  send(create_modem(5, 8, {.ddm = {1}}));
  got();
  write_to(client, bytes_of(auth_request(-1, "digital", "caller")));
  std::vector<srvtest::Answer> a;
  pump([&] {
    for (auto& x : answers()) a.push_back(x);
    return !a.empty();
  });
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].slot, 8u);
  send(activate_modem(6, 7));
  EXPECT_EQ(got(), Strings{"error " + std::to_string(LGCP::ErrorCause::unsupported)});
  pump_idle();
  char c;
  EXPECT_EQ(::recv(client, &c, 1, MSG_DONTWAIT), -1);
}

TEST_F(ModemAuthTest, AccountingHalvesTravelAsUnsignedWords) {
  voacct r = accounting(0);
  r.octetsOutHigh = 0xFFFFFFFFu, r.octetsOutLow = 0x80000000u;
  r.octetsInHigh = 0, r.octetsInLow = 0x7FFFFFFFu;
  write_to(client, bytes_of(r));
  std::string frame;
  pump([&] {
    for (auto b : vxtest::drain(fd[1])) frame += static_cast<char>(b);
    return !frame.empty();
  });
  // An unconstrained INTEGER is a length octet and the two's complement octets: a word of 2^31
  // or more takes five octets to stay positive (-1 and -2^31 would take one and four).
  const std::string max = std::string("\x05\x00\xff\xff\xff\xff", 6);
  const std::string half = std::string("\x05\x00\x80\x00\x00\x00", 6);
  const std::string below = std::string("\x04\x7f\xff\xff\xff", 5);
  const size_t high = frame.find(max), low = frame.find(half), in = frame.find(below);
  ASSERT_NE(high, std::string::npos);
  ASSERT_NE(low, std::string::npos);
  EXPECT_NE(in, std::string::npos);
  // octetsOut is { low, high }: low first.
  EXPECT_LT(low, high);
  EXPECT_LT(high, in);
}

TEST_F(ModemAuthTest, PeersStalledInARecordAreClosedAndQuietOnesStay) {
  // A peer stuck half-way through its first record goes after the stall time; the fixture's
  // client, which sent nothing, and a peer that sent a whole record stay however long they idle.
  const int half = dial();
  write_to(half, bytes_of(auth_request(0, "a", "b")).substr(0, 70));
  const int whole = dial();
  write_to(whole, bytes_of(accounting(9)));
  // A peer that begins its second record later and trickles it has the time from the
  // record's first byte.
  const int trickle = dial();
  const std::string second = bytes_of(auth_request(0, "c", "d"));
  write_to(trickle, bytes_of(accounting(9)));
  pump_idle();
  clock.advance(1000);
  pump_idle();
  write_to(trickle, second.substr(0, 10));
  pump_idle();
  clock.advance(AuthClient::kStallTimeoutMs - 1000 - 1);
  pump_idle();
  EXPECT_EQ(factory->clients.size(), 4u);
  clock.advance(1);
  pump_idle();
  EXPECT_TRUE(closed_by_daemon(half));
  EXPECT_EQ(factory->clients.size(), 3u);
  // Ten bytes every 200 ms do not stretch the time of the record begun at 1000 ms.
  for (size_t n = 10; n < 60; n += 10) {
    write_to(trickle, second.substr(n, 10));
    pump_idle();
    clock.advance(n < 50 ? 200 : 199);
    pump_idle();
  }
  EXPECT_EQ(factory->clients.size(), 3u);
  clock.advance(1);
  pump_idle();
  EXPECT_TRUE(closed_by_daemon(trickle));
  EXPECT_NE(streams.err.str().find("left a record unfinished, closed."), std::string::npos);
  clock.advance(10 * AuthClient::kStallTimeoutMs);
  pump_idle();
  ASSERT_EQ(factory->clients.size(), 2u);
  for (int s : {client, whole}) {
    char c;
    EXPECT_EQ(::recv(s, &c, 1, MSG_DONTWAIT), -1);
  }
  // A PPP side that sends its first record once its link is up is served.
  EXPECT_EQ(exchange(bytes_of(auth_request(0, "late", "pppd")), 1), Strings{"auth late/pppd"});
  for (int s : {half, whole, trickle}) ::close(s);
}

TEST_F(ModemAuthTest, ANewPeerTakesTheOldestQuietPlaceAndIsRefusedWhenNoneIsQuiet) {
  // The fixture's client, the oldest, names its session: the first quiet peer gives its place up.
  exchange(bytes_of(auth_request(0, "a", "b")), 1);
  std::vector<int> peers;
  while (factory->clients.size() < ModemFactory::kMaxClients) peers.push_back(dial());
  peers.push_back(dial());
  EXPECT_TRUE(closed_by_daemon(peers[0]));
  EXPECT_EQ(factory->clients.size(), ModemFactory::kMaxClients);
  // Peers that each begin a record and stall hold their places for the stall time only.
  for (size_t n = 1; n < peers.size(); ++n) write_to(peers[n], bytes_of(auth_request(0, "c", "d")).substr(0, 10));
  pump_idle();
  peers.push_back(dial());
  EXPECT_TRUE(closed_by_daemon(peers.back()));
  clock.advance(AuthClient::kStallTimeoutMs);
  pump_idle();
  EXPECT_EQ(factory->clients.size(), 1u);
  for (int s : peers) ::close(s);
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
