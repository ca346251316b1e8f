// The two radio signalling codecs per packet, beside a plain memcpy of the same bytes:
// pack and unpack of a mix of LEMZ packets and of ED-137 extensions, each reporting the heap
// allocations made per packet (the goal is none).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bench/CountedNew.h"
#include "bench/RatioReporter.h"
#include "radio/R2SProto.h"
#include "radio/SigProto.h"

namespace {

constexpr size_t kBuffer = 1024;  // what the controllers pack into and read into

std::vector<sig_proto> lemz_mix() {
  std::vector<sig_proto> mix(5);
  for (auto& p : mix) sig_proto_init(&p);
  mix[0].type = WM_FLAG;
  sig_proto_set_base(&mix[0], 1, 0, 1, 0, 1, 0, 0, 0, 1, 0, 0, 3);
  mix[1].type = WM_CHAN;
  sig_proto_set_wm_chan(&mix[1], 3, 118.125f, 10, 2);
  mix[2].type = WM_TRANS;
  sig_proto_set_wm_transmite(&mix[2], inet_addr("10.1.2.3"), 0x12345678);
  mix[3].type = WM_SEL_CALL_TRANS;
  sig_proto_set_wm_selcall_transmite(&mix[3], inet_addr("10.1.2.3"), 7, "AB12", 4);
  mix[4].type = WM_STANDBY;
  sig_proto_set_wm_standby(&mix[4], 1, 2, 1);
  return mix;
}

std::vector<r2s_proto> ed137_mix() {
  std::vector<r2s_proto> mix(3);
  r2s_proto_init(&mix[0], kR2SProtoRx);
  r2s_proto_set_rx_header(&mix[0], 1, 1, 5, 0, 0, 0);
  r2s_proto_add_rx_sqi(&mix[0], 20, 2);
  r2s_proto_init(&mix[1], kR2SProtoRx);
  r2s_proto_set_rx_header(&mix[1], 0, 1, 9, 0, 0, 1);
  r2s_proto_init(&mix[2], kR2SProtoTx);
  r2s_proto_set_tx_header(&mix[2], 1, 3, 0, 0);
  r2s_proto_tx_additional_climax_time_delay delay{12};
  r2s_proto_add_tx_time_delay(&mix[2], &delay);
  return mix;
}

template <typename Record, typename Pack>
std::vector<std::vector<uint8_t>> wire_of(const std::vector<Record>& mix, Pack pack) {
  std::vector<std::vector<uint8_t>> wire;
  for (const auto& r : mix) {
    std::vector<uint8_t> buf(kBuffer);
    int n = pack(&r, buf.data(), buf.size());
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    wire.push_back(buf);
  }
  return wire;
}

// Runs `step(i)` once per packet and reports the allocations it made per packet.
template <typename Step>
void per_packet(benchmark::State& state, size_t kinds, Step step) {
  uint64_t before = bench::allocations.load();
  size_t i = 0;
  for (auto _ : state) {
    step(i);
    i = i + 1 == kinds ? 0 : i + 1;
  }
  state.counters["allocs/packet"] =
      benchmark::Counter(static_cast<double>(bench::allocations.load() - before) / static_cast<double>(state.iterations()));
}

void BM_LemzPack(benchmark::State& state) {
  auto mix = lemz_mix();
  uint8_t buf[kBuffer];
  per_packet(state, mix.size(), [&](size_t i) {
    benchmark::DoNotOptimize(sig_proto_pack(&mix[i], buf, sizeof buf));
    benchmark::ClobberMemory();
  });
}
BENCHMARK(BM_LemzPack);

void BM_LemzUnpack(benchmark::State& state) {
  auto wire = wire_of(lemz_mix(), sig_proto_pack);
  sig_proto p;
  per_packet(state, wire.size(), [&](size_t i) {
    sig_proto_init(&p);
    benchmark::DoNotOptimize(sig_proto_unpack(&p, wire[i].data(), wire[i].size()));
    benchmark::ClobberMemory();
  });
}
BENCHMARK(BM_LemzUnpack);

void BM_LemzMemcpy(benchmark::State& state) {
  auto wire = wire_of(lemz_mix(), sig_proto_pack);
  uint8_t buf[kBuffer];
  per_packet(state, wire.size(), [&](size_t i) {
    std::memcpy(buf, wire[i].data(), wire[i].size());
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
  });
}
BENCHMARK(BM_LemzMemcpy);

void BM_Ed137Pack(benchmark::State& state) {
  auto mix = ed137_mix();
  uint8_t buf[kBuffer];
  per_packet(state, mix.size(), [&](size_t i) {
    benchmark::DoNotOptimize(r2s_proto_pack(&mix[i], buf, sizeof buf));
    benchmark::ClobberMemory();
  });
}
BENCHMARK(BM_Ed137Pack);

void BM_Ed137Unpack(benchmark::State& state) {
  auto mix = ed137_mix();
  auto wire = wire_of(mix, r2s_proto_pack);
  r2s_proto p;
  per_packet(state, wire.size(), [&](size_t i) {
    auto unpack = mix[i].type == kR2SProtoRx ? r2s_proto_unpack_rx : r2s_proto_unpack_tx;
    benchmark::DoNotOptimize(unpack(&p, wire[i].data(), wire[i].size()));
    benchmark::ClobberMemory();
  });
}
BENCHMARK(BM_Ed137Unpack);

void BM_Ed137Memcpy(benchmark::State& state) {
  auto wire = wire_of(ed137_mix(), r2s_proto_pack);
  uint8_t buf[kBuffer];
  per_packet(state, wire.size(), [&](size_t i) {
    std::memcpy(buf, wire[i].data(), wire[i].size());
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
  });
}
BENCHMARK(BM_Ed137Memcpy);

}  // namespace

int main(int argc, char** argv) {
  return run_with_ratios(argc, argv,
                         {{"BM_LemzPack", "BM_LemzMemcpy"},
                          {"BM_LemzUnpack", "BM_LemzMemcpy"},
                          {"BM_Ed137Pack", "BM_Ed137Memcpy"},
                          {"BM_Ed137Unpack", "BM_Ed137Memcpy"}});
}
