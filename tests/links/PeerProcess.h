#pragma once
// The libpri far end as a child process: started with pipes on its stdin and stdout, its
// output lines gathered while our side's loop and the simulated board run.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "SimLine.h"

namespace linktest {

class PeerProcess {
 public:
  PeerProcess(const std::string& path, const char* role, const char* mode, int instances = 1) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) < 0 || ::pipe2(out, O_CLOEXEC) < 0) return;
    std::string n = std::to_string(instances);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::execl(VX_LAPD_PEER, VX_LAPD_PEER, path.c_str(), role, mode, n.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_ = in[1];
    from_ = out[0];
    ::fcntl(from_, F_SETFL, O_NONBLOCK);
  }
  ~PeerProcess() {
    if (to_ >= 0) ::close(to_);
    if (from_ >= 0) ::close(from_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  void command(const std::string& line) {
    std::string l = line + "\n";
    ASSERT_EQ(::write(to_, l.data(), l.size()), static_cast<ssize_t>(l.size()));
  }

  // Runs our side (board and loop, real time) until `done` holds or `ms` pass; the peer's
  // lines are gathered meanwhile.
  bool run_until(const std::function<bool()>& done, int ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      read_lines();
      sim().service();
      multiplexer.run_once(5);
      if (done()) return true;
    }
    read_lines();
    return done();
  }
  bool wait_line(const std::string& prefix, int ms = 5000) {
    size_t from = seen_;
    return run_until([&] { return find(prefix, from); }, ms);
  }
  bool find(const std::string& prefix, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i) {
      if (lines[i].rfind(prefix, 0) == 0) {
        seen_ = i + 1;
        return true;
      }
    }
    return false;
  }
  size_t count(const std::string& prefix) const {
    size_t n = 0;
    for (auto& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
  }
  // Marks everything so far as seen, so that wait_line looks at what comes next.
  void mark() {
    read_lines();
    seen_ = lines.size();
  }

  std::vector<std::string> lines;

 private:
  void read_lines() {
    char buf[4096];
    for (;;) {
      ssize_t n = ::read(from_, buf, sizeof buf);
      if (n <= 0) break;
      pending_.append(buf, static_cast<size_t>(n));
    }
    size_t nl;
    while ((nl = pending_.find('\n')) != std::string::npos) {
      lines.push_back(pending_.substr(0, nl));
      pending_.erase(0, nl + 1);
    }
  }

  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  size_t seen_ = 0;
  std::string pending_;
};

}  // namespace linktest
