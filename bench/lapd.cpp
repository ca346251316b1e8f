// I frames through a link pair: our user side against our network side over an in-memory
// line, and the same traffic between two libpri D channels over a socket pair, in one run.
// Also counts heap allocations per frame (the goal for our pair is none).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <vector>

#include "bench/CountedNew.h"
#include "control/ProtocolsFamily.h"
#include "foundation/Packet.h"
#include "hardware/HDLC.h"
#include "links/LAPD.h"

#ifdef VX_HAVE_LIBPRI
extern "C" {
#include <libpri.h>
}
#endif

namespace {

// One direction of the line: frames as the controller would hold them, copied in on write.
struct Wire : GenericHDLC {
  struct Frame {
    unsigned len;
    unsigned char bytes[300];
  };
  std::array<Frame, 64> ring;
  unsigned head = 0, count = 0;
  bool hdlc_transmit(Packet& f) override {
    if (count == ring.size() || f.length() > sizeof ring[0].bytes) return false;
    Frame& slot = ring[(head + count++) % ring.size()];
    slot.len = f.length();
    std::memcpy(slot.bytes, f.data(), f.length());
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return count < ring.size(); }
  // Hands every waiting frame to the receiver; returns how many.
  unsigned deliver(ISDN::LAPD& to) {
    unsigned n = 0;
    while (count) {
      Frame& f = ring[head];
      Packet p;
      p.reserve_head(0);
      std::memcpy(p.put(f.len), f.bytes, f.len);
      head = (head + 1) % ring.size();
      --count;
      to.receive(p);
      ++n;
    }
    return n;
  }
};

struct Sink : ProtocolsFamily {
  uint64_t received = 0;
  void on_message(Packet&) override { ++received; }
};

constexpr int kBatch = 7;

void BM_OurLinkPair(benchmark::State& state) {
  Sink us, them;
  auto* user = new ISDN::LAPD(ISDN::Side::user, 0);
  auto* net = new ISDN::LAPD(ISDN::Side::network, 0);
  us.add_protocol_tail(user);
  them.add_protocol_tail(net);
  Wire up, down;  // user -> network, network -> user
  user->device = &up;
  net->device = &down;
  user->activate();
  while (up.deliver(*net) + down.deliver(*user)) {
  }
  if (user->full_state().state != 6) state.SkipWithError("link not established");
  const unsigned char msg[] = {0x08, 0x02, 0x00, 0x01, 0x7B, 0x2C, 0x01, 0x31};
  uint64_t allocations = 0, frames = 0;
  for (auto _ : state) {
    uint64_t before = bench::allocations;
    for (int i = 0; i < kBatch; ++i) {
      Packet p;
      user->prepare_head(p);
      std::memcpy(p.put(sizeof msg), msg, sizeof msg);
      user->message(p);
    }
    while (up.deliver(*net) + down.deliver(*user)) {
    }
    allocations += bench::allocations - before;
    frames += kBatch;
  }
  if (them.received != frames) state.SkipWithError("frames lost");
  state.SetItemsProcessed(static_cast<int64_t>(frames));
  state.counters["allocs_per_frame"] = frames ? double(allocations) / double(frames) : 0;
}
BENCHMARK(BM_OurLinkPair);

#ifdef VX_HAVE_LIBPRI
// Two libpri D channels on a socket pair. Its I/O callbacks carry the two FCS octets that
// libpri expects a driver to add and strip.
int fds[2];
uint64_t libpri_i_frames = 0;

int pri_read(struct pri* pri, void* buf, int len) {
  int fd = *static_cast<int*>(pri_get_userdata(pri));
  ssize_t n = ::recv(fd, buf, static_cast<size_t>(len - 2), MSG_DONTWAIT);
  if (n <= 0) return -1;
  std::memset(static_cast<char*>(buf) + n, 0, 2);
  return static_cast<int>(n) + 2;
}
int pri_write(struct pri* pri, void* buf, int len) {
  int fd = *static_cast<int*>(pri_get_userdata(pri));
  auto* b = static_cast<unsigned char*>(buf);
  if (len >= 6 && !(b[2] & 1)) ++libpri_i_frames;
  ::send(fd, buf, static_cast<size_t>(len - 2), MSG_DONTWAIT);
  return len;
}
void pump(struct pri* a, struct pri* b) {
  for (;;) {
    pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
    if (::poll(p, 2, 0) <= 0) return;
    if (p[0].revents & POLLIN) pri_check_event(a);
    if (p[1].revents & POLLIN) pri_check_event(b);
  }
}

void BM_LibpriPair(benchmark::State& state) {
  ::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds);
  static int ends[2];
  ends[0] = fds[0];
  ends[1] = fds[1];
  struct pri* cpe = pri_new_cb(fds[0], PRI_CPE, PRI_SWITCH_EUROISDN_E1, pri_read, pri_write, &ends[0]);
  struct pri* net = pri_new_cb(fds[1], PRI_NETWORK, PRI_SWITCH_EUROISDN_E1, pri_read, pri_write, &ends[1]);
  pump(cpe, net);
  pump(cpe, net);
  q931_call* call = pri_new_call(cpe);
  struct pri_sr* sr = pri_sr_new();
  pri_sr_set_channel(sr, 1, 1, 0);
  pri_sr_set_bearer(sr, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
  pri_sr_set_called(sr, const_cast<char*>("1"), PRI_UNKNOWN, 0);
  pri_setup(cpe, call, sr);
  pri_sr_free(sr);
  pump(cpe, net);
  // libpri is C and allocates with malloc, which the counter above does not see: no
  // allocation figure for it.
  uint64_t frames = 0;
  for (auto _ : state) {
    uint64_t sent = libpri_i_frames;
    for (int i = 0; i < kBatch; ++i) pri_information(cpe, call, '1');
    pump(cpe, net);
    frames += libpri_i_frames - sent;
  }
  state.SetItemsProcessed(static_cast<int64_t>(frames));
  ::close(fds[0]);
  ::close(fds[1]);
}
BENCHMARK(BM_LibpriPair);
#endif

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs) {
      auto it = r.counters.find("items_per_second");
      if (it != r.counters.end()) rate[r.benchmark_name()] = it->second.value;
    }
  }
  std::map<std::string, double> rate;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.rate.count("BM_OurLinkPair") && reporter.rate.count("BM_LibpriPair")) {
    double ours = reporter.rate["BM_OurLinkPair"], peer = reporter.rate["BM_LibpriPair"];
    std::printf("\nI frames through a link pair: ours %.0f/s, libpri %.0f/s, ratio %.2f (>1: ours faster)\n", ours,
                peer, ours / peer);
  }
  benchmark::Shutdown();
  return 0;
}
