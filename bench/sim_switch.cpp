// Frames across the simulated board's switch: a frame arriving at a switch input that one
// connection carries to a controller channel, against the same frame handed straight to that
// channel. Both read the frame back on the channel's descriptor, as the daemon does, so the
// difference is what the switch costs a frame. The board holds other connections as a busy one
// does; "cabled" adds a loopback elsewhere, which makes a route follow cables. Prints the time
// and heap allocations per frame and the ratio of the two (goal: at most 1.2).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/CountedNew.h"
#include "bench/RatioReporter.h"
#include "board/board.h"
#include "board/hal.h"
#include "board/mcc.h"
#include "board/sim/SimBoard.h"

namespace {

using board::sim::SimBoard;

constexpr int kInput = 8192 + 17;  // a bus input, as a trunk timeslot arrives there
constexpr int kBusy = 2000;        // other outputs connected on the board

// One controller channel, fed from kInput through the switch; reset around each run.
class Bench {
 public:
  explicit Bench(bool cabled) : sim_(SimBoard::instance()) {
    sim_.reset();
    fd_ = board::open(board::mcc::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    board::mcc::Allocate a;
    a.type = board::mcc::kTypeData;
    a.rx_packet_size = 512;
    board::ioctl(fd_, board::mcc::MCC_ALLOCATE, &a);
    channel_ = board::ioctl(fd_, board::mcc::MCC_TIMESLOT, nullptr);
    sim_.state().mux.connect(channel_, kInput);
    for (int i = 0; i < kBusy; ++i) sim_.state().mux.connect(10000 + i, 8192 + 100 + i % 500);
    if (cabled) sim_.state().mux.cable(8192 + 300, 8192 + 300);
    ok_ = fd_ >= 0 && channel_ >= 0;
  }
  ~Bench() {
    board::close(fd_);
    sim_.reset();
  }
  bool ok() const { return ok_; }

  bool through_switch(const std::vector<uint8_t>& frame) { return sim_.tdm_frame(kInput, frame) == 1 && read_back(); }
  bool straight(const std::vector<uint8_t>& frame) {
    sim_.service();  // as tdm_frame does first
    return sim_.hdlc_frame(channel_, frame) && read_back();
  }

 private:
  bool read_back() { return ::read(fd_, buf_, sizeof buf_) > 0; }

  SimBoard& sim_;
  int fd_ = -1;
  int channel_ = -1;
  bool ok_ = false;
  uint8_t buf_[512];
};

template <bool (Bench::*Send)(const std::vector<uint8_t>&)>
void frames(benchmark::State& state) {
  Bench b(state.range(0) != 0);
  if (!b.ok()) return state.SkipWithError("no controller channel");
  const std::vector<uint8_t> frame(32, 0x7E);
  const uint64_t before = bench::allocations.load();
  for (auto _ : state) {
    if (!(b.*Send)(frame)) return state.SkipWithError("frame lost");
  }
  state.counters["allocs/frame"] =
      static_cast<double>(bench::allocations.load() - before) / static_cast<double>(state.iterations());
}

void BM_FrameThroughSwitch(benchmark::State& state) { frames<&Bench::through_switch>(state); }
void BM_FrameStraightToChannel(benchmark::State& state) { frames<&Bench::straight>(state); }
BENCHMARK(BM_FrameThroughSwitch)->ArgName("cabled")->Arg(0)->Arg(1);
BENCHMARK(BM_FrameStraightToChannel)->ArgName("cabled")->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char** argv) {
  return run_then_compare(argc, argv, [](const RatioReporter& reporter) {
    for (const std::string arg : {"cabled:0", "cabled:1"}) {
      const double routed = reporter.ns("BM_FrameThroughSwitch/" + arg);
      const double straight = reporter.ns("BM_FrameStraightToChannel/" + arg);
      if (routed > 0 && straight > 0)
        std::printf("ratio through switch / straight to channel (%s) = %.2f (goal: at most 1.2)\n", arg.c_str(),
                    routed / straight);
    }
  });
}
