#include "monitoring/TrapValues.h"

#include <time.h>

#include <cstdlib>
#include <cstring>

uint32_t get_uptime() {
  // CLOCK_BOOTTIME is the clock behind the system's uptime: it only moves forwards and keeps
  // counting while the system is suspended. Whole seconds and hundredths come from the same
  // reading, so the value cannot step back when the seconds roll over.
  timespec now{};
  if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ticks = static_cast<uint64_t>(now.tv_sec) * 100u + static_cast<uint64_t>(now.tv_nsec) / 10000000u;
  return static_cast<uint32_t>(ticks);
}

int parse_oid(uint32_t* out, int capacity, const char* text) {
  if (out == nullptr || text == nullptr || capacity <= 0) return 0;
  char work[128] = {};
  std::strncpy(work, text, sizeof work - 1);
  int count = 0;
  char* rest = nullptr;
  for (char* piece = strtok_r(work, ".", &rest); piece != nullptr && count < capacity;
       piece = strtok_r(nullptr, ".", &rest)) {
    // Sub-identifiers are unsigned 32-bit; a 64-bit conversion reads all of them the same way on
    // 32- and 64-bit hosts (a long would clamp the upper half on the board).
    out[count++] = static_cast<uint32_t>(std::strtoll(piece, nullptr, 10));
  }
  return count;
}
