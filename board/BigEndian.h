#pragma once
// Integers stored as big-endian byte images, so that a driver record is the same bytes on the
// board (big-endian) and on a development host, and no field is ever read in host order.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace board {

template <typename T>
class BigEndian {
  static_assert(std::is_integral_v<T>, "integers only; floats go through BigEndianFloat");

 public:
  constexpr BigEndian() = default;
  constexpr BigEndian(T v) { set(v); }  // NOLINT: implicit, so records read like plain structs
  constexpr BigEndian& operator=(T v) { set(v); return *this; }
  constexpr operator T() const { return get(); }

  constexpr T get() const {
    using U = std::make_unsigned_t<T>;
    U v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v = static_cast<U>((v << 8) | bytes_[i]);
    return static_cast<T>(v);
  }
  constexpr void set(T value) {
    using U = std::make_unsigned_t<T>;
    U v = static_cast<U>(value);
    for (std::size_t i = sizeof(T); i-- > 0;) {
      bytes_[i] = static_cast<uint8_t>(v & 0xFF);
      v = static_cast<U>(v >> 8);
    }
  }

 private:
  uint8_t bytes_[sizeof(T)] = {};
};

// A 32-bit IEEE float carried as a big-endian word.
class BigEndianFloat {
 public:
  BigEndianFloat() = default;
  BigEndianFloat(float v) : bits_(std::bit_cast<uint32_t>(v)) {}  // NOLINT
  operator float() const { return std::bit_cast<float>(bits_.get()); }
  uint32_t bits() const { return bits_.get(); }

 private:
  BigEndian<uint32_t> bits_;
};

using be_u32 = BigEndian<uint32_t>;
using be_i32 = BigEndian<int32_t>;
using be_u16 = BigEndian<uint16_t>;
using be_i16 = BigEndian<int16_t>;
using be_f32 = BigEndianFloat;

static_assert(sizeof(be_u32) == 4 && alignof(be_u32) == 1);
static_assert(sizeof(be_u16) == 2 && alignof(be_u16) == 1);
static_assert(sizeof(be_f32) == 4 && alignof(be_f32) == 1);

// The request number's size field (bits 16 to 28): the length of the record behind the pointer.
constexpr std::size_t request_size(uint32_t request) { return (request >> 16) & 0x1FFF; }

}  // namespace board
