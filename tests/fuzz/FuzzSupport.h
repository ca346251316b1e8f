// What the fuzz targets share: the input as characters or length-prefixed chunks, a selector
// octet that picks a case, a quiet run on a still clock, and invariants that abort so that the
// fuzzer reports and keeps the input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <span>
#include <string_view>

#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "foundation/Packet.h"
#include "hardware/HDLC.h"

namespace fuzz {

inline std::string_view text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The case the selector octet picks, cycling through the table.
template <class T, size_t N>
const T& pick(const T (&cases)[N], uint8_t selector) {
  return cases[selector % N];
}

inline void require(bool holds) {
  if (!holds) std::abort();
}

template <class List, class T>
bool has(const List& list, const T& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

// Sends the standard streams nowhere: a long run must not grow.
inline void quiet() {
  struct Null : std::streambuf {
    int overflow(int c) override { return c; }
  };
  static Null sink;
  std::cout.rdbuf(&sink);
  std::cerr.rdbuf(&sink);
  std::clog.rdbuf(&sink);
}

// Quiet, and the loop's clock moves only when the target advances it.
inline void quiet_still_clock() {
  quiet();
  Mux::test_clock_set(1'700'000'000ull * 1'000'000ull);
}

// Calls each(chunk) for every [length][bytes] chunk, a length beyond the input cut to what is
// left, until each returns false.
template <class Each>
void for_each_chunk(const uint8_t* data, size_t size, Each each) {
  for (size_t n; size > 0; data += 1 + n, size -= 1 + n) {
    n = std::min<size_t>(data[0], size - 1);
    if (!each(std::span<const uint8_t>(data + 1, n))) return;
  }
}

// A received frame holding the octets, with room in front for what a layer adds.
inline Packet packet(std::span<const uint8_t> octets, unsigned head = 8) {
  Packet p;
  p.reserve_head(head);
  if (!octets.empty()) std::memcpy(p.put(static_cast<unsigned>(octets.size())), octets.data(), octets.size());
  return p;
}

// Reads every octet a layer delivers, so that a length beyond the data shows under the
// sanitizers.
inline volatile unsigned touched;
inline void touch(const uint8_t* data, size_t size) {
  unsigned sum = 0;
  for (size_t i = 0; i < size; ++i) sum += data[i];
  touched = sum;
}

// The channel a link sends on: it takes frames unless full.
struct Channel : GenericHDLC {
  bool full = false;
  bool hdlc_transmit(Packet&) override { return !full; }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !full; }
};

// Moves the clock and runs what fell due.
inline void advance_ms(uint32_t ms) {
  Mux::test_clock_advance_ms(ms);
  multiplexer.run_once(0);
}

}  // namespace fuzz
