// Call records over UDP to each destination in the order given.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "monitoring/CDR_Sender.h"
#include "tests/support/CaptureStreams.h"

namespace {

// A UDP socket on a free port that reports which address each datagram was sent to.
class Collector {
 public:
  Collector() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
    int on = 1;
    setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Collector() { close(fd_); }

  std::string at(const char* address) const { return std::string(address) + ":" + std::to_string(port_); }

  // The datagrams waiting now (loopback delivers within the send call), each with the address
  // it was sent to.
  std::vector<std::pair<std::string, std::string>> received() {
    std::vector<std::pair<std::string, std::string>> out;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0) return out;
      char data[70000];
      char control[256];
      iovec v{data, sizeof data};
      msghdr m{};
      m.msg_iov = &v;
      m.msg_iovlen = 1;
      m.msg_control = control;
      m.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(fd_, &m, 0);
      if (n < 0) return out;
      std::string to = "?";
      for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
          in_pktinfo info;
          std::memcpy(&info, CMSG_DATA(c), sizeof info);
          to = inet_ntoa(info.ipi_addr);
        }
      out.emplace_back(to, std::string(data, std::size_t(n)));
    }
  }

 private:
  int fd_;
  uint16_t port_ = 0;
};

using Received = std::vector<std::pair<std::string, std::string>>;

TEST(CdrSender, EachDestinationGetsTheRecordInTheOrderGiven) {
  Collector c;
  CDR_Sender::Sender sender;
  std::string record("call 17 from 100 to 200\0binary\xff tail", 36);
  EXPECT_TRUE(sender.SendTo(record, c.at("127.0.0.2") + " \t" + c.at("127.0.0.1") + "\n"));
  EXPECT_EQ(c.received(), (Received{{"127.0.0.2", record}, {"127.0.0.1", record}}));
  std::string large(9000, 'r');
  EXPECT_TRUE(sender.SendTo(large, "  " + c.at("127.0.0.3") + "  "));
  EXPECT_EQ(c.received(), (Received{{"127.0.0.3", large}}));
  EXPECT_TRUE(sender.SendTo(record, ""));  // an empty list sends nothing and succeeds
  EXPECT_TRUE(sender.SendTo(record, " \t "));
  EXPECT_TRUE(c.received().empty());
}

// A destination that does not parse or does not take the record fails the send; the others
// still get it.
TEST(CdrSender, EveryDestinationMissedFailsTheSend) {
  Collector c;
  CDR_Sender::Sender sender;
  vxtest::CaptureStreams logs;
  std::string record = "cdr";
  EXPECT_FALSE(sender.SendTo(record, "collector.example " + c.at("127.0.0.1") + " 127.0.0.1 127.0.0.1:99999 " +
                                         c.at("127.0.0.4")));
  EXPECT_EQ(c.received(), (Received{{"127.0.0.1", record}, {"127.0.0.4", record}}));
  // No broadcast permission on the socket: the kernel refuses the send.
  EXPECT_FALSE(sender.SendTo(record, "255.255.255.255:9 " + c.at("127.0.0.1")));
  EXPECT_EQ(c.received(), (Received{{"127.0.0.1", record}}));
  std::string too_big(70000, 'x');  // more than a datagram carries
  EXPECT_FALSE(sender.SendTo(too_big, c.at("127.0.0.1")));
  EXPECT_TRUE(c.received().empty());
}

}  // namespace
