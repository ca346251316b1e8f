// Helpers of the ASN.1 tests: aligned PER through the public entry points, as hex text.
#pragma once

#include "asn1/ASN1.h"
#include "tests/support/Asn1Hex.h"

#include <iterator>
#include <string>
#include <vector>

namespace asn1test {

// The aligned PER encoding as hex; "FAIL" when the encoder refuses the value.
inline std::string per(const ASN1::AbstractData& value)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    std::vector<char> out;
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return "FAIL";
    return Asn1Test::hexText(out);
}

inline bool decodePer(const std::string& hexText, ASN1::AbstractData& value)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    std::vector<char> in = Asn1Test::hexBytes(hexText);
    return ASN1::decode(in.data(), in.data() + in.size(), &env, value, true);
}

}  // namespace asn1test
