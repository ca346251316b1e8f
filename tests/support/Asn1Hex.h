// Hexadecimal text to octets and back, for the ASN.1 test vectors.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace Asn1Test {

// Octets of the hex digits in text; other characters (blanks) are skipped, and an unpaired
// last digit is dropped.
inline std::vector<char> hexBytes(const std::string& text)
{
    std::vector<char> out;
    int high = -1;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            continue;
        int v = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        if (high < 0)
            high = v;
        else
            out.push_back(static_cast<char>(high * 16 + v)), high = -1;
    }
    return out;
}

// Upper-case hex digits, two per octet.
inline std::string hexText(const std::vector<char>& bytes)
{
    std::string out;
    for (char b : bytes) {
        out += "0123456789ABCDEF"[(static_cast<unsigned char>(b) >> 4)];
        out += "0123456789ABCDEF"[b & 15];
    }
    return out;
}

}  // namespace Asn1Test
