#include "board/sim/TextFields.h"

#include <charconv>
#include <cstring>

namespace board::sim {

// A decimal or 0x-prefixed hexadecimal integer within [lo, hi].
std::optional<int64_t> number(std::string_view t, int64_t lo, int64_t hi) {
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.remove_prefix(1);
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    t.remove_prefix(2);
    base = 16;
  }
  uint64_t v = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || v > (uint64_t{1} << 62)) return std::nullopt;
  int64_t s = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  if (s < lo || s > hi) return std::nullopt;
  return s;
}

std::optional<bool> yes_no(std::string_view t) {
  if (t == "yes" || t == "1") return true;
  if (t == "no" || t == "0") return false;
  return std::nullopt;
}

std::optional<int> errno_number(std::string_view t) {
  if (t == "none") return 0;
  for (int e = 1; e < 134; ++e) {
    const char* name = strerrorname_np(e);
    if (name && t == name) return e;
  }
  auto v = number(t, 0, 4095);
  if (!v) return std::nullopt;
  return static_cast<int>(*v);
}

std::optional<Bytes> hex(std::string_view t) {
  if (t.size() % 2) return std::nullopt;
  Bytes out;
  out.reserve(t.size() / 2);
  for (size_t i = 0; i < t.size(); i += 2) {
    uint8_t b = 0;
    auto [end, ec] = std::from_chars(t.data() + i, t.data() + i + 2, b, 16);
    if (ec != std::errc() || end != t.data() + i + 2) return std::nullopt;
    out.push_back(b);
  }
  return out;
}

std::string to_hex(const Bytes& b) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(b.size() * 2);
  for (uint8_t c : b) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

}  // namespace board::sim
