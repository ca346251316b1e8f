#pragma once
// Shared pieces of the event loop tests: a fixture that runs on the fake clock and leaves
// the global loop as it found it, and a descriptor handler over a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "foundation/Event.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"

// A millisecond count that lies well away from 0 and from the 32-bit wrap.
constexpr uint64_t kTestEpochUsec = 1'700'000'000'000'000ull;

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Mux::test_clock_set(kTestEpochUsec);
    ASSERT_EQ(multiplexer.handler_count(), 0u);
    ASSERT_EQ(multiplexer.timer_count(), 0u);
  }
  void TearDown() override {
    Mux::test_clock_clear();
    Mux::mux_cleartimeofday();
  }
};

// A pipe whose read end is readable once something has been written.
struct Pipe {
  int rd = -1, wr = -1;
  Pipe() {
    int p[2];
    if (::pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
      rd = p[0];
      wr = p[1];
    }
  }
  ~Pipe() {
    if (rd >= 0) ::close(rd);
    if (wr >= 0) ::close(wr);
  }
  void fill() { (void)!::write(wr, "x", 1); }
};

// A handler that polls one descriptor and records what it was served.
class TestHandler : public EventHandler {
 public:
  TestHandler(std::string name, int fd, std::vector<std::string>* log)
      : name_(std::move(name)), fd_(fd), log_(log) {}
  ~TestHandler() override {
    if (multiplexer.event_exists(this)) multiplexer.detach(this);
  }
  void shedule_event(pollfd& p) override {
    p.fd = fd_;
    p.events = POLLIN;
  }
  void svc_event(short ev) override {
    served_revents.push_back(ev);
    if (log_) log_->push_back(name_);
    if (on_serve) on_serve();
  }
  std::string event_name() const override { return name_; }

  std::function<void()> on_serve;
  std::vector<short> served_revents;

 private:
  std::string name_;
  int fd_;
  std::vector<std::string>* log_;
};
