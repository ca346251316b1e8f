// Cross-check against aligned PER vectors made by an independent codec (Erlang/OTP asn1,
// tools/erlang/gen_per_vectors.escript) and their reviewed value-notation texts
// (golden/per_vectors.avn): every vector decodes to a value that prints as its text and
// encodes back to the same octets, and the text read back encodes to them too.
#include "tests/asn1/Codec.h"
#include "tests/asn1/ProbeSchema.h"
#include "tests/asn1_text/Golden.h"
#include "tests/support/Asn1Vectors.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

using asn1test::decodeHex;
using asn1test::hexOf;

namespace {

const std::map<std::string, const void*> records = {{"Numbers", &Probe::Numbers::theInfo},
                                                    {"Texts", &Probe::Texts::theInfo},
                                                    {"Lists", &Probe::Lists::theInfo},
                                                    {"Message", &Probe::Message::theInfo}};

}  // namespace

TEST(PerFixture, IndependentCodecVectorsMatchBothWays)
{
    const auto vectors = Asn1Test::readVectors(VX_TEST_SOURCE_DIR "/fixtures/per_vectors.txt");
    ASSERT_EQ(vectors.size(), 19u);
    auto texts = golden::read("per_vectors.avn");
    std::vector<std::pair<std::string, std::string>> written;
    for (const Asn1Test::Vector& v : vectors) {
        SCOPED_TRACE(v.name);
        std::unique_ptr<ASN1::AbstractData> fromWire(ASN1::createFrom(records.at(v.type)));
        std::unique_ptr<ASN1::AbstractData> fromText(ASN1::createFrom(records.at(v.type)));
        ASSERT_TRUE(decodeHex(v.hex, *fromWire));
        EXPECT_EQ(hexOf(*fromWire), v.hex);
        written.emplace_back(v.name, fromWire->asValueNotation());
        if (golden::updating())
            continue;
        ASSERT_TRUE(fromText->setFromValueNotation(texts[v.name]));
        EXPECT_EQ(fromText->compare(*fromWire), 0);
        if (v.name != "message-added1")  // its bitmap also holds the cleared bit of added2, which no text says
            EXPECT_EQ(hexOf(*fromText), v.hex);
    }
    golden::check("per_vectors.avn", written);
}
