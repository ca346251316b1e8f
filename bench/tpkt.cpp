// TPKT cutting throughput: the TPKT layer against a minimal hand-written cutter over a
// std::vector, on the same stream of control-sized frames delivered in chunks of 1, 1460 and
// 65536 bytes. Both take each chunk by copying it into their receive buffer (as a socket read
// would) and deliver every frame's payload once. Prints the ratio per chunk size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "control/ProtocolsFamily.h"
#include "control/Tpkt_protocol.h"
#include "foundation/Packet.h"

namespace {

const std::vector<uint8_t>& stream() {
  static const std::vector<uint8_t> s = [] {
    std::vector<uint8_t> out;
    std::mt19937 rng(1);
    while (out.size() < (1u << 20)) {
      const unsigned n = 16 + rng() % 400;
      const unsigned len = n + 4;
      out.insert(out.end(), {3, 0, uint8_t(len >> 8), uint8_t(len)});
      for (unsigned i = 0; i < n; ++i) out.push_back(uint8_t(rng()));
    }
    return out;
  }();
  return s;
}

class Counter : public ProtocolsFamily {
 public:
  Counter() { add_protocol_tail(new Tpkt_protocol); }
  void on_message(Packet& p) override {
    ++frames;
    bytes += p.length();
  }
  uint64_t frames = 0;
  uint64_t bytes = 0;
};

// The peer: a straightforward cutter that assembles each frame in a std::vector.
class VectorCutter {
 public:
  template <class F>
  void feed(const uint8_t* p, std::size_t n, F&& deliver) {
    while (n) {
      if (header_have_ < 4) {
        header_[header_have_++] = *p++;
        --n;
        if (header_have_ == 4) {
          if (header_[0] != 3 || header_[1] != 0) {
            header_have_ = 0;  // resync byte by byte
            continue;
          }
          want_ = ((unsigned(header_[2]) << 8) | header_[3]) - 4;
          body_.clear();
          if (want_ == 0) {
            deliver(body_);
            header_have_ = 0;
          }
        }
        continue;
      }
      const std::size_t take = std::min<std::size_t>(n, want_ - body_.size());
      body_.insert(body_.end(), p, p + take);
      p += take;
      n -= take;
      if (body_.size() == want_) {
        deliver(body_);
        header_have_ = 0;
      }
    }
  }

 private:
  uint8_t header_[4] = {};
  unsigned header_have_ = 0;
  unsigned want_ = 0;
  std::vector<uint8_t> body_;
};

void BM_TpktLayer(benchmark::State& state) {
  const auto& s = stream();
  const std::size_t chunk = state.range(0);
  Counter counter;
  for (auto _ : state) {
    for (std::size_t at = 0; at < s.size(); at += chunk) {
      const std::size_t n = std::min(chunk, s.size() - at);
      Packet p;
      p.reserve_head(0);
      std::memcpy(p.put(unsigned(n)), s.data() + at, n);
      counter.receive(p);
    }
  }
  benchmark::DoNotOptimize(counter.bytes);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}

void BM_VectorCutter(benchmark::State& state) {
  const auto& s = stream();
  const std::size_t chunk = state.range(0);
  VectorCutter cutter;
  std::vector<uint8_t> rx(chunk);
  uint64_t bytes = 0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < s.size(); at += chunk) {
      const std::size_t n = std::min(chunk, s.size() - at);
      std::memcpy(rx.data(), s.data() + at, n);
      cutter.feed(rx.data(), n, [&](const std::vector<uint8_t>& f) { bytes += f.size(); });
    }
  }
  benchmark::DoNotOptimize(bytes);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}

BENCHMARK(BM_TpktLayer)->Arg(1)->Arg(1460)->Arg(65536);
BENCHMARK(BM_VectorCutter)->Arg(1)->Arg(1460)->Arg(65536);

// Keeps the bytes per second of every run, to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs) {
      auto it = r.counters.find("bytes_per_second");
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
  std::printf("\nTPKT cutting, layer vs std::vector cutter (throughput ratio, >1: layer faster)\n");
  for (const char* c : {"1", "1460", "65536"}) {
    const std::string ours = std::string("BM_TpktLayer/") + c;
    const std::string peer = std::string("BM_VectorCutter/") + c;
    if (!reporter.rate.count(ours) || !reporter.rate.count(peer)) continue;
    std::printf("chunk %6s: layer %8.1f MB/s, vector cutter %8.1f MB/s, ratio %.2f\n", c,
                reporter.rate[ours] / 1e6, reporter.rate[peer] / 1e6,
                reporter.rate[ours] / reporter.rate[peer]);
  }
  benchmark::Shutdown();
  return 0;
}
