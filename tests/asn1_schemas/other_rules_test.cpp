// The reference messages of both links through the coders besides PER: the value-notation
// text read back gives the same message, and so does a BER encoding.
#include "ReferenceValues.h"

#include "asn1/CoderEnv.h"

#include <gtest/gtest.h>

#include <iterator>

namespace {

template <class T>
void expectTextAndBerRoundTrips(const std::vector<reference::Named<T>>& refs)
{
    ASSERT_FALSE(refs.empty());
    const ASN1::CoderEnv ber(ASN1::CoderEnv::ber);
    for (const auto& ref : refs) {
        SCOPED_TRACE(ref.name);
        const std::string text = ref.value.asValueNotation();
        T fromText;
        ASSERT_TRUE(fromText.setFromValueNotation(text)) << text;
        EXPECT_TRUE(fromText == ref.value) << text;
        EXPECT_EQ(fromText.asValueNotation(), text);

        std::vector<char> bytes;
        ASSERT_TRUE(ASN1::encode(ref.value, &ber, std::back_inserter(bytes))) << text;
        T fromBer;
        ASSERT_TRUE(ASN1::decode(bytes.data(), bytes.data() + bytes.size(), &ber, fromBer)) << text;
        EXPECT_TRUE(fromBer == ref.value) << text;
    }
}

}  // namespace

TEST(SchemaOtherRules, CommandsAsTextAndBer) { expectTextAndBerRoundTrips(reference::commands()); }
TEST(SchemaOtherRules, AnswersAsTextAndBer) { expectTextAndBerRoundTrips(reference::responses()); }
TEST(SchemaOtherRules, SignalsAsTextAndBer) { expectTextAndBerRoundTrips(reference::signals()); }
TEST(SchemaOtherRules, AgentLinkMessagesAsTextAndBer) { expectTextAndBerRoundTrips(reference::monMessages()); }
