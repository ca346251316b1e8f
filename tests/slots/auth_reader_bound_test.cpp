// The authentication channel's reader takes a bounded share of a flooding client per wake-up:
// the rest waits for the next passes, in order, and a record cut by the bound is finished
// there.
#include "ModemFixture.h"

namespace {

using namespace modemtest;

class AuthReaderBoundTest : public ModemTest {
 protected:
  void SetUp() override {
    ModemTest::SetUp();
    send(create_modem(1, 5, {}));
    modem(5)->IOnOutputStream();  // session 0
    got();
    client = dial();
  }
  void TearDown() override {
    ::close(client);
    ModemTest::TearDown();
  }
  // One readiness report to the client, as the loop would make it.
  Strings wake() {
    AuthClient* c = factory->clients.front();
    c->OnSocketEvent(c->fd.get(), POLLIN);
    return got();
  }
  static std::string request(int n) { return bytes_of(auth_request(0, ("u" + std::to_string(n)).c_str(), "p")); }

  int client = -1;
};

TEST_F(AuthReaderBoundTest, AFloodIsTakenInBoundedSharesInOrderWithARecordSplitBetweenWakeUps) {
  // The first record's length word arrives alone, then the rest of it with 99 more.
  const std::string first = request(0);
  write_to(client, first.substr(0, 4));
  EXPECT_EQ(wake(), Strings{});
  std::string flood = first.substr(4);
  for (int n = 1; n < 100; ++n) flood += request(n);
  write_to(client, flood);

  Strings all;
  std::vector<size_t> shares;
  for (int pass = 0; pass < 10 && all.size() < 100; ++pass) {
    const Strings share = wake();
    shares.push_back(share.size());
    all.insert(all.end(), share.begin(), share.end());
  }
  // The bound cut the 65th record after its length word: the next wake-up finished it.
  ASSERT_GE(shares.size(), 2u);
  EXPECT_EQ(shares[0], 64u);
  EXPECT_EQ(shares[1], 36u);
  ASSERT_EQ(all.size(), 100u);
  for (int n = 0; n < 100; ++n) EXPECT_EQ(all[size_t(n)], "auth u" + std::to_string(n) + "/p");
  EXPECT_EQ(wake(), Strings{});
  EXPECT_EQ(factory->clients.size(), 1u);  // the channel stays up
}

}  // namespace
