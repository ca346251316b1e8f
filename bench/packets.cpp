// Packet pool and copy on write against the general heap doing the same work by hand:
// taking and releasing one 64 KiB buffer, and the copy a writer of a shared buffer makes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/RatioReporter.h"
#include "foundation/Packet.h"

namespace {

constexpr unsigned kFrame = 1500;  // a typical frame: what a copy on write moves

void BM_PacketTakeRelease(benchmark::State& state) {
  for (auto _ : state) {
    Packet p;
    p.reserve_head(64);
    benchmark::DoNotOptimize(p.tail());
  }
}
BENCHMARK(BM_PacketTakeRelease);

void BM_MallocTakeRelease(benchmark::State& state) {
  for (auto _ : state) {
    void* p = std::malloc(packet_max_size);
    benchmark::DoNotOptimize(p);
    std::free(p);
  }
}
BENCHMARK(BM_MallocTakeRelease);

void BM_SharedVectorTakeRelease(benchmark::State& state) {
  for (auto _ : state) {
    auto p = std::make_shared<std::vector<uint8_t>>(packet_max_size);
    benchmark::DoNotOptimize(p->data());
  }
}
BENCHMARK(BM_SharedVectorTakeRelease);

// A second holder writes one byte: the shared buffer is copied, the copy released.
void BM_PacketCopyOnWrite(benchmark::State& state) {
  Packet original;
  original.reserve_head(64);
  for (unsigned i = 0; i < kFrame; ++i) original.put8(static_cast<unsigned char>(i));
  for (auto _ : state) {
    Packet writer = original;
    writer.put8(1);
    benchmark::DoNotOptimize(writer.data());
  }
}
BENCHMARK(BM_PacketCopyOnWrite);

// The same by hand: a shared vector with the same room, copied when a second holder writes.
void BM_SharedVectorCopyOnWrite(benchmark::State& state) {
  auto original = std::make_shared<std::vector<uint8_t>>();
  original->reserve(packet_max_size);
  for (unsigned i = 0; i < kFrame; ++i) original->push_back(static_cast<uint8_t>(i));
  for (auto _ : state) {
    std::shared_ptr<std::vector<uint8_t>> writer = original;
    if (writer.use_count() > 1) {
      auto copy = std::make_shared<std::vector<uint8_t>>();
      copy->reserve(packet_max_size);
      copy->assign(writer->begin(), writer->end());
      writer = std::move(copy);
    }
    writer->push_back(1);
    benchmark::DoNotOptimize(writer->data());
  }
}
BENCHMARK(BM_SharedVectorCopyOnWrite);

void BM_MallocMemcpyCopyOnWrite(benchmark::State& state) {
  std::vector<uint8_t> original(kFrame);
  for (unsigned i = 0; i < kFrame; ++i) original[i] = static_cast<uint8_t>(i);
  for (auto _ : state) {
    auto* copy = static_cast<uint8_t*>(std::malloc(packet_max_size));
    std::memcpy(copy, original.data(), kFrame);
    copy[kFrame] = 1;
    benchmark::DoNotOptimize(copy);
    std::free(copy);
  }
}
BENCHMARK(BM_MallocMemcpyCopyOnWrite);

}  // namespace

int main(int argc, char** argv) {
  return run_with_ratios(argc, argv,
                         {{"BM_PacketTakeRelease", "BM_MallocTakeRelease"},
                          {"BM_PacketTakeRelease", "BM_SharedVectorTakeRelease"},
                          {"BM_PacketCopyOnWrite", "BM_SharedVectorCopyOnWrite"},
                          {"BM_PacketCopyOnWrite", "BM_MallocMemcpyCopyOnWrite"}});
}
