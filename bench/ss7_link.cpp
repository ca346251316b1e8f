// MSUs through an SS7 link pair: two of our links back to back against two libss7 links back
// to back, each pair over a SOCK_SEQPACKET socket pair (one unit per packet), in the same run.
// Printed: MSUs per second, heap allocations per MSU and signal units per MSU (MSUs and their
// acknowledgements, and whatever else the pair sends meanwhile) for each, and the ratio.
//
// libss7 offers no level 2 entry of its own: its MSUs are ISUP blockings and their
// acknowledgements, so its figures include its level 3 and ISUP work. It writes a unit
// whenever it is asked to, so each of its ends is asked once per turn of the pump.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "control/ProtocolsFamily.h"
#include "foundation/Packet.h"
#include "links/SS7SLC.h"

extern "C" {
#include <libss7.h>
}

// --- heap allocation counting: every malloc and calloc of the program (operator new included)
namespace {
uint64_t g_allocations = 0;
}

extern "C" {
void* __real_malloc(size_t);
void* __real_calloc(size_t, size_t);
void* __wrap_malloc(size_t n) {
  ++g_allocations;
  return __real_malloc(n);
}
void* __wrap_calloc(size_t n, size_t s) {
  ++g_allocations;
  return __real_calloc(n, s);
}
}

// Replaced so that C++ allocations go through the counted malloc as well.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

double g_ours_rate = 0, g_peer_rate = 0;

// --- our pair -------------------------------------------------------------------------------

struct SocketEnd : GenericHDLC {
  int fd = -1;
  bool hdlc_transmit(Packet& f) override { return ::send(fd, f.data(), f.length(), MSG_DONTWAIT) >= 0; }
  bool is_open() const override { return true; }
  bool is_ready() const override { return true; }
};

struct Counter : ProtocolsFamily {
  uint64_t received = 0;
  void on_message(Packet&) override { ++received; }
};

struct OurEnd {
  Counter up;
  SS7::SLC* link = new SS7::SLC;  // owned by up
  SocketEnd wire;
  OurEnd() {
    up.add_protocol_tail(link);
    link->hdlc = &wire;
  }
  // Reads and hands over what is waiting; the number of units.
  int drain() {
    int n = 0;
    for (;;) {
      Packet p;
      p.reserve_tail(512);
      ssize_t r = ::recv(wire.fd, p.tail(), 512, MSG_DONTWAIT);
      if (r <= 0) return n;
      p.put(static_cast<unsigned>(r));
      link->receive(p);
      ++n;
    }
  }
};

void BM_OurLinkPair(benchmark::State& state) {
  int sp[2];
  ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sp);
  int big = 1 << 20;
  for (int fd : sp) ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  OurEnd a, b;
  a.wire.fd = sp[0];
  b.wire.fd = sp[1];
  a.link->emergency = b.link->emergency = true;
  a.link->local_activate();
  while (a.drain() + b.drain() > 0) {
  }
  // Proving ends when the first side's T4 runs out; here the far end's FISU ends it at once.
  Packet f;
  f.reserve_head(0);
  for (uint8_t x : {0xFF, 0xFF, 0x00}) f.put8(x);
  a.link->receive(f);
  while (a.drain() + b.drain() > 0) {
  }
  if (a.link->state() != SS7::SLC::State::worked || b.link->state() != SS7::SLC::State::worked) {
    state.SkipWithError("pair not in service");
    return;
  }

  const uint8_t payload[] = {0x85, 0x02, 0x40, 0x00, 0x10, 0x01, 0x00, 0x13};
  uint64_t units = 0, allocations = g_allocations;
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    Packet p;
    a.up.prepare_head(p);
    for (uint8_t x : payload) p.put8(x);
    a.link->message(p);
    units += b.drain();
    units += a.drain();
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  allocations = g_allocations - allocations;
  const uint64_t msus = b.up.received;
  state.counters["msu_per_s"] = static_cast<double>(msus) / secs;
  state.counters["allocs_per_msu"] = msus ? static_cast<double>(allocations) / msus : 0;
  state.counters["units_per_msu"] = msus ? static_cast<double>(units) / msus : 0;
  g_ours_rate = static_cast<double>(msus) / secs;
  ::close(sp[0]);
  ::close(sp[1]);
}
BENCHMARK(BM_OurLinkPair)->Iterations(200000);

