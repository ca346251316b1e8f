// The simulator's text protocol and its socket (what each command does is held end to end), and
// the simulated network interfaces: one table behind both kinds of interface socket.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "board/board.h"
#include "board/netif.h"
#include "board/sim/SimServer.h"
#include "foundation/Multiplexer.h"
#include "tests/board/SimFixture.h"

namespace {

using board::sim::SimProtocol;

using SimProtocolTest = simtest::SimTest;

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
  EXPECT_TRUE(sim().state().mux.cables().empty());
  EXPECT_EQ(protocol.execute("a b c d e f g h i j k l m n o p q"), "error too many words\n");
}

TEST_F(SimProtocolTest, FeedSplitsLinesAndSkipsOverlongOnes) {
  EXPECT_EQ(protocol.feed("loop"), "");
  EXPECT_EQ(protocol.feed("back 8200\nclo"), "ok\n");
  EXPECT_EQ(protocol.feed("ck\r\n"), "ok -1\n");
  std::string huge(SimProtocol::kMaxLine + 10, 'x');
  EXPECT_EQ(protocol.feed(huge), "error line too long\n");
  EXPECT_EQ(protocol.feed(huge + "\ntclk\n"), "ok 0\n") << "the rest of the long line is dropped, once";
  EXPECT_EQ(sim().state().mux.cable_of(8200), 8200);
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

class SimNetifTest : public simtest::SimTest {
 protected:
  static ifreq named(const char* name) {
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    return ifr;
  }
  std::string line(const std::string& text) { return protocol.execute(text); }

  board::sim::SimNetif& netif = sim().netif();
};

TEST_F(SimNetifTest, BothSocketsSeeOneTable) {
  ASSERT_TRUE(netif.add("hdlc0", 77));
  const int packet = board::socket(AF_PACKET, SOCK_RAW, 255);
  board::InterfaceSocket inet;
  ASSERT_GE(packet, 0);
  ASSERT_TRUE(inet);

  // The modem side finds the synchronous interface by name...
  ifreq ifr = named("hdlc0");
  ASSERT_EQ(inet.request(board::SIOCGIFINDEX_, ifr), 0);
  const int index = ifr.ifr_ifindex;
  EXPECT_EQ(index, 3);  // above lo and eth0
  ASSERT_EQ(inet.request(board::SIOCGIFFLAGS_, ifr), 0);
  EXPECT_EQ(ifr.ifr_flags, IFF_POINTOPOINT);
  // ...the link-state reader by index, on its packet socket.
  ifreq by_index{};
  by_index.ifr_ifindex = index;
  ASSERT_EQ(board::ioctl(packet, board::SIOCGIFNAME_, &by_index), 0);
  EXPECT_STREQ(by_index.ifr_name, "hdlc0");

  // Brought up through one socket, seen up through the other; the link state is not the
  // caller's to set.
  ifr.ifr_flags = IFF_UP | IFF_POINTOPOINT | IFF_RUNNING;
  ASSERT_EQ(inet.request(board::SIOCSIFFLAGS_, ifr), 0);
  ASSERT_EQ(board::ioctl(packet, board::SIOCGIFFLAGS_, &by_index), 0);
  EXPECT_EQ(by_index.ifr_flags, IFF_UP | IFF_POINTOPOINT);
  netif.find("hdlc0")->flags |= IFF_RUNNING;
  ifr.ifr_flags = IFF_POINTOPOINT;
  ASSERT_EQ(inet.request(board::SIOCSIFFLAGS_, ifr), 0);
  EXPECT_EQ(netif.find("hdlc0")->flags, IFF_POINTOPOINT | IFF_RUNNING);

  // Interface settings belong to synchronous interfaces only.
  ifreq eth = named("eth0");
  uint32_t zero = 0;
  board::settings_of(eth) = {board::IF_PROTO_PPP_, 4, &zero};
  EXPECT_EQ(board::ioctl(packet, board::SIOCWANDEV_, &eth), -1);
  EXPECT_EQ(errno, EOPNOTSUPP);
  ifreq none = named("hdlc9");
  EXPECT_EQ(inet.request(board::SIOCGIFINDEX_, none), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(inet.request(0x8915 /* SIOCGIFADDR */, eth), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(board::close(packet), 0);
  EXPECT_FALSE(netif.owns(packet));
  // Only packet and IPv4 sockets are interface sockets.
  EXPECT_EQ(board::socket(AF_UNIX, SOCK_DGRAM, 0), -1);
  EXPECT_EQ(errno, EAFNOSUPPORT);
}

TEST_F(SimNetifTest, TableKeepsNamesUniqueStaysBoundedAndIsReset) {
  EXPECT_FALSE(netif.set(5, "eth0", IFF_UP));  // eth0 is index 2
  EXPECT_FALSE(netif.set(0, "x", IFF_UP));
  EXPECT_FALSE(netif.set(256, "x", IFF_UP));
  EXPECT_FALSE(netif.set(5, "a-name-longer-than-15", IFF_UP));
  EXPECT_FALSE(netif.add("", 1));
  // A plain interface that becomes synchronous keeps its index.
  ASSERT_TRUE(netif.set(9, "wan0", IFF_UP));
  ASSERT_TRUE(netif.add("wan0", 12));
  EXPECT_EQ(netif.find("wan0")->index, 9);
  EXPECT_TRUE(netif.find("wan0")->synchronous);
  int added = 0;
  for (int i = 0; i < 300; ++i) added += netif.add("x" + std::to_string(i), 1);
  EXPECT_EQ(netif.interfaces().size(), board::sim::SimNetif::kMaxInterfaces);
  EXPECT_EQ(added, static_cast<int>(board::sim::SimNetif::kMaxInterfaces) - 3);

  netif.remove("eth0");
  netif.fail_next(board::SIOCGIFINDEX_, EIO);
  sim().reset();
  EXPECT_EQ(netif.interfaces().size(), 2u);
  EXPECT_EQ(netif.find(2)->name, "eth0");
  EXPECT_TRUE(netif.log().empty());
  board::InterfaceSocket inet;
  ifreq ifr = named("lo");
  EXPECT_EQ(inet.request(board::SIOCGIFINDEX_, ifr), 0) << "the failure went with the reset";
}

TEST_F(SimNetifTest, Lines) {
  EXPECT_EQ(line("netif 9 wan0 0"), "ok\n");
  EXPECT_EQ(line("netif-sync hdlc0 77"), "ok 10\n");
  EXPECT_EQ(line("netif-sync hdlc1 78 0x11"), "ok 11\n");
  EXPECT_EQ(line("netif 2 eth0 0"), "ok\n");  // link down, the rest unchanged
  EXPECT_EQ(line("netifs"),
            "ok 5\n"
            "1 lo running=1 flags=0x49\n"
            "2 eth0 running=0 flags=0x1\n"
            "9 wan0 running=0 flags=0x1\n"
            "10 hdlc0 running=0 flags=0x10 channel=77 proto=0x0\n"
            "11 hdlc1 running=0 flags=0x11 channel=78 proto=0x0\n");
  EXPECT_EQ(line("netif-remove hdlc1"), "ok 1\n");
  EXPECT_EQ(line("netif-remove 9"), "ok 1\n");
  EXPECT_EQ(line("netif-remove 9"), "ok 0\n");
  EXPECT_EQ(line("netif-fail SIOCWANDEV EPERM 2"), "ok\n");
  board::InterfaceSocket inet;
  ifreq ifr = named("hdlc0");
  uint32_t zero = 0;
  board::settings_of(ifr) = {board::IF_PROTO_PPP_, 4, &zero};
  EXPECT_EQ(inet.request(board::SIOCWANDEV_, ifr), -1);
  EXPECT_EQ(line("netif-fail SIOCWANDEV none"), "ok\n");
  EXPECT_EQ(inet.request(board::SIOCWANDEV_, ifr), 0);
  EXPECT_EQ(line("netif-requests"),
            "ok 2\n"
            "SIOCWANDEV hdlc0 -> -1 EPERM\n"  // failed before it was looked at
            "SIOCWANDEV hdlc0 type=0x2001 size=4 data=0x0 -> 0\n");
  EXPECT_NE(line("help").find(" netif-sync "), std::string::npos);
  for (const char* bad :
       {"netif 256 x 1", "netif 0 x 1", "netif 3 a-name-longer-than-15 1", "netif 3 eth0 1", "netif 3 x maybe",
        "netif 3 x", "netif-sync hdlc0", "netif-sync hdlc0 -1", "netif-sync hdlc0 1 0x10000", "netif-remove",
        "netifs 1", "netif-requests 1", "netif-fail SIOCGIFADDR EIO", "netif-fail SIOCWANDEV EWHAT",
        "netif-fail SIOCWANDEV EIO 1 2"})
    EXPECT_EQ(line(bad).rfind("error", 0), 0u) << bad;
  EXPECT_EQ(netif.interfaces().size(), 3u);
}

}  // namespace
