// Timer arming at scale: arm+cancel and arm+fire of one timer while 1k, 10k or 100k timers
// are armed, on voxrelay's event loop and on libevent in the same run, with the ratio of the
// two printed at the end ("ratio voxrelay/libevent").
#include <benchmark/benchmark.h>
#include <event2/event.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/Multiplexer.h"
#include "foundation/TimerEvent.h"

namespace {

// Background intervals: "mixed" draws from 10 minutes to 1 hour, "few" picks one of four
// protocol-like intervals, "equal" uses 30 minutes for every timer. The measured timer is
// armed from the same distribution.
enum Mix { equal, few, mixed };
constexpr unsigned kEqualMs = 1'800'000;
constexpr unsigned kMinMs = 600'000;
constexpr unsigned kMaxMs = 3'600'000;
constexpr unsigned kFewMs[] = {1'000'000, 1'003'000, 1'010'000, 1'120'000};

std::vector<unsigned> intervals(std::size_t n, Mix mix, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<unsigned> d(kMinMs, kMaxMs);
  std::vector<unsigned> v(n);
  for (auto& x : v) x = mix == mixed ? d(rng) : mix == few ? kFewMs[rng() % 4] : kEqualMs;
  // Arming in due order keeps the set-up linear; the list is the same either way.
  std::sort(v.begin(), v.end());
  return v;
}

// ---- voxrelay ----

class CountingTimer : public TimerEvent {
 public:
  void fire() override { ++fired; }
  unsigned long fired = 0;
};

struct VxBackground {
  std::vector<CountingTimer> timers;
  VxBackground(std::size_t n, Mix mixed) : timers(n) {
    auto iv = intervals(n, mixed, 1);
    for (std::size_t i = 0; i < n; ++i) timers[i].schedule(iv[i]);
  }
};

void Vx_ArmCancel(benchmark::State& state, Mix mixed) {
  VxBackground bg(state.range(0), mixed);
  auto iv = intervals(1024, mixed, 2);
  std::shuffle(iv.begin(), iv.end(), std::mt19937(3));
  CountingTimer t;
  std::size_t i = 0;
  for (auto _ : state) {
    t.schedule(iv[i++ & 1023]);
    t.reset();
  }
}

void Vx_ArmFire(benchmark::State& state, Mix mixed) {
  VxBackground bg(state.range(0), mixed);
  CountingTimer t;
  for (auto _ : state) {
    t.schedule(0);
    multiplexer.run_once(0);
  }
  if (static_cast<long>(t.fired) != state.iterations())
    state.SkipWithError("timer did not fire every pass");
}

// ---- libevent ----

void ev_count(evutil_socket_t, short, void* arg) { ++*static_cast<unsigned long*>(arg); }

timeval ms_tv(unsigned ms) {
  timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  return tv;
}

struct EvBackground {
  event_base* base;
  std::vector<event*> events;
  unsigned long fired = 0;
  EvBackground(std::size_t n, Mix mixed) : base(event_base_new()) {
    auto iv = intervals(n, mixed, 1);
    events.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      event* e = evtimer_new(base, ev_count, &fired);
      timeval tv = ms_tv(iv[i]);
      evtimer_add(e, &tv);
      events.push_back(e);
    }
  }
  ~EvBackground() {
    for (event* e : events) event_free(e);
    event_base_free(base);
  }
};

void Ev_ArmCancel(benchmark::State& state, Mix mixed) {
  EvBackground bg(state.range(0), mixed);
  auto iv = intervals(1024, mixed, 2);
  std::shuffle(iv.begin(), iv.end(), std::mt19937(3));
  std::vector<timeval> tvs;
  for (unsigned ms : iv) tvs.push_back(ms_tv(ms));
  unsigned long fired = 0;
  event* t = evtimer_new(bg.base, ev_count, &fired);
  std::size_t i = 0;
  for (auto _ : state) {
    evtimer_add(t, &tvs[i++ & 1023]);
    evtimer_del(t);
  }
  event_free(t);
}

void Ev_ArmFire(benchmark::State& state, Mix mixed) {
  EvBackground bg(state.range(0), mixed);
  unsigned long fired = 0;
  event* t = evtimer_new(bg.base, ev_count, &fired);
  const timeval zero{0, 0};
  for (auto _ : state) {
    evtimer_add(t, &zero);
    event_base_loop(bg.base, EVLOOP_NONBLOCK | EVLOOP_ONCE);
  }
  event_free(t);
  if (static_cast<long>(fired) != state.iterations())
    state.SkipWithError("timer did not fire every pass");
}

void sizes(benchmark::internal::Benchmark* b) {
  for (int n : {1000, 10000, 100000}) b->Arg(n);
}

BENCHMARK_CAPTURE(Vx_ArmCancel, mixed, mixed)->Apply(sizes);
BENCHMARK_CAPTURE(Ev_ArmCancel, mixed, mixed)->Apply(sizes);
BENCHMARK_CAPTURE(Vx_ArmCancel, few, few)->Apply(sizes);
BENCHMARK_CAPTURE(Ev_ArmCancel, few, few)->Apply(sizes);
BENCHMARK_CAPTURE(Vx_ArmCancel, equal, equal)->Apply(sizes);
BENCHMARK_CAPTURE(Ev_ArmCancel, equal, equal)->Apply(sizes);
BENCHMARK_CAPTURE(Vx_ArmFire, mixed, mixed)->Apply(sizes);
BENCHMARK_CAPTURE(Ev_ArmFire, mixed, mixed)->Apply(sizes);
BENCHMARK_CAPTURE(Vx_ArmFire, equal, equal)->Apply(sizes);
BENCHMARK_CAPTURE(Ev_ArmFire, equal, equal)->Apply(sizes);

// Console output as usual, plus the time per iteration of every run, keyed by its name.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        times[r.benchmark_name()] = r.GetAdjustedRealTime();
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  std::printf("\n%-28s %14s %14s %12s\n", "case", "voxrelay ns", "libevent ns",
              "ratio voxrelay/libevent");
  for (const auto& [name, vx] : reporter.times) {
    if (name.rfind("Vx_", 0) != 0) continue;
    auto it = reporter.times.find("Ev_" + name.substr(3));
    if (it == reporter.times.end() || it->second <= 0) continue;
    std::printf("%-28s %14.1f %14.1f %12.2f\n", name.substr(3).c_str(), vx, it->second,
                vx / it->second);
  }
  return 0;
}
