// The simulated extension device through the text protocol, as end-to-end tests reach it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "board/board.h"
#include "board/rtp_ext.h"
#include "board/sim/SimBoard.h"
#include "board/sim/SimProtocol.h"

namespace {

using board::sim::SimBoard;
namespace rx = board::rtp_ext;

TEST(RtpExtSim, TextProtocolInjectsListsAndShowsWrites) {
  SimBoard& sim = SimBoard::instance();
  sim.reset();
  board::sim::SimProtocol protocol(sim);
  int fd = board::open(rx::kPath, O_RDWR | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  // Not yet initialised: the packet reaches no session.
  EXPECT_EQ(protocol.execute("rtp-ext-packet 10.0.0.1 5 0102"), "ok 0\n");
  rx::InitParams init{};
  init.etype = rx::kEtypeEd137;
  init.mode = 1;
  init.keepalive_pt = 123;
  ASSERT_EQ(board::ioctl(fd, rx::RTP_EXT_INIT, &init), 0);
  rx::Filter filter{};
  filter.src_addr = htonl(0x0A000001);
  ASSERT_EQ(board::ioctl(fd, rx::RTP_EXT_SET_FILTER, &filter), 0);
  EXPECT_EQ(protocol.execute("rtp-ext-packet 10.0.0.2 5 0102"), "ok 0\n");
  EXPECT_EQ(protocol.execute("rtp-ext-packet 10.0.0.1 0x1234 31401111 1"), "ok 1\n");
  uint8_t out[] = {0x20, 0x01, 0x21, 0x05};
  ASSERT_EQ(::write(fd, out, sizeof out), 4);
  EXPECT_EQ(protocol.execute("rtp-ext-sessions"),
            "ok 1\n1 open=1 init=1 etype=0x0167 mode=1 pt=123 period=0 sigtime=0 attached=0 fd_rtp=-1 pid_rtp=0 "
            "filter=10.0.0.1 queued=1 sent=1 received=1 dropped=2\n");
  EXPECT_EQ(protocol.execute("rtp-ext-sent 1"), "ok 1\n20012105\n");
  EXPECT_EQ(protocol.execute("rtp-ext-sent 9"), "ok 0\n");

  rx::RxInfo info{};
  EXPECT_EQ(board::ioctl(fd, rx::RTP_EXT_RX_INFO, &info), 4);
  EXPECT_EQ(info.ssrc, 0x1234u);
  uint8_t in[16];
  EXPECT_EQ(::read(fd, in, sizeof in), 4);
  EXPECT_EQ(board::ioctl(fd, rx::RTP_EXT_RX_INFO, &info), 0);

  for (const char* bad : {"rtp-ext-packet 10.0.0.300 1 00", "rtp-ext-packet 10.0.0.1 1 0", "rtp-ext-packet",
                          "rtp-ext-sessions 1", "rtp-ext-sent", "rtp-ext-sent x"}) {
    EXPECT_EQ(protocol.execute(bad).rfind("error usage", 0), 0u) << bad;
  }
  board::close(fd);
  EXPECT_EQ(protocol.execute("rtp-ext-sessions").find("1 open=0"), 5u);
  sim.reset();
}

}  // namespace
