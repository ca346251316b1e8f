#pragma once
// Minimum, maximum, last value and count of durations in microseconds, as the event loop
// keeps them for its DPC calls, handler calls and timer firings.
#include <cstdint>
#include <iosfwd>

struct Measure {
  uint32_t min = 0;
  uint32_t max = 0;
  uint32_t cur = 0;
  bool first = true;
  uint32_t start = 0;
  uint32_t counter = 0;

  constexpr Measure() = default;

  void begin();
  // Ends the measurement begun last and returns its duration.
  uint32_t end();
  // The same with a time already read (Mux::microseconds()): back-to-back measurements share
  // one clock read, the end of one being the begin of the next.
  void begin_at(uint32_t now_us) { start = now_us; }
  uint32_t end_at(uint32_t now_us);
  // "min=.. max=.. avg=.. counter=.." (avg is the last duration: no mean is kept).
  void put(std::ostream& os) const;
};

std::ostream& operator<<(std::ostream& os, const Measure& m);
