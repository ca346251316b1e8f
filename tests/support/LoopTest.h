#pragma once
// A test on the fake clock, with the event loop driven pass by pass and the log and error
// streams captured.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "foundation/Multiplexer.h"
#include "tests/support/CaptureStreams.h"
#include "tests/support/TestClock.h"

namespace vxtest {

class LoopTest : public ::testing::Test {
 protected:
  // One loop pass that does not wait (n of them).
  static void pass(int n = 1) {
    for (int i = 0; i < n; ++i) multiplexer.run_once(0);
  }
  // Moves the fake clock on and runs one pass, which fires what fell due.
  void advance(uint32_t ms) {
    clock_.advance(ms);
    multiplexer.run_once(0);
  }
  std::string log() const { return capture_.log.str(); }
  std::string err() const { return capture_.err.str(); }
  void clear_output() { capture_.clear(); }

  TestClock clock_;
  CaptureStreams capture_;
};

}  // namespace vxtest
