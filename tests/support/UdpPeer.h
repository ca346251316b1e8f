#pragma once
// A UDP socket on a free loopback port: the far end that a test points a session's packets at.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

#include "foundation/Fd.h"
#include "tests/support/RecordBytes.h"

namespace vxtest {

struct UdpPeer {
  Fd fd{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
  uint16_t port = 0;
  UdpPeer() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &n);
    port = ntohs(a.sin_port);
  }
  // The next datagram and the port it came from; empty when none is waiting.
  Bytes receive(uint16_t* from = nullptr) {
    uint8_t buf[2048];
    sockaddr_in a{};
    socklen_t n = sizeof a;
    ssize_t got = ::recvfrom(fd.get(), buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&a), &n);
    if (from) *from = ntohs(a.sin_port);
    return got < 0 ? Bytes{} : Bytes(buf, buf + got);
  }
};

}  // namespace vxtest
