// Byte streams from a client of the TPKT trace listener, in chunks the input chooses; the
// receiver answers some frames, so sends inside a receiver call (and closes they cause) run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "control/TPKTTracer.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

struct Sink : TPKTTracer::Receiver {
  void OnTrace(const void* data, unsigned length) override {
    fuzz::require(length <= TPKTTracer::max_payload);
    const auto* b = static_cast<const uint8_t*>(data);
    fuzz::touch(b, length);
    if (length && (b[0] & 1)) tracer->Send(data, length);
  }
  TPKTTracer* tracer = nullptr;
};

// Listens on a loopback port that the system gives out as free.
struct Rig {
  Rig() {
    fuzz::quiet();
    sink.tracer = &tracer;
    tracer.receiver = &sink;
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < 20 && !addr.sin_port; ++i) {
      const int s = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in sa = addr;
      socklen_t len = sizeof sa;
      ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
      ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
      ::close(s);
      if (tracer.Listen(ntohs(sa.sin_port))) addr.sin_port = sa.sin_port;
    }
    fuzz::require(addr.sin_port != 0);
  }
  TPKTTracer tracer;
  Sink sink;
  sockaddr_in addr{};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig* rig = new Rig;
  auto pump_until = [](auto cond) {  // at most about a second
    for (int i = 0; i < 100 && !cond(); ++i) multiplexer.run_once(10);
  };
  const size_t before = rig->tracer.clients();
  const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(c, reinterpret_cast<const sockaddr*>(&rig->addr), sizeof rig->addr) == 0) {
    pump_until([&] { return rig->tracer.clients() > before; });
    size_t at = 0;
    while (at < size && rig->tracer.clients() > before) {
      size_t n = data[at++];
      if (n == 0 || n > size - at) n = size - at;
      const ssize_t w = ::send(c, data + at, n, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (w <= 0) break;
      at += static_cast<size_t>(w);
      multiplexer.run_once(0);
      char buf[4096];
      while (::recv(c, buf, sizeof buf, MSG_DONTWAIT) > 0) {
      }
    }
  }
  // A reset, so that no connection lingers in TIME_WAIT across millions of runs.
  linger l = {1, 0};
  ::setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(c);
  pump_until([&] { return rig->tracer.clients() <= before; });
  return 0;
}
