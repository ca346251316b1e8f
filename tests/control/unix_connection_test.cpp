// The Unix-domain acceptor and connector against each other.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TestSupport.h"
#include "control/AcceptorUnix.h"
#include "control/ConnectorUnix.h"
#include "tests/support/TempDir.h"

namespace {

using vxtest::Recorder;

TEST(UnixConnection, ConnectorFindsTheAcceptorRefusesASecondAndReconnects) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  vxtest::TempDir tmp("vxunix");
  ASSERT_FALSE(tmp.path().empty());
  const std::string dir = tmp.path();
  const std::string path = std::string(dir) + "/ctl";

  Recorder server_rec, client_rec, other_rec;
  Control::ConnectorUnix client(path, std::string(dir) + "/me");
  client.Bind(&client_rec);
  ASSERT_TRUE(client.Activate());
  EXPECT_EQ(vxtest::count(cap.err.str(), "can't connect to " + path + " : "), 1);

  Control::AcceptorUnix server(path);
  server.Bind(&server_rec);
  ASSERT_TRUE(server.Activate());
  clock.advance(1000);
  ASSERT_TRUE(vxtest::pump_until([&] { return server_rec.connects == 1 && client_rec.connects == 1; }));
  EXPECT_EQ(server.connection_name(), std::string(dir) + "/me");
  EXPECT_EQ(vxtest::count(cap.log.str(), "connected to " + path + "\n"), 1);

  client.Send("hello", 5);
  ASSERT_TRUE(vxtest::pump_until([&] { return server_rec.messages.size() == 1; }));
  EXPECT_EQ(server_rec.messages[0], "hello");

  Control::ConnectorUnix other(path);
  other.Bind(&other_rec);
  other.Activate();
  ASSERT_TRUE(vxtest::pump_until([&] { return vxtest::count(cap.err.str(), "refuse connection from") == 1; }));
  EXPECT_EQ(server_rec.connects, 1);
  other.Deactivate();

  server.Disconnect();
  ASSERT_TRUE(vxtest::pump_until([&] { return client_rec.disconnects == 1; }));
  clock.advance(10000);
  ASSERT_TRUE(vxtest::pump_until([&] { return server_rec.connects == 2; }));

  client.Deactivate();
  server.Deactivate();
}

TEST(UnixConnection, PathTooLongForTheAddressIsAFailureNotATruncation) {
  vxtest::TestClock clock;
  vxtest::CaptureStreams cap;
  const std::string error = std::strerror(ENAMETOOLONG);
  // 108 characters: one more than the address holds.
  const std::string path = "/tmp/" + std::string(103, 'p');

  Control::AcceptorUnix server(path);
  ASSERT_TRUE(server.Activate());
  EXPECT_EQ(cap.err.str(), "can't bind to socket: \"" + error + "\"  waiting...\n");
  EXPECT_EQ(server.state(), Control::State::Connecting);
  server.Deactivate();

  cap.clear();
  Control::ConnectorUnix client(path, path);
  ASSERT_TRUE(client.Activate());
  EXPECT_EQ(cap.err.str(), "can't bind to domain socket '" + path + "': \"" + error + "\n" +
                               "can't connect to " + path + " : " + error + "\n");
  EXPECT_EQ(client.state(), Control::State::Connecting);
  client.Deactivate();
}

}  // namespace
