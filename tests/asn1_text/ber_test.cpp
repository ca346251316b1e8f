#include "Golden.h"
#include "TextProbe.h"
#include "tests/asn1/Codec.h"
#include "tests/support/Asn1Hex.h"

#include "asn1/ASN1.h"
#include "asn1/BERDecoder.h"
#include "asn1/DataLengthCounter.h"

#include <gtest/gtest.h>

#include <memory>

using namespace TextProbe;

namespace {

const ASN1::CoderEnv berEnv(ASN1::CoderEnv::ber);

std::string berOf(const ASN1::AbstractData& v) { return asn1test::hexOf(v, ASN1::CoderEnv::ber); }
bool decodeHex(const std::string& h, ASN1::AbstractData& v)
{
    return asn1test::decodeHex(h, v, ASN1::CoderEnv::ber, false);
}

}  // namespace

TEST(Ber, IndependentVectorsDecodeAndReencodeExactly)
{
    golden::checkVectors("ber_vectors.txt", "ber_vectors.avn", ASN1::CoderEnv::ber, 14,
                         {{"Numbers", &Numbers::theInfo},
                          {"Texts", &Texts::theInfo},
                          {"Lists", &Lists::theInfo},
                          {"Message", &Message::theInfo},
                          {"Pick", &Pick::theInfo}});
}

// Integers, bit strings and long lengths are in the reference vectors; this is the length counter.
TEST(Ber, LongLengthsAreCounted)
{
    ASN1::OCTET_STRING big(256, 'x');
    std::string enc = berOf(big);
    EXPECT_EQ(enc.substr(0, 8), "04820100");
    EXPECT_EQ(ASN1::getDataLength(big), 256u);
    EXPECT_EQ(ASN1::getObjectLength(big, ASN1::contextTag(40)), 2u + 3u + 256u);
}

// Tags up to [31] are in the reference vectors; [200] needs two groups: 0x9F 0x81 0x48.
TEST(Ber, HighTagNumberHeader)
{
    std::vector<char> in = Asn1Test::hexBytes("9F814800");
    ASN1::BERDecoder dec(in.data(), in.data() + in.size());
    uint32_t tag, len;
    bool primitive;
    ASSERT_TRUE(dec.decodeHeader(tag, primitive, len));
    EXPECT_EQ(tag, ASN1::contextTag(200));
    EXPECT_EQ(len, 0u);
}

TEST(Ber, EncodingFailuresWriteNothing)
{
    Pick unset;
    std::vector<char> out{'k'};
    EXPECT_FALSE(ASN1::encode(unset, &berEnv, std::back_inserter(out)));
    ASN1::OpenData nothing;
    EXPECT_FALSE(ASN1::encode(nothing, &berEnv, std::back_inserter(out)));
    Message m;  // pick and wide unselected
    EXPECT_FALSE(ASN1::encode(m, &berEnv, std::back_inserter(out)));
    EXPECT_EQ(out, std::vector<char>{'k'});
}

namespace {

// Carrier ::= SEQUENCE { open <open type>, typed <open type constrained to INTEGER> }
const ASN1::OpenInfo typedOpen = {{&ASN1::createAs<ASN1::TypeConstrainedOpenData>, 0}, &ASN1::INTEGER::theInfo};
const void* const carrierFields[] = {&ASN1::OpenData::theInfo, &typedOpen};
const int carrierIds[] = {-1, -1};
const char* const carrierNames[] = {"open", "typed"};
const ASN1::SequenceInfo carrierInfo = {{&ASN1::createAs<ASN1::SEQUENCE>, 16}, false, carrierFields, carrierIds,
                                        2, 0, 0, nullptr, nullptr, carrierNames};

}  // namespace

// Open types in a SEQUENCE are explicitly tagged; the untyped one keeps the carried encoding
// until a value is given to decode it into.
TEST(Ber, OpenTypeFieldsAreExplicitlyTaggedAndKeepTheirOctets)
{
    ASN1::SEQUENCE carrier(&carrierInfo);
    carrier.field<ASN1::OpenData>(0).grab(new ASN1::INTEGER(5));
    static_cast<ASN1::INTEGER*>(carrier.field<ASN1::OpenData>(1).get_data())->setValue(-2);
    EXPECT_EQ(berOf(carrier), "300AA003020105A1030201FE");

    ASN1::SEQUENCE back(&carrierInfo);
    ASSERT_TRUE(decodeHex("300AA003020105A1030201FE", back));
    ASN1::OpenData& open = back.field<ASN1::OpenData>(0);
    ASSERT_TRUE(open.has_buf());
    EXPECT_EQ(Asn1Test::hexText(*open.get_buf()), "020105");
    EXPECT_EQ(static_cast<ASN1::INTEGER*>(back.field<ASN1::OpenData>(1).get_data())->getValue(), -2);
    EXPECT_EQ(berOf(back), "300AA003020105A1030201FE");
    open.grab(new ASN1::INTEGER);
    ASN1::BERDecoder revisit(nullptr, nullptr);
    ASSERT_TRUE(revisit.do_revisit(open));
    EXPECT_EQ(static_cast<ASN1::INTEGER*>(open.get_data())->getValue(), 5);
}

