#include "Golden.h"
#include "TextProbe.h"
#include "tests/support/Asn1Hex.h"

#include "asn1/ASN1.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>

using namespace TextProbe;

// What the independent BER vectors do not show: names beyond the table, nesting, emptiness.
TEST(ValueNotation, GoldenTextsOfTheWritersCorners)
{
    Numbers numbers;
    numbers.field<ASN1::INTEGER>(Numbers::i) = -5;
    numbers.field<Range<0, 4294967295u>>(Numbers::u) = 4294967295u;
    numbers.field<Colour>(Numbers::colour).setValue(7);  // beyond the names: written as a number
    numbers.field<Level>(Numbers::level).setValue(Level::minus);

    Pick nested;
    auto* deep = new Deep;
    deep->setSelection(Deep::a, new ASN1::BOOLEAN(true, &ASN1::BOOLEAN::theInfo));
    nested.setSelection(Pick::deeper, deep);

    Lists emptyLists;
    ASN1::SEQUENCE_OF<ASN1::INTEGER> emptyTop;
    Empty empty;

    ASN1::OpenData kept;
    kept.set_buf(new std::vector<char>{0x02, 0x01, 0x05});

    golden::check("values.avn", {{"numbers", numbers.asValueNotation()},
                                 {"choice-in-choice", nested.asValueNotation()},
                                 {"empty-lists", emptyLists.asValueNotation()},
                                 {"empty-sequence-of", emptyTop.asValueNotation()},
                                 {"empty-sequence", empty.asValueNotation()},
                                 {"open-type-octets", kept.asValueNotation()}});
}

TEST(ValueNotation, StringsFromTheWireCannotForgeLogLines)
{
    ASN1::IA5String s("ok\nFAKE LOG LINE\r\x1b[2J\"q\"");
    std::string text = s.asValueNotation();
    EXPECT_EQ(text, "{\"ok\", {0, 10}, \"FAKE LOG LINE\", {0, 13}, {1, 11}, \"[2J\"\"q\"\"\"}");
    ASN1::IA5String back;
    ASSERT_TRUE(back.setFromValueNotation(text));
    EXPECT_EQ(static_cast<std::string>(back), static_cast<std::string>(s));
}

namespace {

// A value whose reading and writing throw, as a failing allocation or stream would.
class Throwing : public ASN1::Null {
protected:
    bool do_accept(ASN1::Visitor&) override { throw std::runtime_error("read"); }
    bool do_accept(ASN1::ConstVisitor&) const override { throw std::runtime_error("write"); }
};

}  // namespace

TEST(ValueNotation, ExceptionsBecomeStreamStates)
{
    Throwing value;
    std::ostringstream os;
    os << value;
    EXPECT_TRUE(os.fail());
    std::istringstream is("NULL");
    is >> value;
    EXPECT_TRUE(is.fail());
}

TEST(ValueNotation, ReaderAcceptsWhatTheLayoutAllows)
{
    Message m;
    // Optional fields absent, a trailing comma, everything on one line.
    ASSERT_TRUE(m.setFromValueNotation("{pick num : 3, wide a1 : NULL, empty {},}"));
    EXPECT_FALSE(m.hasOptionalField(0));
    EXPECT_EQ(m.get_pick().getID(), Pick::num);
    Numbers n;
    ASSERT_TRUE(n.setFromValueNotation("{ i -1, u 4294967295, s -128, opt 9, colour 7, level minus }"));
    EXPECT_EQ(n.field<Colour>(Numbers::colour).getValue(), 7);
    EXPECT_EQ(n.field<Level>(Numbers::level).getValue(), -1);
    ASN1::OBJECT_IDENTIFIER oid;
    ASSERT_TRUE(oid.setFromValueNotation("{ iso(1) member-body(2) 840 }"));
    EXPECT_EQ(oid.arcs(), (std::vector<unsigned>{1, 2, 840}));
    ASN1::OCTET_STRING odd;
    ASSERT_TRUE(odd.setFromValueNotation("'a b c'H"));  // padded with a 0 digit
    EXPECT_EQ(Asn1Test::hexText(odd), "ABC0");
}

TEST(ValueNotation, ReaderRejectsMalformedText)
{
    const std::pair<const void*, const char*> cases[] = {
        {&Inner::theInfo, "{ count 1 }"},                 // mandatory field missing
        {&Inner::theInfo, "{ count 1, flag TRUE }"},      // fields out of order
        {&Inner::theInfo, "{ flag TRUE, count 1, x 2 }"}, // a field the type lacks
        {&Inner::theInfo, "{ flag TRUE, count 1"},        // cut short
        {&Colour::theInfo, "purple"},
        {&Pick::theInfo, "nothing : NULL"},
        {&ASN1::Null::theInfo, "NUL"},
        {&ASN1::INTEGER::theInfo, "2147483648"},
        {&Range<0, 1023>::theInfo, "-1"},
        {&ASN1::OCTET_STRING::theInfo, "'0g'H"},
        {&ASN1::BIT_STRING::theInfo, "'012'B"},
        {&ASN1::IA5String::theInfo, "\"unterminated"},
        {&ASN1::IA5String::theInfo, "{\"a\", {8, 0}}"},
        {&ASN1::GeneralizedTime::theInfo, "\"20240131235959Zjunk\""},
        {&ASN1::OBJECT_IDENTIFIER::theInfo, "{ 1 2 99999999999 }"},
        {&Lists::theInfo, "{ ints { 1 2 }, inners {}, picks {} }"},
        {&ASN1::OpenData::theInfo, "'00'H"},
        {&ASN1::INTEGER::theInfo, ""},
    };
    for (auto [record, text] : cases) {
        std::unique_ptr<ASN1::AbstractData> v(ASN1::createFrom(record));
        EXPECT_FALSE(v->setFromValueNotation(text)) << text;
    }
}

TEST(ValueNotation, ReaderBoundsWhatItBuilds)
{
    std::string many = "{";
    for (unsigned i = 0; i <= ASN1::MaximumArraySize; ++i)
        many += i ? ", 1" : "1";
    many += "}";
    ASN1::SEQUENCE_OF<ASN1::INTEGER> list;
    EXPECT_FALSE(list.setFromValueNotation(many));

    std::string longText = "\"" + std::string(ASN1::MaximumStringSize + 1, 'x') + "\"";
    ASN1::IA5String s;
    EXPECT_FALSE(s.setFromValueNotation(longText));
    EXPECT_TRUE(s.setFromValueNotation("\"" + std::string(ASN1::MaximumStringSize, 'x') + "\""));
    // The pieces of the list form count together.
    const unsigned saved = ASN1::MaximumStringSize;
    ASN1::MaximumStringSize = 4;
    EXPECT_FALSE(s.setFromValueNotation("{\"abc\", \"de\"}"));
    EXPECT_FALSE(s.setFromValueNotation("{\"abcd\", {0, 10}}"));
    EXPECT_TRUE(s.setFromValueNotation("{\"abc\", {0, 10}}"));
    ASN1::MaximumStringSize = saved;
}
