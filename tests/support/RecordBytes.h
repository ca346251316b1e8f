#pragma once
// A driver record as the bytes it occupies, and back: what record layout tests compare.
#include <cstdint>
#include <cstring>
#include <vector>

namespace vxtest {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes bytes_of(const T& record) {
  Bytes v(sizeof(T));
  std::memcpy(v.data(), &record, sizeof(T));
  return v;
}

// v holds at least one whole record.
template <typename T>
T from_bytes(const Bytes& v) {
  T record;
  std::memcpy(static_cast<void*>(&record), v.data(), sizeof(T));
  return record;
}

}  // namespace vxtest
