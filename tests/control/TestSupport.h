#pragma once
// Shared helpers of the control tests: a recording notify, a connection over a given socket,
// an exhausted packet pool, loop passes and small socket utilities.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "control/ControlNotify.h"
#include "control/ControlService.h"
#include "control/ServiceUnix.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "foundation/Packet.h"
#include "tests/support/CaptureStreams.h"
#include "tests/support/TestClock.h"

namespace vxtest {

// Counts the starts and ends of a connection and keeps every payload received; with echo set,
// answers each payload from inside OnMessage.
class Recorder : public Control::Notify {
 public:
  void OnConnect() override { ++connects; }
  void OnDisconnect() override { ++disconnects; }
  void OnMessage(char const* data, int length) override {
    messages.emplace_back(data, length);
    if (echo) echo->Send(data, length);
  }

  int connects = 0;
  int disconnects = 0;
  std::vector<std::string> messages;
  Control::Service* echo = nullptr;
};

// A control connection over a descriptor the test hands in, counting the calls it receives.
class TakenService : public Control::ServiceUnix {
 public:
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override { ++impl_deactivates; }
  void ImplOnDisconnect() override { ++impl_on_disconnects; }
  void Take(int fd, const std::string& name = "peer") {
    Fd f(fd);
    f.NonBlock();
    Connected(f, name);
  }
  int impl_deactivates = 0;
  int impl_on_disconnects = 0;
};

// Takes every free buffer of the packet pool; they return to it when the result is cleared.
inline std::vector<Packet> exhaust_packet_pool() {
  std::vector<Packet> hold;
  try {
    for (;;) {
      Packet p;
      p.reserve_head(0);
      hold.push_back(p);
    }
  } catch (const std::bad_alloc&) {
  }
  return hold;
}

inline int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++n;
  return n;
}

// A few loop passes that never block.
inline void pump(int passes = 3) {
  for (int i = 0; i < passes; ++i) multiplexer.run_once(0);
}

// Loop passes (each waiting at most 20 ms for a descriptor) until cond holds or 200 passes.
template <class Cond>
bool pump_until(Cond cond) {
  for (int i = 0; i < 200; ++i) {
    if (cond()) return true;
    multiplexer.run_once(20);
  }
  return cond();
}

// Everything the descriptor holds now, without blocking.
inline std::vector<uint8_t> drain(int fd) {
  std::vector<uint8_t> out;
  uint8_t buf[65536];
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

// True when the peer has closed its end (a read sees end of stream or a reset).
inline bool peer_closed(int fd) {
  pollfd p = {fd, POLLIN, 0};
  if (::poll(&p, 1, 200) != 1) return false;
  uint8_t b[4096];
  for (;;) {
    const ssize_t n = ::recv(fd, b, sizeof b, MSG_DONTWAIT);
    if (n == 0) return true;
    if (n < 0) return errno != EAGAIN;
    // data still queued before the end: keep reading
  }
}

// payload in a TPKT frame.
inline std::vector<uint8_t> frame(const std::string& payload) {
  const unsigned len = payload.size() + 4;
  std::vector<uint8_t> f = {3, 0, uint8_t(len >> 8), uint8_t(len)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

inline uint16_t local_port(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

// 127.0.0.1:port (port 0: any free port, for bind).
inline sockaddr_in loopback(uint16_t port = 0) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  return sa;
}

// A port on the loopback interface that nothing listens on right now.
inline uint16_t free_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in sa = loopback();
  ::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  const uint16_t port = local_port(s);
  return ::close(s), port;
}

// A socket listening on 127.0.0.1 (port 0: any free port).
inline int listen_loopback(int backlog = 4, uint16_t port = 0) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = loopback(port);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, backlog) != 0)
    ADD_FAILURE() << "no listener on port " << port;
  return s;
}

// A connected Unix-domain socket pair, both ends closed at the end of the scope.
struct SocketPair {
  explicit SocketPair(int flags = 0) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0, fd) != 0) ADD_FAILURE() << "socketpair";
  }
  ~SocketPair() {
    for (int f : fd)
      if (f >= 0) ::close(f);
  }
  void close_peer() { ::close(std::exchange(fd[1], -1)); }
  int fd[2] = {-1, -1};
};

// A blocking client socket connected to 127.0.0.1:port, or -1.
inline int connect_to(uint16_t port) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = loopback(port);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

// Closes with a reset instead of an orderly end.
inline void close_with_reset(int fd) {
  linger l = {1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
}

}  // namespace vxtest
