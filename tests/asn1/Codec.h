// Helpers of the ASN.1 tests and fuzz targets: the public coder entry points on hex text
// and on byte vectors, under any encoding rule (aligned PER unless told otherwise).
#pragma once

#include "asn1/ASN1.h"
#include "tests/support/Asn1Hex.h"

#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace asn1test {

inline bool encodeTo(const ASN1::AbstractData& value, std::vector<char>& out, int rule = ASN1::CoderEnv::per)
{
    const ASN1::CoderEnv env(rule);
    return ASN1::encode(value, &env, std::back_inserter(out));
}

inline bool decodeFrom(const char* first, const char* last, ASN1::AbstractData& value,
                       int rule = ASN1::CoderEnv::per, bool defer = true)
{
    const ASN1::CoderEnv env(rule);
    return ASN1::decode(first, last, &env, value, defer);
}

// A fresh value of record decoded from bytes; null when they do not decode.
inline std::unique_ptr<ASN1::AbstractData> decodeNew(const void* record, std::string_view bytes,
                                                     int rule = ASN1::CoderEnv::per, bool defer = true)
{
    std::unique_ptr<ASN1::AbstractData> value(ASN1::createFrom(record));
    if (!decodeFrom(bytes.data(), bytes.data() + bytes.size(), *value, rule, defer))
        value.reset();
    return value;
}

// What the fuzz targets ask of a value decoded from untrusted aligned PER: its encoding, when
// the encoder takes it (a decoded value may hold values above a bound), decodes again to a
// value with the same encoding and, when sameValue, an equal one.
inline bool reencodesStably(const void* record, const ASN1::AbstractData& value, bool sameValue = true)
{
    std::vector<char> once, twice;
    if (!encodeTo(value, once))
        return true;
    auto again = decodeNew(record, {once.data(), once.size()});
    return again && encodeTo(*again, twice) && twice == once && (!sameValue || again->compare(value) == 0);
}

// The encoding as hex; "FAIL" when the encoder refuses the value.
inline std::string hexOf(const ASN1::AbstractData& value, int rule = ASN1::CoderEnv::per)
{
    std::vector<char> out;
    return encodeTo(value, out, rule) ? Asn1Test::hexText(out) : "FAIL";
}

inline bool decodeHex(const std::string& hexText, ASN1::AbstractData& value, int rule = ASN1::CoderEnv::per,
                      bool defer = true)
{
    std::vector<char> in = Asn1Test::hexBytes(hexText);
    return decodeFrom(in.data(), in.data() + in.size(), value, rule, defer);
}

}  // namespace asn1test