// Untrusted octets: every malformed input fails cleanly.
TEST(Ber, MalformedInputFails)
{
    const struct { const char* what; const void* record; const char* hex; } cases[] = {
        {"five length octets", &ASN1::INTEGER::theInfo, "02850000000001 05"},
        {"length past the input", &ASN1::OCTET_STRING::theInfo, "040A0102"},
        {"indefinite length", &Inner::theInfo, "3080800100810101 0000"},
        {"tag number beyond 16 bits", &Wide::theInfo, "9F8480800100"},
        {"tag number groups never end", &Wide::theInfo, "9F8080808080"},
        {"header cut short", &ASN1::INTEGER::theInfo, "02"},
        {"boolean of two octets", &ASN1::BOOLEAN::theInfo, "0102FFFF"},
        {"integer of no octet", &ASN1::INTEGER::theInfo, "0200"},
        {"integer of five octets", &ASN1::INTEGER::theInfo, "02050080000000"},
        {"unsigned range, five octets without a leading zero", &Range<0, 4294967295u>::theInfo, "02050180000000"},
        {"enumerated of no octet", &Colour::theInfo, "0A00"},
        {"bit string without unused-bits octet", &ASN1::BIT_STRING::theInfo, "0300"},
        {"bit string with 8 unused bits", &ASN1::BIT_STRING::theInfo, "030208FF"},
        {"empty bit string with unused bits", &ASN1::BIT_STRING::theInfo, "030103"},
        {"odd BMPString", &ASN1::BMPString::theInfo, "1E03004100"},
        {"object identifier beyond 32 bits", &ASN1::OBJECT_IDENTIFIER::theInfo, "06062A9080808000"},
        {"time text too short", &ASN1::GeneralizedTime::theInfo, "1804323032343031"},
        {"time text with trailing bytes", &ASN1::GeneralizedTime::theInfo, "181032303234303133313233353935395A58"},
        {"wrong universal tag", &ASN1::INTEGER::theInfo, "0101FF"},
        {"missing mandatory field", &Inner::theInfo, "3003800100"},
        {"mandatory field with a wrong tag", &Inner::theInfo, "3006800100820101"},
        {"field longer than its sequence", &Inner::theInfo, "3004800100810101"},
        {"alternative beyond the choice", &Pick::theInfo, "8500"},
        {"universal tag for a choice", &Pick::theInfo, "0500"},
        {"sequence of past the input", &Lists::theInfo, "3008A00A020101"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<ASN1::AbstractData> v(ASN1::createFrom(c.record));
        EXPECT_FALSE(decodeHex(c.hex, *v)) << c.what;
    }
}

TEST(Ber, StringsAndListsAreCapped)
{
    const unsigned saved = ASN1::MaximumStringSize;
    ASN1::MaximumStringSize = 4;
    ASN1::OCTET_STRING s;
    EXPECT_TRUE(decodeHex("040401020304", s));
    EXPECT_FALSE(decodeHex("04050102030405", s));
    ASN1::MaximumStringSize = saved;

    auto listOf = [](unsigned n) {
        std::string elements;
        for (unsigned i = 0; i < n; ++i)
            elements += "020101";
        std::vector<char> e = Asn1Test::hexBytes(elements);
        std::string len = e.size() < 128 ? Asn1Test::hexText({char(e.size())})
                                         : "82" + Asn1Test::hexText({char(e.size() >> 8), char(e.size())});
        return "30" + len + elements;
    };
    ASN1::SEQUENCE_OF<ASN1::INTEGER> list;
    ASSERT_TRUE(decodeHex(listOf(ASN1::MaximumArraySize), list));
    EXPECT_EQ(list.size(), ASN1::MaximumArraySize);
    EXPECT_FALSE(decodeHex(listOf(ASN1::MaximumArraySize + 1), list));
}

TEST(Ber, OptionalFieldsAndUnknownAdditions)
{
    // Optional root fields absent, then an addition this schema does not know ([9]) that is
    // skipped.
    Message m;
    ASSERT_TRUE(decodeHex("300DA2028000A3028000A400890107", m));
    EXPECT_FALSE(m.hasOptionalField(0));
    EXPECT_FALSE(m.hasOptionalField(1));
    EXPECT_FALSE(m.hasOptionalField(2));
    EXPECT_EQ(berOf(m), "300AA2028000A3028000A400");
}
