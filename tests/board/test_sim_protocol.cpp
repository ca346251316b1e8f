// The simulator's text protocol, line by line and over its socket on the event loop. What each
// command does is held by the end-to-end tests, which drive the board with them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "board/board.h"
#include "board/hal.h"
#include "board/mcc.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SimProtocol.h"
#include "board/sim/SimServer.h"
#include "foundation/Multiplexer.h"

namespace {

using board::sim::Device;
using board::sim::SimBoard;
using board::sim::SimProtocol;

class SimProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override { sim.reset(); }
  void TearDown() override { sim.reset(); }
  SimBoard& sim = SimBoard::instance();
  SimProtocol protocol{sim};
};

TEST_F(SimProtocolTest, MalformedLinesChangeNothing) {
  EXPECT_EQ(protocol.execute(""), "error empty line\n");
  EXPECT_EQ(protocol.execute("frobnicate 1"), "error unknown command frobnicate\n");
  EXPECT_EQ(protocol.execute("\x01\xFF"), "error unknown command ??\n");
  for (const char* bad : {"cas 4 1 1", "cas 1 1", "cas 1 1 16", "cas x 1 1", "cas 1 1 1 1", "fail hal EWHAT",
                          "fail nosuch EIO", "raw dtmf 123", "raw dtmf zz", "cable 1", "cable 16384 1",
                          "dtmf 99999999999 1", "dsp-event 1 1 00112233445566778899AABBCC", "spi 8 0",
                          "loopback -1", "trunk 0 1 2 3", "dsp-bss 1 x", "fail hal EIO -1", "requests hal 1 2"}) {
    EXPECT_EQ(protocol.execute(bad).rfind("error usage:", 0), 0u) << bad;
  }
  EXPECT_TRUE(sim.state().mux.cables().empty());
  EXPECT_EQ(protocol.execute("a b c d e f g h i j k l m n o p q"), "error too many words\n");
}

TEST_F(SimProtocolTest, FeedSplitsLinesAndSkipsOverlongOnes) {
  EXPECT_EQ(protocol.feed("loop"), "");
  EXPECT_EQ(protocol.feed("back 8200\nclo"), "ok\n");
  EXPECT_EQ(protocol.feed("ck\r\n"), "ok -1\n");
  std::string huge(SimProtocol::kMaxLine + 10, 'x');
  EXPECT_EQ(protocol.feed(huge), "error line too long\n");
  EXPECT_EQ(protocol.feed(huge + "\ntclk\n"), "ok 0\n") << "the rest of the long line is dropped, once";
  EXPECT_EQ(sim.state().mux.cable_of(8200), 8200);
}

// The socket on the event loop, under a root deeper than a socket address can name.
TEST(SimServer, ServesTheProtocolOnTheEventLoop) {
  auto dir = std::filesystem::temp_directory_path() / ("vxsim-" + std::to_string(::getpid()));
  auto deep = dir / std::string(60, 'd') / std::string(60, 'e') / "var/run";
  ASSERT_TRUE(board::sim::serve((deep / "voxrelay-sim.sock").string()));
  int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int here = ::open(deep.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "/proc/self/fd/%d/voxrelay-sim.sock", here);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(here);
  ASSERT_EQ(::write(client, "tclk\n", 5), 5);
  std::string reply;
  for (int pass = 0; pass < 50 && (reply.empty() || reply.back() != '\n'); ++pass) {
    multiplexer.run_once(10);
    char buf[64];
    ssize_t n = ::recv(client, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) reply.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(reply, "ok 0\n");
  ::close(client);
  for (int pass = 0; pass < 5; ++pass) multiplexer.run_once(0);
  std::filesystem::remove_all(dir);
}

}  // namespace