// --- libss7's pair --------------------------------------------------------------------------

void quiet(struct ss7*, char*) {}

struct Libss7Pair {
  struct ss7* s[2] = {nullptr, nullptr};
  int fd[2] = {-1, -1};
  uint64_t units = 0;

  bool start() {
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fd)) return false;
    ss7_set_message(quiet);
    ss7_set_error(quiet);
    for (int i = 0; i < 2; ++i) {
      s[i] = ss7_new(SS7_ITU);
      ss7_set_network_ind(s[i], SS7_NI_NAT);
      ss7_set_pc(s[i], i + 1);
      ss7_add_link(s[i], SS7_TRANSPORT_DAHDIDCHAN, fd[i], 0, 2 - i);
      ss7_start(s[i]);
    }
    bool up[2] = {false, false};
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(up[0] && up[1]) && std::chrono::steady_clock::now() < end)
      turn([&](int i, ss7_event* e) {
        if (e->e == SS7_EVENT_UP) up[i] = true;
      });
    return up[0] && up[1];
  }
  // One turn of the pump: each end reads what waits, writes one unit, runs its timers and
  // hands its events to `event`.
  template <class F>
  void turn(F&& event) {
    for (int i = 0; i < 2; ++i) {
      pollfd p{fd[i], POLLIN, 0};
      while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
        ss7_read(s[i], fd[i]);
        ++units;
      }
      if (ss7_pollflags(s[i], fd[i]) & POLLOUT) ss7_write(s[i], fd[i]);
      ss7_schedule_run(s[i]);
      for (ss7_event* e; (e = ss7_check_event(s[i]));) event(i, e);
    }
  }
  ~Libss7Pair() {
    for (int i = 0; i < 2; ++i) {
      if (s[i]) ss7_destroy(s[i]);
      if (fd[i] >= 0) ::close(fd[i]);
    }
  }
};

void BM_Libss7LinkPair(benchmark::State& state) {
  Libss7Pair pair;
  if (!pair.start()) {
    state.SkipWithError("libss7 pair did not come up");
    return;
  }
  uint64_t msus = 0, allocations = g_allocations;
  pair.units = 0;
  int cic = 1;
  auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    // One blocking and its acknowledgement: two MSUs.
    isup_blo(pair.s[0], isup_new_call(pair.s[0], cic, 2, 1));
    cic = cic % 1000 + 1;
    bool done = false;
    for (int guard = 0; !done && guard < 100000; ++guard)
      pair.turn([&](int i, ss7_event* e) {
        if (e->e == ISUP_EVENT_BLO) {
          ++msus;
          isup_bla(pair.s[i], e->blo.call);
          isup_free_call(pair.s[i], e->blo.call);
        } else if (e->e == ISUP_EVENT_BLA) {
          ++msus;
          isup_free_call(pair.s[i], e->bla.call);
          done = true;
        }
      });
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  allocations = g_allocations - allocations;
  state.counters["msu_per_s"] = msus / secs;
  state.counters["allocs_per_msu"] = msus ? static_cast<double>(allocations) / msus : 0;
  state.counters["units_per_msu"] = msus ? static_cast<double>(pair.units) / msus : 0;
  g_peer_rate = msus / secs;
}
BENCHMARK(BM_Libss7LinkPair)->Iterations(20000);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_ours_rate > 0 && g_peer_rate > 0)
    std::printf("MSUs per second, ours / libss7: %.0f / %.0f = %.2f\n", g_ours_rate, g_peer_rate,
                g_ours_rate / g_peer_rate);
  return 0;
}
