#pragma once
// The libpri far end as a child process: started with pipes on its stdin and stdout, its
// output lines gathered while our side's loop and the simulated board run.
#include <chrono>
#include <functional>
#include <string>

#include "SimLine.h"
#include "tests/support/ChildLines.h"

namespace linktest {

class PeerProcess : public vxtest::ChildLines {
 public:
  PeerProcess(const std::string& path, const char* role, const char* mode, int instances = 1)
      : ChildLines({VX_LAPD_PEER, path, role, mode, std::to_string(instances)}) {}

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
  // Marks everything so far as seen, so that wait_line looks at what comes next.
  void mark() {
    read_lines();
    seen_ = lines.size();
  }

 private:
  size_t seen_ = 0;
};

}  // namespace linktest
