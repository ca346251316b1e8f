// Converts control messages between ASN.1 value notation and their PER octets, for the
// end-to-end tests that need messages the Python harness does not build by hand. One request
// per line on the standard input, one answer line on the standard output:
//   encode <value notation of an LGCP::Message>  ->  <hex octets>   (or "error")
//   decode <hex octets>                           ->  <value notation on one line> (or "error")
#include <iostream>
#include <iterator>
#include <string>

#include "asn1/CoderEnv.h"
#include "asn1/schemas/LGCP.h"

namespace {

const ASN1::CoderEnv& per() {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
  return env;
}

std::string one_line(const std::string& text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    const bool space = c == '\n' || c == ' ' || c == '\t' || c == '\r';
    if (space && blank) continue;
    out += space ? ' ' : c;
    blank = space;
  }
  return out;
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    const auto space = line.find(' ');
    const std::string verb = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    LGCP::Message m;
    if (verb == "encode" && m.setFromValueNotation(arg)) {
      std::string bytes;
      if (ASN1::encode(m, &per(), std::back_inserter(bytes))) {
        static const char* digits = "0123456789abcdef";
        std::string hex;
        for (unsigned char c : bytes) hex += {digits[c >> 4], digits[c & 15]};
        std::cout << hex << std::endl;
        continue;
      }
    } else if (verb == "decode" && arg.size() % 2 == 0) {
      std::string bytes;
      for (size_t i = 0; i + 1 < arg.size(); i += 2) bytes += static_cast<char>(std::stoi(arg.substr(i, 2), nullptr, 16));
      if (ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &per(), m)) {
        std::cout << one_line(m.asValueNotation()) << std::endl;
        continue;
      }
    }
    std::cout << "error" << std::endl;
  }
  return 0;
}
