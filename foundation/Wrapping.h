#pragma once
// Arithmetic on 32-bit numbers a peer chose: defined for every value, wrapping modulo 2^32 as
// the board's two's complement arithmetic does, so that no value the wire carries is undefined.
#include <cstdint>

inline int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

inline int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
