#pragma once
// The text forms the radio controllers exchange with the control link: IPv4 addresses as
// dotted quads (read by INet4::ParseAddress), frequencies and qualities as "%4.6f" decimals,
// caller identities as IA5 text.
#include <cstddef>
#include <cstdint>
#include <string>

namespace RTPSignalling {

// An address in network order as "a.b.c.d".
std::string DottedText(uint32_t network_order);
std::string DecimalText(float value);
// 0.0 when the text holds no number.
float ParseDecimal(const std::string& text);
// The identity bytes up to the first zero (at most `size`), each byte outside IA5 (above 0x7F)
// replaced by '?', so that a radio's odd byte never makes the whole report unsendable.
std::string IA5Text(const char* bytes, size_t size);

}  // namespace RTPSignalling
