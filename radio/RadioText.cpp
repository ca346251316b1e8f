#include "radio/RadioText.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>

namespace RTPSignalling {

std::string DottedText(uint32_t network_order) {
  in_addr a{};
  a.s_addr = network_order;
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::string DecimalText(float value) {
  char text[64];  // the largest float takes 39 digits before the point
  std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(value));
  return text;
}

float ParseDecimal(const std::string& text) { return std::strtof(text.c_str(), nullptr); }

std::string IA5Text(const char* bytes, size_t size) {
  std::string out;
  for (size_t i = 0; i < size && bytes[i] != 0; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    out.push_back(c > 0x7F ? '?' : static_cast<char>(c));
  }
  return out;
}

}  // namespace RTPSignalling
