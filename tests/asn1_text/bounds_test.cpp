// Every decoder of untrusted input bounds what one decode builds, so that a short input cannot
// grow into a huge or deep tree.
#include "TextProbe.h"

#include "asn1/ASN1.h"

#include <gtest/gtest.h>

#include <iterator>
#include <vector>

using namespace TextProbe;

namespace {

const int allRules[] = {ASN1::CoderEnv::per, ASN1::CoderEnv::ber, ASN1::CoderEnv::avn};

template <class T>
bool roundTrip(int rule, const T& value)
{
    const ASN1::CoderEnv env(rule);
    std::vector<char> bytes;
    T back;
    return ASN1::encode(value, &env, std::back_inserter(bytes)) &&
           ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, back) && back.compare(value) == 0;
}

// Nest ::= SEQUENCE { inner Nest OPTIONAL }: on the PER wire every 1 bit is one more level.
struct Nest : ASN1::SEQUENCE {
    static const ASN1::SequenceInfo theInfo;
    explicit Nest(const void* info = &theInfo) : SEQUENCE(info) {}
};
const void* const nestFields[] = {&Nest::theInfo};
constexpr int nestIds[] = {0};
const char* const nestNames[] = {"inner"};
const ASN1::SequenceInfo Nest::theInfo = Asn1Test::sequenceRecord<Nest>(nestFields, nestIds, nestNames);

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

}  // namespace

TEST(DecodeBounds, NodeBudgetStopsEveryDecoderAndStartsAfreshEachDecode)
{
    Lists list;
    for (int i = 0; i < 50; ++i)
        list.ints().push_back(ASN1::INTEGER(i));
    const unsigned saved = ASN1::MaximumDecodeNodes;
    ASN1::MaximumDecodeNodes = 25;
    for (int rule : allRules)
        EXPECT_FALSE(roundTrip(rule, list)) << rule;
    ASN1::MaximumDecodeNodes = 60;  // room for one list: each of two decodes in a row has its own budget
    for (int round = 0; round < 2; ++round)
        for (int rule : allRules)
            EXPECT_TRUE(roundTrip(rule, list)) << rule;
    ASN1::MaximumDecodeNodes = saved;
}

TEST(DecodeBounds, DeepNestingFailsCleanly)
{
    for (int rule : allRules) {
        EXPECT_TRUE(roundTrip(rule, nested(20))) << rule;
        EXPECT_FALSE(roundTrip(rule, nested(1000))) << rule;
    }
    // A whole frame of 1 bits would nest half a million levels deep.
    const std::vector<char> ones(65531, '\xFF');
    const ASN1::CoderEnv per(ASN1::CoderEnv::per);
    Nest deep;
    EXPECT_FALSE(ASN1::decode(ones.data(), ones.data() + ones.size(), &per, deep));
}
