#pragma once
// The media slot tests' common ground: the slot table served to a controller at the far end of
// a socket pair, a clean simulated board, captured logs and a pump of the event loop.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "slots/Slots.h"
#include "tests/hwsvc/Harness.h"
#include "tests/support/TempDir.h"

namespace mediatest {

using board::sim::Device;
using hwtest::sim;

// A private path root (VOXRELAY_ROOT) for the files and programs a slot looks up, restored after.
struct PathRoot : vxtest::TempDir {
  explicit PathRoot(const char* prefix) : TempDir(prefix) {
    if (const char* o = ::getenv("VOXRELAY_ROOT")) old = o;
    ::setenv("VOXRELAY_ROOT", path().c_str(), 1);
  }
  ~PathRoot() { ::setenv("VOXRELAY_ROOT", old.c_str(), 1); }
  std::string old;
};

class MediaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::signal(SIGPIPE, SIG_IGN);
    hwtest::clean_board();
    ctl.connect();
  }
  void TearDown() override {
    ctl.disconnect();  // destroys every slot left
    pass();
  }

  // Loop passes, the simulated board taking in what the daemon wrote in between.
  static void pass(int n = 1) {
    for (int i = 0; i < n; ++i) {
      sim().service();
      multiplexer.run_once(0);
    }
  }
  // Passes (each waiting up to 10 ms for a descriptor) until `done` holds; false after ~5 s.
  static bool pump(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
      if (done()) return true;
      sim().service();
      multiplexer.run_once(10);
    }
    return done();
  }

  // Sends a command for `slot`; its answer: -1 success, else the error cause.
  int send(const LGCP::Command& command, unsigned slot = 3) {
    ctl.send(command, ++seq_, slot);
    auto a = ctl.answers();
    return a.empty() ? -2 : a.back();
  }
  int create(const std::function<void(LGCP::CreateParams&)>& fill, unsigned slot = 3) {
    LGCP::Command c;
    fill(c.select_create());
    return send(c, slot);
  }
  int ioctl(const std::function<void(LGCP::IoctlParams&)>& fill, unsigned slot = 3) {
    LGCP::Command c;
    fill(c.select_ioctl());
    return send(c, slot);
  }
  int simple(void (LGCP::Command::*set)(), unsigned slot = 3) {
    LGCP::Command c;
    (c.*set)();
    return send(c, slot);
  }
  int connect(unsigned source, unsigned sink) {
    LGCP::Command c;
    c.set_connect(sink);
    return send(c, source);
  }
  // The resources the "query" signal of a resource query reports.
  LGCP::Resources query() {
    LGCP::Command c;
    c.set_query();
    ctl.send(c, ++seq_);
    querySignals = ctl.signals();
    for (const LGCP::Signal& s : querySignals)
      if (s.is_query()) return s.get_query();
    ADD_FAILURE() << "no query signal";
    return LGCP::Resources();
  }
  static std::vector<board::sim::Request> requests(Device d, uint32_t number) { return sim().requests(d, number); }
  static std::vector<std::string> names(Device d) {
    std::vector<std::string> out;
    for (const auto& r : sim().requests(d)) out.push_back(r.def ? r.def->name : "?");
    return out;
  }
  bool logged(const std::string& text) const { return log.all().find(text) != std::string::npos; }

  hwtest::Controller ctl{Slots::instance()};
  // Every signal the last query() saw, the "query" signal among them.
  std::vector<LGCP::Signal> querySignals;
  vxtest::CaptureStreams log;
  int seq_ = 0;
};

}  // namespace mediatest
