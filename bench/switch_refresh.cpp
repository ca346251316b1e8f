// What the switch's background refresh costs in driver requests: voxrelay-sim (the whole daemon,
// in its own process) idle for a few seconds, then under a controller that sends pings one at a
// time as fast as the daemon answers them; the simulator's request counter ("count hal" on its
// socket) gives the switch requests of each phase. On the board each is a system call.
//
// VOXRELAY_SIM_BEFORE names another build of the daemon, run the same way and printed beside
// this one with the ratio.
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
};

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

// Pings one at a time; false when the connection ends.
bool pings(int sock, int count) {
  uint8_t buf[4096];
  size_t have = 0;
  for (int i = 0; i < count; ++i) {
    if (::send(sock, kPing, sizeof kPing, MSG_NOSIGNAL) != ssize_t(sizeof kPing)) return false;
    for (bool answered = false; !answered;) {
      const ssize_t n = ::recv(sock, buf + have, sizeof buf - have, 0);
      if (n <= 0) return false;
      have += size_t(n);
      size_t at = 0;
      while (have - at >= 4) {
        const size_t len = (size_t(buf[at + 2]) << 8) | buf[at + 3];
        if (len < 4 || len > sizeof buf) return false;
        if (have - at < len) break;
        if (len == sizeof kAnswer && std::memcmp(buf + at, kAnswer, len) == 0) answered = true;
        at += len;
      }
      std::memmove(buf, buf + at, have - at);
      have -= at;
    }
  }
  return true;
}

// Runs the daemon at path in a private path root and measures it.
bool measure(const char* path, double idle_seconds, int messages, Figures& f) {
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
  if (ok) {
    // Past the start-up (the first open sends the whole table), then idle.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ask(sim, "clear-requests");
    auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(idle_seconds));
    f.idle_per_s = double(hal_requests(sim)) / std::chrono::duration<double>(Clock::now() - start).count();
    ask(sim, "clear-requests");
    start = Clock::now();
    ok = pings(sock, messages);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.per_message = double(hal_requests(sim)) / messages;
    f.messages_per_s = messages / seconds;
  }
  if (sock >= 0) ::close(sock);
  if (sim >= 0) ::close(sim);
  ::kill(pid, SIGTERM);
  int status;
  ::waitpid(pid, &status, 0);
  std::system(("rm -rf '" + root + "'").c_str());
  return ok;
}

void print(const char* name, const Figures& f) {
  std::printf("%-7s idle: %7.0f switch requests/s; saturated: %6.2f requests per controller message "
              "(%.0f messages/s, %.0f requests/s)\n",
              name, f.idle_per_s, f.per_message, f.messages_per_s, f.per_message * f.messages_per_s);
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
  Figures now;
  if (!measure(sim, idle, messages, now)) {
    std::fprintf(stderr, "%s: no measurement\n", sim);
    return 1;
  }
  print("this", now);
  const char* before = std::getenv("VOXRELAY_SIM_BEFORE");
  if (before && *before) {
    Figures then;
    if (!measure(before, idle, messages, then)) {
      std::fprintf(stderr, "%s: no measurement\n", before);
      return 1;
    }
    print("before", then);
    std::printf("ratio this/before: idle %.2f, per message %.3f\n", now.idle_per_s / then.idle_per_s,
                then.per_message > 0 ? now.per_message / then.per_message : 0.0);
  }
  return 0;
}
