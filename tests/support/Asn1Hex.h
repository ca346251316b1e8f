// Hexadecimal text to octets and back, for the ASN.1 test vectors.
#pragma once

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
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<char>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

// Upper-case hex digits, two per octet.
inline std::string hexText(const std::vector<char>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char b : bytes) {
        out += digits[(static_cast<unsigned char>(b) >> 4)];
        out += digits[static_cast<unsigned char>(b) & 15];
    }
    return out;
}

}  // namespace Asn1Test
