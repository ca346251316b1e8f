#pragma once
// Console output as usual, keeping each benchmark's time per iteration so that a program can
// print its ratios against the peer at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred) ns_[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }

  // A benchmark's time per iteration in ns; 0 when it did not run.
  double ns(const std::string& name) const {
    auto it = ns_.find(name);
    return it == ns_.end() ? 0 : it->second;
  }

  void ratio(const char* ours, const char* peer) const {
    auto a = ns_.find(ours), b = ns_.find(peer);
    if (a == ns_.end() || b == ns_.end() || a->second <= 0) return;
    std::printf("ratio %s / %s = %.2f (peer time over ours)\n", peer, ours, b->second / a->second);
  }

 private:
  std::map<std::string, double> ns_;
};

// The main of a benchmark program that compares its own runs: runs the benchmarks the command
// line names, then hands their times to `compare`.
inline int run_then_compare(int argc, char** argv, const std::function<void(const RatioReporter&)>& compare) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  compare(reporter);
  benchmark::Shutdown();
  return 0;
}

// The main of a benchmark program measured against a peer: runs the benchmarks the command line
// names, then prints the ratio of each (ours, peer) pair that ran.
inline int run_with_ratios(int argc, char** argv, std::initializer_list<std::pair<const char*, const char*>> pairs) {
  return run_then_compare(argc, argv, [&](const RatioReporter& reporter) {
    for (const auto& [ours, peer] : pairs) reporter.ratio(ours, peer);
  });
}
