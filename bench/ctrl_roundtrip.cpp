// Command round trip on loopback: ping with 1, 16 and 256 commands outstanding, answered by
// voxrelay-sim (the whole daemon, in its own process) and by two peers in this process:
// - the responder: a minimal single-threaded poll() TPKT server that takes one recv of up to
//   64 KiB per readiness and answers each ping with a canned success frame, one write per
//   answer (the same one-send-per-answer design as the daemon's) — the reference of the goal;
// - the batching responder: the same, but it gathers every answer of one read into one write,
//   a higher reference.
// The client and each server run pinned to their own CPU, the client busy-polls its socket, and
// it counts only the success answers it waits for (the daemon's own signals are skipped).
// Rounds alternate between the three sides; each ratio is taken from the medians of the rounds.
#include <benchmark/benchmark.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/Loopback.h"

#ifndef VOXRELAY_SIM_PATH
#define VOXRELAY_SIM_PATH "voxrelay-sim"
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 5;
const uint8_t kPing[] = {3, 0, 0, 8, 0x80, 0x01, 0x01, 0x18};    // seq 1, ping
const uint8_t kAnswer[] = {3, 0, 0, 8, 0x80, 0x01, 0x01, 0x40};  // seq 1, success
int commands = 20000;  // per measured run

// Distinct CPUs of this process's affinity set: [0] the client's, [1] the servers'.
std::vector<int> cpus() {
  static const std::vector<int> list = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    std::vector<int> out;
    for (int c = 0; c < CPU_SETSIZE; ++c)
      if (CPU_ISSET(c, &set)) out.push_back(c);
    return out;
  }();
  return list;
}

void pin(pid_t tid_or_zero, int cpu) {
  if (cpu < 0) return;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(tid_or_zero, sizeof set, &set);
}

int client_cpu() { return cpus().empty() ? -1 : cpus()[0]; }
int server_cpu() { return cpus().size() < 2 ? -1 : cpus()[1]; }

using bench::connect_to;
using bench::free_port;

// Reads TPKT frames off a socket; counts the canned success answers, skips every other frame.
class AnswerCounter {
 public:
  // Busy-polls until at least one byte came; the number of answers completed, -1 on end.
  int poll_answers(int sock) {
    ssize_t n;
    do n = ::recv(sock, buf_ + have_, sizeof buf_ - have_, MSG_DONTWAIT);
    while (n < 0 && (errno == EAGAIN || errno == EINTR));
    if (n <= 0) return -1;
    have_ += size_t(n);
    int answers = 0;
    size_t at = 0;
    while (have_ - at >= 4) {
      const size_t len = (size_t(buf_[at + 2]) << 8) | buf_[at + 3];
      if (buf_[at] != 3 || len < 4) return -1;
      if (have_ - at < len) break;
      if (len == sizeof kAnswer && std::memcmp(buf_ + at, kAnswer, len) == 0) ++answers;
      at += len;
    }
    std::memmove(buf_, buf_ + at, have_ - at);
    have_ -= at;
    return answers;
  }

 private:
  uint8_t buf_[1 << 17];
  size_t have_ = 0;
};

// A server under test: its port, and a controller connection to it that stays for all rounds.
class Side {
 public:
  virtual ~Side() = default;
  virtual uint16_t port() const = 0;
  int sock() {
    if (sock_ < 0) sock_ = connect_to(port());
    return sock_;
  }
  AnswerCounter counter;

 protected:
  void close_sock() {
    if (sock_ >= 0) ::close(sock_);
    sock_ = -1;
  }
  int sock_ = -1;
};

