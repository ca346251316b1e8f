// Helpers of the ASN.1 tests: hex text, and aligned PER through the public entry points.
#pragma once

#include "asn1/ASN1.h"

#include <iterator>
#include <string>
#include <vector>

namespace asn1test {

inline std::string hex(const std::vector<char>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (char c : bytes) {
        s += digits[(static_cast<unsigned char>(c) >> 4) & 0xF];
        s += digits[static_cast<unsigned char>(c) & 0xF];
    }
    return s;
}

inline std::vector<char> bytes(const std::string& hexText)
{
    std::vector<char> out;
    for (size_t i = 0; i + 1 < hexText.size(); i += 2)
        out.push_back(static_cast<char>(std::stoul(hexText.substr(i, 2), nullptr, 16)));
    return out;
}

// The aligned PER encoding as hex; "FAIL" when the encoder refuses the value.
inline std::string per(const ASN1::AbstractData& value)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    std::vector<char> out;
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return "FAIL";
    return hex(out);
}

inline bool decodePer(const std::string& hexText, ASN1::AbstractData& value)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    std::vector<char> in = bytes(hexText);
    return ASN1::decode(in.data(), in.data() + in.size(), &env, value, true);
}

}  // namespace asn1test
