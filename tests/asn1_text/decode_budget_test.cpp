// Every decoder creates at most MaximumDecodeNodes values per decode, so that a short input
// cannot grow into a huge tree; the budget starts afresh with each decode.
#include "TextProbe.h"

#include "asn1/ASN1.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

using namespace TextProbe;

namespace {

class NodeLimit {
public:
    explicit NodeLimit(unsigned n) : saved_(ASN1::MaximumDecodeNodes) { ASN1::MaximumDecodeNodes = n; }
    ~NodeLimit() { ASN1::MaximumDecodeNodes = saved_; }
    NodeLimit(const NodeLimit&) = delete;
    NodeLimit& operator=(const NodeLimit&) = delete;

private:
    unsigned saved_;
};

constexpr unsigned Elements = 50;

Lists longList()
{
    Lists l;
    for (unsigned i = 0; i < Elements; ++i)
        l.ints().push_back(ASN1::INTEGER(static_cast<int>(i)));
    return l;
}

// Decodes the encoding of longList() under env; the decoded list must equal the original.
bool decodesBack(const ASN1::CoderEnv& env)
{
    std::vector<char> bytes;
    EXPECT_TRUE(ASN1::encode(longList(), &env, std::back_inserter(bytes)));
    Lists back;
    return ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &env, back) && back.ints().size() == Elements;
}

bool readsBack()
{
    Lists back;
    return back.setFromValueNotation(longList().asValueNotation()) && back.ints().size() == Elements;
}

}  // namespace

TEST(DecodeBudget, EveryDecoderStopsAtTheLimitAndStartsAfreshEachDecode)
{
    const ASN1::CoderEnv per(ASN1::CoderEnv::per);
    const ASN1::CoderEnv ber(ASN1::CoderEnv::ber);
    {
        NodeLimit limit(Elements / 2);
        EXPECT_FALSE(decodesBack(per));
        EXPECT_FALSE(decodesBack(ber));
        EXPECT_FALSE(readsBack());
    }
    // Room for one list: two decodes in a row both succeed, as each has its own budget.
    NodeLimit limit(Elements + 10);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_TRUE(decodesBack(per));
        EXPECT_TRUE(decodesBack(ber));
        EXPECT_TRUE(readsBack());
    }
}
