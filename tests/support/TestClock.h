#pragma once
// The event loop's clock under test control for the life of the object: tests move time
// instead of sleeping.
#include <cstdint>

#include "foundation/Mux.h"

namespace vxtest {

class TestClock {
 public:
  TestClock() { Mux::test_clock_set(1'700'000'000ull * 1'000'000ull); }
  ~TestClock() { Mux::test_clock_clear(); }
  TestClock(const TestClock&) = delete;
  TestClock& operator=(const TestClock&) = delete;

  // Moves the clock only; what fell due fires at the loop's next pass.
  void advance(uint32_t ms) { Mux::test_clock_advance_ms(ms); }
  // Sets the time of day ms later (earlier when negative), as NTP or an operator does; the
  // loop's clock does not move.
  void step_time_of_day(int64_t ms) { Mux::test_clock_step_time_of_day(ms * 1000); }
};

}  // namespace vxtest
