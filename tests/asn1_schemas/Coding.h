// Aligned-PER encode and decode helpers of the schema tests, and hex text of their octets.
#pragma once

#include "asn1/CoderEnv.h"
#include "tests/support/Asn1Hex.h"

#include <string>
#include <vector>

namespace coding {

inline std::vector<char> encode(const ASN1::AbstractData& value, bool* ok = nullptr)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    std::vector<char> out;
    bool done = ASN1::encode(value, &env, std::back_inserter(out));
    if (ok)
        *ok = done;
    return out;
}

inline bool decode(const std::vector<char>& bytes, ASN1::AbstractData& value)
{
    ASN1::CoderEnv env(ASN1::CoderEnv::per);
    return ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, value, true);
}

using Asn1Test::hexText;

}  // namespace coding
