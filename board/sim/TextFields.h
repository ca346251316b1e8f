#pragma once
// The fields of the simulator's command lines: whole numbers and bytes written as hexadecimal.
// The lines are untrusted; a field that does not parse gives nothing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "board/sim/BoardState.h"

namespace board::sim {

// A decimal or 0x-prefixed hexadecimal integer within [lo, hi].
std::optional<int64_t> number(std::string_view t, int64_t lo, int64_t hi);
// "yes" or "1", "no" or "0".
std::optional<bool> yes_no(std::string_view t);
// An error number by its name ("EIO"), as a number, or "none" for 0.
std::optional<int> errno_number(std::string_view t);
// Bytes written as pairs of hexadecimal digits.
std::optional<Bytes> hex(std::string_view t);
// Bytes as pairs of upper-case hexadecimal digits.
std::string to_hex(const Bytes& b);

}  // namespace board::sim
