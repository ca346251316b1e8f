// The simulator's text protocol, line by line and over its socket on the event loop.
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

TEST_F(SimProtocolTest, CommandsReachTheBoard) {
  int hal = board::open(board::hal::kPath, O_RDWR);
  int dtmf = board::open("/dev/dtmf", O_RDONLY | O_NONBLOCK);
  board::hal::MuxValue w;
  w.channel = 8195;
  w.value = 0xD5;
  ASSERT_EQ(board::ioctl(hal, board::hal::MUX_WRITE, &w), 0);
  EXPECT_EQ(protocol.execute("switch 8195"), "ok constant 213\n");
  EXPECT_EQ(protocol.execute("read 0x2003"), "ok 213\n");
  EXPECT_EQ(protocol.execute("requests hal"), "ok 1\nMUX_WRITE channel=8195 value=213 -> 0\n");
  EXPECT_EQ(protocol.execute("count /dev/hal"), "ok 1\n");
  EXPECT_EQ(protocol.execute("requests hal 5 MUX_WRITE"), "ok 1\nMUX_WRITE channel=8195 value=213 -> 0\n");
  EXPECT_EQ(protocol.execute("requests hal 5 NOPE").rfind("error usage", 0), 0u);

  EXPECT_EQ(protocol.execute("fail hal ENODEV"), "ok\n");
  EXPECT_EQ(board::ioctl(hal, board::hal::MUX_WRITE, &w), -1);
  EXPECT_EQ(errno, ENODEV);

  EXPECT_EQ(protocol.execute("dtmf 3 49 100 7"), "ok 1\n");
  uint8_t rec[32];
  EXPECT_EQ(::read(dtmf, rec, sizeof rec), 16);
  EXPECT_EQ(rec[15], 7);
  EXPECT_EQ(protocol.execute("hangup dtmf"), "ok\n");
  EXPECT_EQ(::read(dtmf, rec, sizeof rec), 0);
  EXPECT_EQ(protocol.execute("trunk 1 3 7 0 1 0 0"), "ok\n");
  EXPECT_EQ(sim.state().trunks[1].slips, 7u);
  EXPECT_EQ(protocol.execute("fail-open dsp EACCES"), "ok\n");
  EXPECT_EQ(board::open("/dev/dsp", O_RDONLY), -1);
  EXPECT_EQ(protocol.execute("spi 2 51 0xC5"), "ok 197\n");
  board::close(hal);
  board::close(dtmf);
}

TEST_F(SimProtocolTest, ChannelsFramesAndConnectionsAreListed) {
  int fd = board::open(board::mcc::kPath, O_RDWR | O_NONBLOCK);
  board::mcc::Allocate a;
  ASSERT_EQ(board::ioctl(fd, board::mcc::MCC_ALLOCATE, &a), 0);
  int ch = board::ioctl(fd, board::mcc::MCC_TIMESLOT, nullptr);
  ASSERT_EQ(::write(fd, "\x01\xAB", 2), 2);
  std::string c = std::to_string(ch);
  EXPECT_EQ(protocol.execute("channels"), "ok 1\n" + c + " type=0 open=1 sent=1 received=0 dropped=0\n");
  EXPECT_EQ(protocol.execute("frames " + c), "ok 1\n01AB\n");
  EXPECT_EQ(protocol.execute("hdlc-frame " + c + " 0203"), "ok 1\n");
  uint8_t buf[8];
  EXPECT_EQ(::read(fd, buf, sizeof buf), 2);
  EXPECT_EQ(protocol.execute("hdlc-frame 1 0203"), "ok 0\n");
  board::close(fd);

  // Every switch output that is not disabled, in channel order.
  EXPECT_EQ(protocol.execute("connections"), "ok 0\n");
  EXPECT_EQ(protocol.execute("connections 1").rfind("error", 0), 0u);
  sim.state().mux.connect(8300, 37);
  sim.state().mux.write(65, 0xD5);
  sim.state().mux.connect(8200, 5);
  sim.state().mux.disable(8200);
  EXPECT_EQ(protocol.execute("connections"), "ok 2\n65 constant 213\n8300 connected 37\n");
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