// voxrelay-sim in a private path root, pinned to the servers' CPU.
class DaemonSide : public Side {
 public:
  DaemonSide() : port_(free_port()) {
    char tmpl[] = "/tmp/vxbenchXXXXXX";
    root_ = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    for (const char* d : {"/usr", "/usr/local", "/usr/local/etc", "/var", "/var/run", "/var/log", "/var/monitoring",
                          "/dev", "/dev/misc"})
      ::mkdir((root_ + d).c_str(), 0755);
    ::close(::open((root_ + "/dev/misc/gw-wd").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    const std::string port = std::to_string(port_);
    const std::string out = root_ + "/stdout";
    pid_ = ::fork();
    if (pid_ == 0) {
      pin(0, server_cpu());
      ::setenv("VOXRELAY_ROOT", root_.c_str(), 1);
      const int fd = ::open(out.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      // VOXRELAY_SIM runs another build of the daemon (or a wrapper around it) against the
      // same peers, for before/after figures from one machine state.
      const char* sim = std::getenv("VOXRELAY_SIM");
      if (!sim || !*sim) sim = VOXRELAY_SIM_PATH;
      ::execl(sim, sim, "--port", port.c_str(), static_cast<char*>(nullptr));
      std::_Exit(127);
    }
  }
  ~DaemonSide() override {
    close_sock();
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status;
      ::waitpid(pid_, &status, 0);
    }
    std::system(("rm -rf '" + root_ + "'").c_str());
  }
  uint16_t port() const override { return port_; }

 private:
  uint16_t port_;
  std::string root_;
  pid_t pid_ = -1;
};

// The peers: one poll() loop, one listening socket, one connection, TPKT cut by hand, every
// frame answered with the canned answer: one write per answer, or all of one read's answers in
// one write.
class ResponderSide : public Side {
 public:
  explicit ResponderSide(bool batching) : batching_(batching), port_(free_port()) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port_);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listen_, 1);
    thread_ = std::thread([this] {
      pin(0, server_cpu());
      Run();
    });
  }
  ~ResponderSide() override {
    close_sock();
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }
  uint16_t port() const override { return port_; }

 private:
  void Run() {
    int conn = -1;
    std::vector<uint8_t> in, out;
    static thread_local uint8_t buf[65536];
    while (!stop_) {
      pollfd p[2] = {{listen_, POLLIN, 0}, {conn, POLLIN, 0}};
      if (::poll(p, conn >= 0 ? 2 : 1, 5) <= 0) continue;
      if (p[0].revents & POLLIN) {
        const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn >= 0) ::close(conn);
        conn = c;
        int one = 1;
        ::setsockopt(conn, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        in.clear();
        continue;
      }
      if (conn < 0 || !(p[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
      if (n <= 0) {
        ::close(conn);
        conn = -1;
        continue;
      }
      in.insert(in.end(), buf, buf + n);
      size_t at = 0;
      out.clear();
      bool failed = false;
      while (in.size() - at >= 4 && !failed) {
        const size_t len = (size_t(in[at + 2]) << 8) | in[at + 3];
        if (len < 4 || in.size() - at < len) break;
        at += len;
        if (batching_)
          out.insert(out.end(), kAnswer, kAnswer + sizeof kAnswer);
        else
          failed = ::send(conn, kAnswer, sizeof kAnswer, MSG_NOSIGNAL) < 0;
      }
      in.erase(in.begin(), in.begin() + long(at));
      if (!out.empty() && ::send(conn, out.data(), out.size(), MSG_NOSIGNAL) < 0) failed = true;
      if (failed) {
        ::close(conn);
        conn = -1;
      }
    }
    if (conn >= 0) ::close(conn);
  }

  bool batching_;
  uint16_t port_;
  int listen_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Runs `commands` pings with `outstanding` in flight; latencies in microseconds. Answers come
// in order, so the k-th answer closes the k-th command.
bool RoundTrips(Side& side, int outstanding, std::vector<double>& latencies) {
  const int sock = side.sock();
  if (sock < 0) return false;
  std::vector<Clock::time_point> sent(static_cast<size_t>(commands));
  latencies.clear();
  latencies.reserve(size_t(commands));
  int next = 0, done = 0;
  std::vector<uint8_t> burst;
  while (done < commands) {
    burst.clear();
    const auto now = Clock::now();
    while (next < commands && next - done < outstanding) {
      sent[size_t(next++)] = now;
      burst.insert(burst.end(), kPing, kPing + sizeof kPing);
    }
    if (!burst.empty() && ::send(sock, burst.data(), burst.size(), MSG_NOSIGNAL) != ssize_t(burst.size()))
      return false;
    const int answers = side.counter.poll_answers(sock);
    if (answers < 0) return false;
    const auto at = Clock::now();
    for (int i = 0; i < answers && done < next; ++i)
      latencies.push_back(std::chrono::duration<double, std::micro>(at - sent[size_t(done++)]).count());
  }
  return true;
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  const size_t k = std::min(v.size() - 1, size_t(q * double(v.size())));
  std::nth_element(v.begin(), v.begin() + long(k), v.end());
  return v[k];
}

double Median(std::vector<double> v) { return Percentile(std::move(v), 0.5); }

struct Result {
  std::vector<double> rate, p50, p99;
};
std::map<std::string, Result> results;  // by side and outstanding count

Side& side_of(const std::string& name) {
  static DaemonSide daemon;
  static ResponderSide responder(false);
  static ResponderSide batching(true);
  if (name == "daemon") return daemon;
  if (name == "responder") return responder;
  return batching;
}

void Roundtrip(benchmark::State& state, const std::string& name, int outstanding) {
  pin(0, client_cpu());
  Side& side = side_of(name);
  std::vector<double> latencies;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!RoundTrips(side, outstanding, latencies)) {
      state.SkipWithError("connection lost");
      return;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    Result& r = results[name + "/" + std::to_string(outstanding)];
    r.rate.push_back(commands / seconds);
    r.p50.push_back(Percentile(latencies, 0.50));
    r.p99.push_back(Percentile(latencies, 0.99));
    state.counters["p50_us"] = r.p50.back();
    state.counters["p99_us"] = r.p99.back();
    state.counters["cmd_per_s"] = r.rate.back();
  }
}

void report() {
  for (int n : {1, 16, 256}) {
    const std::string k = "/" + std::to_string(n);
    const auto d = results.find("daemon" + k), r = results.find("responder" + k), b = results.find("batching" + k);
    if (d == results.end() || r == results.end() || b == results.end()) continue;
    const double dr = Median(d->second.rate), rr = Median(r->second.rate), br = Median(b->second.rate);
    const double dp = Median(d->second.p99), rp = Median(r->second.p99), bp = Median(b->second.p99);
    std::printf("%3d outstanding, medians of %zu rounds: daemon %.0f cmd/s p50 %.1f us p99 %.1f us\n", n,
                d->second.rate.size(), dr, Median(d->second.p50), dp);
    std::printf("    responder (one write per answer): %.0f cmd/s p50 %.1f us p99 %.1f us -> rate ratio %.2f, p99 ratio %.2f\n",
                rr, Median(r->second.p50), rp, dr / rr, dp / rp);
    std::printf("    batching responder (one write per read): %.0f cmd/s p50 %.1f us p99 %.1f us -> rate ratio %.2f, p99 ratio %.2f\n",
                br, Median(b->second.p50), bp, dr / br, dp / bp);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // A brief run (--benchmark_min_time below a second, as CI passes) does one round of fewer
  // commands.
  int rounds = kRounds;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--benchmark_min_time=", 21) == 0 && std::atof(argv[i] + 21) < 1) {
      rounds = 1;
      commands = 2000;
    }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  for (int round = 0; round < rounds; ++round)
    for (int n : {1, 16, 256})
      for (const char* name : {"daemon", "responder", "batching"})
        benchmark::RegisterBenchmark(
            (std::string("Roundtrip/") + name + "/" + std::to_string(n) + "/round:" + std::to_string(round)).c_str(),
            [name = std::string(name), n](benchmark::State& s) { Roundtrip(s, name, n); })
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  report();
  benchmark::Shutdown();
  return 0;
}
