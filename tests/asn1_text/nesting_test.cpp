// Decoders of untrusted input bound the nesting of a recursive type.
#include "asn1/ASN1.h"

#include <gtest/gtest.h>

namespace {

// Nest ::= SEQUENCE { inner Nest OPTIONAL }
class Nest : public ASN1::SEQUENCE {
public:
    static const ASN1::SequenceInfo theInfo;
    explicit Nest(const void* info = &theInfo) : SEQUENCE(info) {}
};
const void* const nestFields[] = {&Nest::theInfo};
const int nestIds[] = {0};
const char* const nestNames[] = {"inner"};
const ASN1::SequenceInfo Nest::theInfo = {{&ASN1::createAs<Nest>, 16}, false, nestFields, nestIds, 1, 0, 1,
                                          nullptr, nullptr, nestNames};

Nest nested(unsigned depth)
{
    Nest top;
    Nest* at = &top;
    for (unsigned i = 1; i < depth; ++i) {
        at->includeOptionalField(0, 0);
        at = static_cast<Nest*>(at->getField(0));
    }
    return top;
}

bool roundTrip(int rule, const Nest& value)
{
    const ASN1::CoderEnv env(rule);
    std::vector<char> bytes;
    if (!ASN1::encode(value, &env, std::back_inserter(bytes)))
        return false;
    Nest back;
    return ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, back) && back.compare(value) == 0;
}

}  // namespace

TEST(Nesting, DeepRecursionFailsCleanly)
{
    for (int rule : {ASN1::CoderEnv::ber, ASN1::CoderEnv::avn}) {
        EXPECT_TRUE(roundTrip(rule, nested(20))) << rule;
        EXPECT_FALSE(roundTrip(rule, nested(1000))) << rule;
    }
}
