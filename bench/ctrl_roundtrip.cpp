// Command round trip on loopback: ping with 1, 16 and 256 commands outstanding, answered by the
// daemon's control path (acceptor, stream and TPKT layers, PER decoding, the server and the
// heartbeat service, PER encoding of the answer) and, as the peer, by a minimal TPKT
// responder on the same single-threaded poll design that answers every frame with a canned
// one. Each side's loop runs in its own thread; the client keeps N commands in flight.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "control/AcceptorNetCheckConnection.h"
#include "control/CtrlSrvServer.h"
#include "foundation/Multiplexer.h"
#include "monitoring/HeartBeatCtl.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCommands = 20000;
const uint8_t kPing[] = {3, 0, 0, 8, 0x80, 0x01, 0x01, 0x18};     // seq 1, ping
const uint8_t kAnswer[] = {3, 0, 0, 8, 0x80, 0x01, 0x01, 0x40};   // seq 1, success

uint16_t free_port() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
  ::close(s);
  return ntohs(sa.sin_port);
}

int connect_to(uint16_t port) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
      int one = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return s;
    }
    ::close(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

// The daemon's control path on its own event loop thread.
class DaemonSide {
 public:
  DaemonSide() : port_(free_port()) {
    ctrlServer.Bind(HeartBeatCtl::instance());
    ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port_, false));
    thread_ = std::thread([this] {
      while (!stop_) multiplexer.run_once(5);
      ctrlServer.Deactivate();
    });
  }
  ~DaemonSide() {
    stop_ = true;
    thread_.join();
  }
  uint16_t port() const { return port_; }

 private:
  uint16_t port_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The peer: one poll() loop, one listening socket, one connection, TPKT cut by hand and every
// frame answered with the canned answer in one write per read.
class ResponderSide {
 public:
  ResponderSide() : port_(free_port()) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port_);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listen_, 1);
    thread_ = std::thread([this] { Run(); });
  }
  ~ResponderSide() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  uint16_t port() const { return port_; }

 private:
  void Run() {
    int conn = -1;
    std::vector<uint8_t> in, out;
    uint8_t buf[65536];
    while (!stop_) {
      pollfd p[2] = {{listen_, POLLIN, 0}, {conn, POLLIN, 0}};
      if (::poll(p, conn >= 0 ? 2 : 1, 5) <= 0) continue;
      if (p[0].revents & POLLIN) {
        const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn >= 0) ::close(conn);
        conn = c;
        int one = 1;
        ::setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        in.clear();
      }
      if (conn >= 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        const ssize_t n = ::read(conn, buf, sizeof buf);
        if (n <= 0) {
          ::close(conn);
          conn = -1;
          continue;
        }
        in.insert(in.end(), buf, buf + n);
        size_t at = 0;
        out.clear();
        while (in.size() - at >= 4) {
          const size_t len = (size_t(in[at + 2]) << 8) | in[at + 3];
          if (len < 4 || in.size() - at < len) break;
          out.insert(out.end(), kAnswer, kAnswer + sizeof kAnswer);
          at += len;
        }
        in.erase(in.begin(), in.begin() + long(at));
        if (!out.empty() && ::write(conn, out.data(), out.size()) < 0) {
          ::close(conn);
          conn = -1;
        }
      }
    }
    if (conn >= 0) ::close(conn);
  }

  uint16_t port_;
  int listen_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Runs kCommands pings with `outstanding` in flight; latencies in microseconds. Answers come
// in order, so the k-th answer closes the k-th command.
bool RoundTrips(int sock, int outstanding, std::vector<double>& latencies) {
  std::vector<Clock::time_point> sent(kCommands);
  latencies.clear();
  latencies.reserve(kCommands);
  int next = 0, done = 0;
  size_t pending = 0;  // bytes of a partial answer
  uint8_t buf[65536];
  std::vector<uint8_t> burst;
  while (done < kCommands) {
    burst.clear();
    while (next < kCommands && next - done < outstanding) {
      sent[next++] = Clock::now();
      burst.insert(burst.end(), kPing, kPing + sizeof kPing);
    }
    if (!burst.empty() && ::write(sock, burst.data(), burst.size()) != ssize_t(burst.size())) return false;
    const ssize_t n = ::read(sock, buf, sizeof buf);
    if (n <= 0) return false;
    const auto now = Clock::now();
    pending += size_t(n);
    while (pending >= sizeof kAnswer) {
      pending -= sizeof kAnswer;
      latencies.push_back(std::chrono::duration<double, std::micro>(now - sent[done++]).count());
    }
  }
  return true;
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  const size_t k = std::min(v.size() - 1, size_t(q * double(v.size())));
  std::nth_element(v.begin(), v.begin() + long(k), v.end());
  return v[k];
}

std::map<std::string, double> rates;  // commands per second by benchmark name

template <class Side>
void Roundtrip(benchmark::State& state, const char* name) {
  static Side side;
  const int sock = connect_to(side.port());
  if (sock < 0) {
    state.SkipWithError("cannot connect");
    return;
  }
  const int outstanding = int(state.range(0));
  std::vector<double> latencies, all;
  double seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!RoundTrips(sock, outstanding, latencies)) {
      state.SkipWithError("connection lost");
      break;
    }
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    all.insert(all.end(), latencies.begin(), latencies.end());
  }
  ::close(sock);
  state.SetItemsProcessed(int64_t(state.iterations()) * kCommands);
  state.counters["p50_us"] = Percentile(all, 0.50);
  state.counters["p99_us"] = Percentile(all, 0.99);
  if (seconds > 0)
    rates[std::string(name) + "/" + std::to_string(outstanding)] =
        double(state.iterations()) * kCommands / seconds;
  // Let the daemon see the controller go before the next run connects.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void BM_DaemonPing(benchmark::State& state) { Roundtrip<DaemonSide>(state, "daemon"); }
void BM_PeerTpktResponder(benchmark::State& state) { Roundtrip<ResponderSide>(state, "responder"); }

BENCHMARK(BM_DaemonPing)->Arg(1)->Arg(16)->Arg(256)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PeerTpktResponder)->Arg(1)->Arg(16)->Arg(256)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  for (int n : {1, 16, 256}) {
    const auto d = rates.find("daemon/" + std::to_string(n));
    const auto r = rates.find("responder/" + std::to_string(n));
    if (d != rates.end() && r != rates.end())
      std::printf("ratio daemon / responder, %3d outstanding: %.0f / %.0f commands/s = %.2f\n", n, d->second,
                  r->second, d->second / r->second);
  }
  benchmark::Shutdown();
  return 0;
}
