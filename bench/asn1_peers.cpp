// PER encode+decode of control messages against two independent codecs in the same run:
// Erlang/OTP asn1 (aligned PER from the protocol modules) and asn1c (unaligned PER from a schema
// of the same wire form, for the messages of a fixed shape). Ours: one encode of the message
// into the answer buffer, one decode of its octets into a fresh LGCP::Message, as the server
// does; heap allocations per message are counted. The peers are built and run by
// bench/per_peers.py; the ratio printed per message is the faster peer's time over ours, each
// side's time the best of five runs.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "bench/CountedNew.h"
#include "asn1/CoderEnv.h"
#include "control/CtrlSrvServer.h"
#include "control/CtrlSrvService.h"
#include "tests/control_server/PairConnection.h"
#include "asn1/ValuePool.h"
#include "tests/support/Asn1Hex.h"
#include "tests/support/Asn1Vectors.h"

namespace {

// The mix: the five messages of the control path's hot set, and three more of other shapes.
const char* const kMix[] = {"command_ping",     "response_success",  "command_create_trunk_bri",
                            "signal_tonec",     "command_create_rtp", "command_trunkCfg",
                            "signal_trunkStatus", "command_ioctl_rtpExt"};

const ASN1::CoderEnv& per() {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
  return env;
}

const LGCP::Message* find(const std::string& name) {
  static const auto all = [] {
    // The schema tests' reference messages, as the independent codec encoded them.
    std::map<std::string, LGCP::Message> m;
    for (const auto& v : Asn1Test::readVectors(VOXRELAY_SOURCE_DIR "/tests/asn1_schemas/fixtures/per_vectors.txt")) {
      std::vector<char> bytes = Asn1Test::hexBytes(v.hex);
      LGCP::Message msg;
      if (v.type == "LGCP::Message" && ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &per(), msg, true))
        m.emplace(v.name, std::move(msg));
    }
    return m;
  }();
  auto it = all.find(name);
  return it == all.end() ? nullptr : &it->second;
}

std::map<std::string, double> ours_ns, ours_allocs;

void RoundTrip(benchmark::State& state, const std::string& name) {
  const LGCP::Message* value = find(name);
  if (!value) {
    state.SkipWithError("no such reference message");
    return;
  }
  std::vector<char> out;
  out.reserve(512);
  // Heap allocations: the global operator new's and the blocks the value pool had to take.
  auto heap = [] { return bench::allocations.load() + ASN1::detail::poolHeapAllocations(); };
  const unsigned long before = heap();
  for (auto _ : state) {
    out.clear();
    if (!ASN1::encode(*value, &per(), std::back_inserter(out))) {
      state.SkipWithError("encode failed");
      return;
    }
    LGCP::Message decoded;
    if (!ASN1::decode(out.data(), out.data() + out.size(), &per(), decoded, true)) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(decoded);
  }
  ours_allocs[name] = double(heap() - before) / double(state.iterations());
  state.counters["allocs/msg"] = ours_allocs[name];
}

// The server's receive and answer path: a frame's payload handed to the server as the TPKT
// layer hands it, decoded, offered to a service that answers success, the answer encoded and
// sent down the connection's stack (TPKT, stream) to a socket pair. Heap allocations per
// command are counted; the answers are drained from the other end.
class Answering : public CtrlSrv::Service {
 public:
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override {
    server->Success();
    return true;
  }
};

double server_allocs = -1;

void BM_ServerPath(benchmark::State& state) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  CtrlSrv::Server server;
  Answering service;
  server.Bind(&service);
  server.Activate(new srvtest::PairConnection(sv[0]));
  std::vector<char> frame;
  ASN1::encode(*find("command_ping"), &per(), std::back_inserter(frame));
  char drain[65536];
  auto heap = [] { return bench::allocations.load() + ASN1::detail::poolHeapAllocations(); };
  // Warm: the first command fills the pools and buffers that every later one reuses.
  server.OnMessage(frame.data(), int(frame.size()));
  (void)::recv(sv[1], drain, sizeof drain, MSG_DONTWAIT);
  const unsigned long before = heap();
  for (auto _ : state) {
    server.OnMessage(frame.data(), int(frame.size()));
    (void)::recv(sv[1], drain, sizeof drain, MSG_DONTWAIT);
  }
  server_allocs = double(heap() - before) / double(state.iterations());
  state.counters["allocs/msg"] = server_allocs;
  server.Deactivate();
  ::close(sv[0]);
  ::close(sv[1]);
}
BENCHMARK(BM_ServerPath);

class Reporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      const std::string n = r.run_name.function_name;
      if (n.rfind("PerRoundTrip/", 0) != 0 || r.run_type != Run::RT_Iteration) continue;
      // The best of the repetitions: the figure least disturbed by other work on the machine.
      const std::string name = n.substr(13);
      const double ns = r.GetAdjustedRealTime();
      if (!ours_ns.count(name) || ns < ours_ns[name]) ours_ns[name] = ns;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0.5;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--benchmark_min_time=", 21) == 0) seconds = std::atof(argv[i] + 21);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (const char* name : kMix)
    benchmark::RegisterBenchmark((std::string("PerRoundTrip/") + name).c_str(),
                                 [n = std::string(name)](benchmark::State& s) { RoundTrip(s, n); })
        ->Repetitions(5)
        ->ReportAggregatesOnly(false)
        ->MinTime(seconds / 5);
  Reporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  // The peers, in the same run.
  std::string cmd = "python3 '" VOXRELAY_SOURCE_DIR "/bench/per_peers.py' '" VOXRELAY_PEERS_DIR "' " +
                    std::to_string(seconds < 0.05 ? 0.05 : seconds);
  for (const char* name : kMix) cmd += std::string(" ") + name;
  std::map<std::string, std::map<std::string, double>> peers;  // name -> peer -> ns
  if (FILE* f = ::popen(cmd.c_str(), "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, f)) {
      char peer[64], name[128];
      double ns;
      if (std::sscanf(line, "%63s %127s %lf", peer, name, &ns) == 3)
        peers[name][peer] = ns;
      else
        std::fputs(line, stdout);
    }
    ::pclose(f);
  }
  std::printf("\n%-26s %9s %7s %9s %9s %7s\n", "message", "ours ns", "allocs", "asn1c ns", "erlang ns",
              "ratio");
  for (const char* name : kMix) {
    const auto o = ours_ns.find(name);
    if (o == ours_ns.end()) continue;
    const auto& p = peers[name];
    const double a = p.count("asn1c") ? p.at("asn1c") : 0, e = p.count("erlang") ? p.at("erlang") : 0;
    const double best = a > 0 && e > 0 ? std::min(a, e) : a > 0 ? a : e;
    std::printf("%-26s %9.1f %7.1f %9.1f %9.1f", name, o->second, ours_allocs[name], a, e);
    if (best > 0)
      std::printf(" %7.2f\n", best / o->second);
    else
      std::printf("       -\n");
  }
  std::printf("ratio = the faster peer's time over ours (2.00: ours takes half the time)\n");
  if (server_allocs >= 0)
    std::printf("server receive and answer path (ping in, success out): %.2f heap allocations per command\n",
                server_allocs);
  benchmark::Shutdown();
  return 0;
}
