// Arbitrary byte streams from one client of the TPKT trace listener, written over loopback in
// chunks chosen by the input itself. The receiver answers some frames, so sends made inside a
// receiver call (and the client closes they may cause) run too.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "control/TPKTTracer.h"
#include "foundation/Multiplexer.h"

namespace {

class Sink : public TPKTTracer::Receiver {
 public:
  void OnTrace(const void* data, unsigned length) override {
    if (length > TPKTTracer::max_payload) __builtin_trap();
    // Touch every delivered byte, so that an overrun shows up under the sanitizers.
    const auto* b = static_cast<const uint8_t*>(data);
    unsigned sum = 0;
    for (unsigned i = 0; i < length; ++i) sum += b[i];
    total += sum;
    if (length && (b[0] & 1)) tracer->Send(data, length);
  }
  TPKTTracer* tracer = nullptr;
  unsigned total = 0;
};

sockaddr_in loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  return sa;
}

// A port that nothing listens on right now.
uint16_t free_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa = loopback(0);
  ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(s);
  return ntohs(sa.sin_port);
}

struct Rig {
  Rig() {
    sink.tracer = &tracer;
    tracer.receiver = &sink;
    for (int i = 0; i < 20 && !port; ++i) {
      const uint16_t p = free_port();
      if (tracer.Listen(p)) port = p;
    }
    if (!port) std::abort();
  }
  TPKTTracer tracer;
  Sink sink;
  uint16_t port = 0;
};

// Loop passes until cond holds, at most about a second.
template <class Cond>
void pump_until(Cond cond) {
  for (int i = 0; i < 100 && !cond(); ++i) multiplexer.run_once(10);
}

void drain(int fd) {
  char buf[4096];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig* rig = new Rig;
  std::ostringstream quiet;
  std::streambuf* saved = std::clog.rdbuf(quiet.rdbuf());

  const std::size_t before = rig->tracer.clients();
  const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = loopback(rig->port);
  if (::connect(c, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) {
    pump_until([&] { return rig->tracer.clients() > before; });
    // Input layout: repeated [chunk length byte][bytes...]; a length byte of 0 takes the rest.
    std::size_t at = 0;
    while (at < size && rig->tracer.clients() > before) {
      std::size_t n = data[at++];
      if (n == 0 || n > size - at) n = size - at;
      const ssize_t w = ::send(c, data + at, n, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w <= 0) break;
      at += static_cast<std::size_t>(w);
      multiplexer.run_once(0);
      drain(c);
    }
  }
  // A reset, so that no connection lingers in TIME_WAIT across millions of runs.
  linger l = {1, 0};
  ::setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(c);
  pump_until([&] { return rig->tracer.clients() <= before; });

  std::clog.rdbuf(saved);
  return 0;
}
