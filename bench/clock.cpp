// The loop's clock reads, paid several times on every loop pass (timers, the watchdog, each
// handler's measure): Mux::milliseconds() and Mux::microseconds() on the monotonic clock,
// against the same counts taken from gettimeofday(), the time of day that the loop counted on
// before.
#include <benchmark/benchmark.h>
#include <sys/time.h>

#include <cstdint>

#include "bench/RatioReporter.h"
#include "foundation/Mux.h"

namespace {

uint64_t time_of_day_us() {
  struct ::timeval tv;
  ::gettimeofday(&tv, nullptr);
  return static_cast<uint64_t>(tv.tv_sec) * 1000000u + static_cast<uint64_t>(tv.tv_usec);
}

void BM_LoopMilliseconds(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Mux::milliseconds());
}
BENCHMARK(BM_LoopMilliseconds);

void BM_TimeOfDayMilliseconds(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(static_cast<uint32_t>(time_of_day_us() / 1000u));
}
BENCHMARK(BM_TimeOfDayMilliseconds);

void BM_LoopMicroseconds(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Mux::microseconds());
}
BENCHMARK(BM_LoopMicroseconds);

void BM_TimeOfDayMicroseconds(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(static_cast<uint32_t>(time_of_day_us()));
}
BENCHMARK(BM_TimeOfDayMicroseconds);

}  // namespace

int main(int argc, char** argv) {
  return run_with_ratios(argc, argv, {{"BM_LoopMilliseconds", "BM_TimeOfDayMilliseconds"},
                                      {"BM_LoopMicroseconds", "BM_TimeOfDayMicroseconds"}});
}
