// What the fuzz targets share: the input as characters, a selector octet that picks one of a
// target's cases, and invariants that abort so that the fuzzer reports and keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace fuzz {

inline std::string_view text(const uint8_t* data, size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// The case the selector octet picks, cycling through the table.
template <class T, size_t N>
const T& pick(const T (&cases)[N], uint8_t selector)
{
    return cases[selector % N];
}

inline void require(bool holds)
{
    if (!holds)
        std::abort();
}

}  // namespace fuzz
