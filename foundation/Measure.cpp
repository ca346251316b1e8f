#include "foundation/Measure.h"

#include <ostream>

#include "foundation/Mux.h"

void Measure::begin() { start = Mux::microseconds(); }

uint32_t Measure::end() { return end_at(Mux::microseconds()); }

uint32_t Measure::end_at(uint32_t now_us) {
  uint32_t d = now_us - start;
  if (first) {
    min = max = cur = d;
    counter = 1;
    first = false;
  } else {
    ++counter;
    if (d < min) min = d;
    if (d > max) max = d;
    cur = d;
  }
  return d;
}

void Measure::put(std::ostream& os) const {
  os << "min=" << min << " max=" << max << " avg=" << cur << " counter=" << counter;
}

std::ostream& operator<<(std::ostream& os, const Measure& m) {
  m.put(os);
  return os;
}
