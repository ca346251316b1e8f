// What the switch costs in driver requests: voxrelay-sim (the whole daemon, in its own process)
// idle for a few seconds, then under a controller that sends pings one at a time as fast as the
// daemon answers them; the simulator's request counter ("count hal" on its socket) gives the
// switch requests of each phase. On the board each is a system call. Seven boards: empty; full
// (120 trunk timeslots each routed to a bus output); and the same with one, then all 120, of
// the map slots destroyed while the switch refuses every request, so that one and then 120
// takedowns are owed; then, the switch taking requests again, with 1, 30 and 300 outputs it
// refuses for good (ext receivers made and destroyed, their takedowns owed for good). Each line
// also gives the pings' 99th percentile round trip and the log lines the daemon wrote a second.
//
// VOXRELAY_SIM_BEFORE names another build of the daemon, run the same way and printed beside
// this one with the ratios.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <algorithm>
#include <iterator>
#include <vector>

#include "asn1/CoderEnv.h"
#include "asn1/schemas/LGCP.h"
#include "bench/Loopback.h"

#ifndef VOXRELAY_SIM_PATH
#define VOXRELAY_SIM_PATH "voxrelay-sim"
#endif

namespace {

using Clock = std::chrono::steady_clock;
const uint8_t kPing[] = {3, 0, 0, 8, 0x80, 0x01, 0x01, 0x18};    // seq 1, ping
const uint8_t kAnswer[] = {3, 0, 0, 8, 0x80, 0x01, 0x01, 0x40};  // seq 1, success

struct Figures {
  double idle_per_s = 0;
  double per_message = 0;
  double messages_per_s = 0;
  double p99_us = 0;
  double log_lines_per_s = 0;
};

constexpr int kCalls = 120;

int connect_unix(const std::string& path) {
  for (int n = 0; n < 500; ++n) {
    int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    std::snprintf(sa.sun_path, sizeof sa.sun_path, "%s", path.c_str());
    if (::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return s;
    ::close(s);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}
// One line to the simulator's socket, its answer line back.
std::string ask(int sim, const std::string& line) {
  const std::string out = line + "\n";
  if (::send(sim, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size())) return "";
  std::string in;
  char c;
  while (::recv(sim, &c, 1, 0) == 1 && c != '\n') in += c;
  return in;
}

unsigned long hal_requests(int sim) {
  const std::string a = ask(sim, "count hal");
  return a.rfind("ok ", 0) == 0 ? std::strtoul(a.c_str() + 3, nullptr, 10) : 0;
}

// The frames read so far on the controller connection, cut at TPKT boundaries.
struct Frames {
  uint8_t buf[65536];
  size_t have = 0;
  // The next frame (header included); false when the connection ends.
  bool next(int sock, std::string& frame) {
    for (;;) {
      if (have >= 4) {
        const size_t len = (size_t(buf[2]) << 8) | buf[3];
        if (len < 4) return false;
        if (have >= len) {
          frame.assign(reinterpret_cast<const char*>(buf), len);
          std::memmove(buf, buf + len, have - len);
          have -= len;
          return true;
        }
      }
      const ssize_t n = ::recv(sock, buf + have, sizeof buf - have, 0);
      if (n <= 0) return false;
      have += size_t(n);
    }
  }
};

// Pings one at a time, each round trip's time appended to times; false when the connection
// ends.
bool pings(int sock, Frames& in, int count, std::vector<double>& times) {
  std::string frame;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    if (::send(sock, kPing, sizeof kPing, MSG_NOSIGNAL) != ssize_t(sizeof kPing)) return false;
    do {
      if (!in.next(sock, frame)) return false;
    } while (frame != std::string(reinterpret_cast<const char*>(kAnswer), sizeof kAnswer));
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return true;
}

const ASN1::CoderEnv& per() {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
  return env;
}

// One command in value notation, sent and answered; signals before the answer are skipped.
bool command(int sock, Frames& in, int seq, int slot, const std::string& pdu) {
  LGCP::Message m;
  if (!m.setFromValueNotation("{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) +
                              ", pdu command : " + pdu + " }"))
    return false;
  std::string bytes;
  if (!ASN1::encode(m, &per(), std::back_inserter(bytes))) return false;
  const size_t len = bytes.size() + 4;
  const std::string out = std::string{3, 0, char(len >> 8), char(len & 0xFF)} + bytes;
  if (::send(sock, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size())) return false;
  std::string frame;
  for (;;) {
    if (!in.next(sock, frame)) return false;
    LGCP::Message a;
    if (!ASN1::decode(frame.data() + 4, frame.data() + frame.size(), &per(), a)) continue;
    const std::string text = a.asValueNotation();
    if (text.find("pdu signal") == std::string::npos) return true;
  }
}

// 120 calls: trunk timeslots (4 trunks of 30) each routed to its own bus output (a map slot).
bool fill_board(int sock, Frames& in, int& seq) {
  for (int i = 0; i < kCalls; ++i) {
    const int trunk_slot = 1 + i, map_slot = 300 + i;
    const std::string bus = "{ bus " + std::to_string(i / 100) + ", channel " + std::to_string(i % 100) + " }";
    if (!command(sock, in, ++seq, trunk_slot,
                 "create : trunk : { trunk " + std::to_string(i / 30) + ", timeslot " + std::to_string(1 + i % 30) + " }") ||
        !command(sock, in, ++seq, map_slot, "create : map : { receiver " + bus + " }") ||
        !command(sock, in, ++seq, trunk_slot, "connect : " + std::to_string(map_slot)))
      return false;
  }
  return true;
}

// Bus outputs' takedowns owed, those of map slots first to last - 1: their map slots destroyed
// while the switch refuses.
bool owe_takedowns(int sim, int sock, Frames& in, int& seq, int first, int last) {
  ask(sim, "fail hal EBUSY 1000000");
  for (int i = first; i < last; ++i)
    if (!command(sock, in, ++seq, 300 + i, "destroy : NULL")) return false;
  return true;
}

// Outputs the switch refuses for good, from the first to the last - 1 of channels 7100 on: each
// an ext slot's receiver, made and destroyed, so that its takedown stays owed. Measured once
// past their back-off.
bool refuse_for_good(int sim, int sock, Frames& in, int& seq, int first, int last) {
  for (int i = first; i < last; ++i) {
    const std::string channel = std::to_string(7100 + i);
    ask(sim, "refuse " + channel + " EIO");
    if (!command(sock, in, ++seq, 700, "create : ext : { transmitter 1, receiver " + channel + " }") ||
        !command(sock, in, ++seq, 700, "destroy : NULL"))
      return false;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  return true;
}

size_t lines_of(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return 0;
  size_t n = 0;
  for (int c; (c = std::fgetc(f)) != EOF;) n += c == '\n';
  std::fclose(f);
  return n;
}

// One phase: idle requests (and log lines) a second, then saturated pings.
bool phase(int sim, int sock, Frames& in, const std::string& log, double idle_seconds, int messages, Figures& f) {
  ask(sim, "clear-requests");
  const size_t lines = lines_of(log);
  auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(idle_seconds));
  const double idle = std::chrono::duration<double>(Clock::now() - start).count();
  f.idle_per_s = double(hal_requests(sim)) / idle;
  f.log_lines_per_s = double(lines_of(log) - lines) / idle;
  ask(sim, "clear-requests");
  std::vector<double> times;
  start = Clock::now();
  if (!pings(sock, in, messages, times)) return false;
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f.per_message = double(hal_requests(sim)) / messages;
  f.messages_per_s = messages / seconds;
  std::sort(times.begin(), times.end());
  f.p99_us = times[std::min(times.size() - 1, times.size() * 99 / 100)];
  return true;
}

// Runs the daemon at path in a private path root and measures it on each board.
constexpr int kBoards = 7;

bool measure(const char* path, double idle_seconds, int messages, Figures (&f)[kBoards]) {
  char tmpl[] = "/tmp/vxrefreshXXXXXX";
  if (!::mkdtemp(tmpl)) return false;
  const std::string root = tmpl;
  for (const char* d : {"/usr", "/usr/local", "/usr/local/etc", "/var", "/var/run", "/var/log", "/var/monitoring",
                        "/dev", "/dev/misc"})
    ::mkdir((root + d).c_str(), 0755);
  ::close(::open((root + "/dev/misc/gw-wd").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
  const uint16_t port = bench::free_port();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("VOXRELAY_ROOT", root.c_str(), 1);
    const int fd = ::open((root + "/stdout").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ::dup2(fd, 1);
    ::dup2(fd, 2);
    ::execl(path, path, "--port", std::to_string(port).c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  const int sim = connect_unix(root + "/var/run/voxrelay-sim.sock");
  const int sock = sim < 0 ? -1 : bench::connect_to(port);
  bool ok = sim >= 0 && sock >= 0;
  Frames in;
  int seq = 1;
  const std::string log = root + "/stdout";
  if (ok) {
    // Past the start-up (the first open sends the whole table).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ok = phase(sim, sock, in, log, idle_seconds, messages, f[0]) && fill_board(sock, in, seq) &&
         phase(sim, sock, in, log, idle_seconds, messages, f[1]) && owe_takedowns(sim, sock, in, seq, 0, 1) &&
         phase(sim, sock, in, log, idle_seconds, messages, f[2]) && owe_takedowns(sim, sock, in, seq, 1, kCalls) &&
         phase(sim, sock, in, log, idle_seconds, messages, f[3]);
    ask(sim, "fail hal none");
    // The owed takedowns taken, then the outputs refused for good.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    ok = ok && refuse_for_good(sim, sock, in, seq, 0, 1) && phase(sim, sock, in, log, idle_seconds, messages, f[4]) &&
         refuse_for_good(sim, sock, in, seq, 1, 30) && phase(sim, sock, in, log, idle_seconds, messages, f[5]) &&
         refuse_for_good(sim, sock, in, seq, 30, 300) && phase(sim, sock, in, log, idle_seconds, messages, f[6]);
  }
  if (sock >= 0) ::close(sock);
  if (sim >= 0) ::close(sim);
  ::kill(pid, SIGTERM);
  int status;
  ::waitpid(pid, &status, 0);
  std::system(("rm -rf '" + root + "'").c_str());
  return ok;
}

const char* const kBoardNames[kBoards] = {"empty board", "full board", "1 owed",     "120 owed",
                                          "1 refused",   "30 refused", "300 refused"};

void print(const char* name, const Figures (&f)[kBoards]) {
  for (int b = 0; b < kBoards; ++b)
    std::printf("%-7s %-12s idle: %6.0f switch requests/s, %6.1f log lines/s; saturated: %6.2f requests per "
                "message (%.0f messages/s, %.0f requests/s), ping p99 %.0f us\n",
                name, kBoardNames[b], f[b].idle_per_s, f[b].log_lines_per_s, f[b].per_message, f[b].messages_per_s,
                f[b].per_message * f[b].messages_per_s, f[b].p99_us);
}

}  // namespace

int main(int argc, char** argv) {
  // A brief run (--benchmark_min_time below a second, as CI passes) measures less.
  double idle = 3;
  int messages = 50000;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--benchmark_min_time=", 21) == 0 && std::atof(argv[i] + 21) < 1) {
      idle = 1;
      messages = 5000;
    }
  const char* sim = std::getenv("VOXRELAY_SIM");
  if (!sim || !*sim) sim = VOXRELAY_SIM_PATH;
  Figures now[kBoards];
  if (!measure(sim, idle, messages, now)) {
    std::fprintf(stderr, "%s: no measurement\n", sim);
    return 1;
  }
  print("this", now);
  const char* before = std::getenv("VOXRELAY_SIM_BEFORE");
  if (before && *before) {
    Figures then[kBoards];
    if (!measure(before, idle, messages, then)) {
      std::fprintf(stderr, "%s: no measurement\n", before);
      return 1;
    }
    print("before", then);
    for (int b = 0; b < kBoards; ++b)
      std::printf("ratio this/before, %-12s idle requests %.2f, requests per message %.3f, ping p99 %.2f\n",
                  kBoardNames[b], now[b].idle_per_s / then[b].idle_per_s,
                  then[b].per_message > 0 ? now[b].per_message / then[b].per_message : 0.0,
                  now[b].p99_us / then[b].p99_us);
  }
  return 0;
}
