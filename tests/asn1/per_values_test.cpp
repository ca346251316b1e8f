// Aligned PER of whole values: each kind against octets computed by hand, the places where
// this coder deliberately differs from X.691, and the decoder's behaviour on hostile input.
#include "asn1/PERDecoder.h"
#include "tests/asn1/Codec.h"
#include "tests/asn1/ProbeSchema.h"

#include <gtest/gtest.h>

using asn1test::decodeHex;
using asn1test::hexOf;
using ASN1::FixedConstraint;

namespace {

// The control message's shape: {seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pdu}.
const void* const pduAlts[] = {&ASN1::BOOLEAN::theInfo, &ASN1::Null::theInfo, &ASN1::INTEGER::theInfo};
const char* const pduNames[] = {"command", "response", "signal"};
constinit const ASN1::ChoiceInfo pduInfo = Asn1Test::choiceRecord<ASN1::CHOICE>(pduAlts, pduNames);
using Slot = ASN1::Constrained_INTEGER<FixedConstraint, 0, 1023u>;
const void* const msgFields[] = {&ASN1::INTEGER::theInfo, &Slot::theInfo, &pduInfo};
constexpr int msgIds[] = {0, 1, -1};
const char* const msgNames[] = {"seq", "slot", "pdu"};
constinit const ASN1::SequenceInfo msgInfo = Asn1Test::sequenceRecord<ASN1::SEQUENCE>(msgFields, msgIds, msgNames);

// CHOICE with a single root alternative and no extension marker.
const void* const oneAlt[] = {&ASN1::BOOLEAN::theInfo};
const char* const oneName[] = {"x"};
constinit const ASN1::ChoiceInfo oneInfo = Asn1Test::choiceRecord<ASN1::CHOICE>(oneAlt, oneName);

// {flag BOOLEAN, octets OCTET STRING (SIZE (0..7)), label PrintableString (SIZE (1..2))}
constinit const ASN1::ConstrainedInfo smallOctetsInfo = {{&ASN1::createAs<ASN1::OCTET_STRING>, 4}, FixedConstraint, 0, 7};
constinit const ASN1::StringInfo shortLabelInfo = {
    {{&ASN1::createAs<ASN1::PrintableString>, 19}, FixedConstraint, 1, 2}, ASN1::PrintableStringSet, 74, 7, 7, 8};
const void* const smallFields[] = {&ASN1::BOOLEAN::theInfo, &smallOctetsInfo, &shortLabelInfo};
constexpr int smallIds[] = {-1, -1, -1};
const char* const smallNames[] = {"flag", "octets", "label"};
constinit const ASN1::SequenceInfo smallInfo = Asn1Test::sequenceRecord<ASN1::SEQUENCE>(smallFields, smallIds, smallNames);

// {flag BOOLEAN, wide BMPString (SIZE (1))}
constinit const ASN1::BMPStringInfo oneWideInfo = {{{&ASN1::createAs<ASN1::BMPString>, 30}, FixedConstraint, 1, 1}, 0, 0xFFFF, 16, 16};
const void* const wideFields[] = {&ASN1::BOOLEAN::theInfo, &oneWideInfo};
const char* const wideNames[] = {"flag", "wide"};
constexpr int wideIds[] = {-1, -1};
constinit const ASN1::SequenceInfo wideInfo = Asn1Test::sequenceRecord<ASN1::SEQUENCE>(wideFields, wideIds, wideNames);

// Open types.
constinit const ASN1::OpenInfo nullHolderInfo = {{&ASN1::createAs<ASN1::TypeConstrainedOpenData>, 0}, &ASN1::Null::theInfo};
constinit const ASN1::OpenInfo intHolderInfo = {{&ASN1::createAs<ASN1::TypeConstrainedOpenData>, 0}, &ASN1::INTEGER::theInfo};

std::string repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

}  // namespace

TEST(PerValues, ControlMessageShape)
{
    ASN1::SEQUENCE m(&msgInfo);
    m.includeOptionalField(1, 1);
    m.field<Slot>(1) = 5u;
    m.field<ASN1::CHOICE>(2).setSelection(1, new ASN1::Null);
    // Two optional bits (01), slot in two aligned octets, the pdu index in 2 bits.
    EXPECT_EQ(hexOf(m), "40000540");

    // Slot numbers above 1023 arrive as they are; the server checks them itself.
    ASN1::SEQUENCE d(&msgInfo);
    ASSERT_TRUE(decodeHex("4007D040", d));
    ASSERT_TRUE(d.hasOptionalField(1));
    EXPECT_EQ(d.field<Slot>(1).getValue(), 2000u);
    EXPECT_FALSE(d.hasOptionalField(0));
    EXPECT_EQ(d.field<ASN1::CHOICE>(2).getID(), 1);
}

TEST(PerValues, ChoiceIndexes)
{
    ASN1::CHOICE one(&oneInfo, 0, new ASN1::BOOLEAN(true, &ASN1::BOOLEAN::theInfo));
    EXPECT_EQ(hexOf(one), "80");  // no index bits at all

    // Three root alternatives in 2 bits: the pattern 11 names none of them.
    ASN1::CHOICE c(&pduInfo);
    EXPECT_FALSE(decodeHex("C0", c));

    // Extensible CHOICE (known alternatives are in the vectors): unknown alternative.
    Probe::ExtPick back;
    EXPECT_FALSE(decodeHex("82016869", back));  // addition 2 is unknown here
    EXPECT_EQ(back.getID(), ASN1::CHOICE::unknownSelection_);
    EXPECT_FALSE(decodeHex("800502", back));    // open type longer than the frame
}

TEST(PerValues, ExtensionAlternativeIsReadWithinItsOwnOctets)
{
    // The open type says 1 octet, but the IA5String inside claims 5 characters: the decoder
    // must not read on into the octets that follow.
    Probe::ExtPick e;
    EXPECT_FALSE(decodeHex("800105686868686868", e));
    // A longer open type than its content needs is skipped to its end.
    Probe::Message m;
    ASSERT_TRUE(decodeHex("3140012C80050268690000", m));
    EXPECT_EQ(m.field<Probe::ExtPick>(Probe::Message::ext).selection<ASN1::IA5String>(), "hi");
}

TEST(PerValues, EnumeratedRootAndBeyond)
{
    Probe::Colour colour;
    colour.setValue(Probe::Colour::blue);
    EXPECT_EQ(hexOf(colour), "80");
    colour.setValue(3);
    EXPECT_EQ(hexOf(colour), "FAIL");

    Probe::Level level;
    level.setValue(1);
    EXPECT_EQ(hexOf(level), "20");  // bit 0, then 2 bits
    // Beyond the root: bit 1, small number value + 1, then the value in 0..value.
    level.setValue(5);
    EXPECT_EQ(hexOf(level), "86A0");
    Probe::Level back;
    ASSERT_TRUE(decodeHex("86A0", back));
    EXPECT_EQ(back.getValue(), 5);
    EXPECT_TRUE(back.isValid());
    EXPECT_FALSE(back.isStrictlyValid());
    // A failed extension form is a failed decode, not a root value read from elsewhere.
    EXPECT_FALSE(decodeHex("80", back));  // small number 0
    EXPECT_FALSE(decodeHex("83", back));  // value missing
    EXPECT_FALSE(decodeHex("", back));

    // The largest value beyond the root goes both ways; 2^31 and 2^32 - 2 in the same form are
    // values the encoder cannot write, and refused rather than read as negative.
    level.setValue(INT32_MAX);
    EXPECT_EQ(hexOf(level), "C00480000000C07FFFFFFF");
    ASSERT_TRUE(decodeHex("C00480000000C07FFFFFFF", back));
    EXPECT_EQ(back.getValue(), INT32_MAX);
    back.setValue(1);
    EXPECT_FALSE(decodeHex("C00480000001C080000000", back));
    EXPECT_FALSE(decodeHex("C004FFFFFFFFC0FFFFFFFE", back));
}

TEST(PerValues, ShortStringsTravelUnaligned)
{
    // OCTET STRING of 1 or 2 octets is written as 8-bit fields without alignment, and so
    // are characters when the upper size bound times the character width fits 16 bits.
    ASN1::SEQUENCE s(&smallInfo);
    s.field<ASN1::BOOLEAN>(0) = true;
    s.field<ASN1::OCTET_STRING>(1) = std::string("\xFF");
    s.field<ASN1::PrintableString>(2) = "A";
    EXPECT_EQ(hexOf(s), "9FF208");  // 1, 001, FF, then length bit 0 and 'A' in 8 bits
    ASN1::SEQUENCE back(&smallInfo);
    ASSERT_TRUE(decodeHex("9FF208", back));
    EXPECT_EQ(back.compare(s), 0);
    s.field<ASN1::OCTET_STRING>(1) = std::string("abc");
    EXPECT_EQ(hexOf(s), "B0616263" "2080");  // three octets: an aligned block
    s.field<ASN1::PrintableString>(2) = "*";  // not a PrintableString character
    EXPECT_EQ(hexOf(s), "FAIL");
    // A single 16-bit character: no length, no alignment.
    ASN1::SEQUENCE w(&wideInfo);
    w.field<ASN1::BOOLEAN>(0) = true;
    w.field<ASN1::BMPString>(1) = L"A";
    EXPECT_EQ(hexOf(w), "802080");
    ASN1::SEQUENCE wideBack(&wideInfo);
    ASSERT_TRUE(decodeHex("802080", wideBack));
    EXPECT_EQ(wideBack.compare(w), 0);
}

TEST(PerValues, ExtensibleIntegerRanges)
{
    static constinit const ASN1::ConstrainedInfo negative = {{&ASN1::createAs<ASN1::INTEGER>, 2}, ASN1::ExtendableConstraint, -5, 5};
    static constinit const ASN1::ConstrainedInfo positive = {{&ASN1::createAs<ASN1::INTEGER>, 2}, ASN1::ExtendableConstraint, 3, 10};
    // In the root: bit 0 and the offset (4 or 3 bits); outside it: bit 1 and an unconstrained integer.
    const struct { const ASN1::ConstrainedInfo* info; int value; const char* hex; } rows[] = {
        {&negative, -5, "00"}, {&negative, 5, "50"}, {&negative, 6, "800106"}, {&negative, -6, "8001FA"},
        {&positive, 3, "00"},  {&positive, 10, "70"}, {&positive, 11, "80010B"}, {&positive, 2, "800102"}};
    for (const auto& r : rows) {
        ASN1::INTEGER v(r.value, r.info), back(0, r.info);
        EXPECT_EQ(hexOf(v), r.hex) << r.value;
        ASSERT_TRUE(decodeHex(r.hex, back)) << r.value;
        EXPECT_EQ(back.getValue(), r.value);
    }
}

// A board counter is an unsigned word: 2^31 and above go positive, in five octets, and its
// value notation and comparisons keep the number.
TEST(PerValues, UnsignedWordsTravelWhole)
{
    ASN1::INTEGER v;
    v.setUnsigned(0x80000000u);
    EXPECT_EQ(hexOf(v), "050080000000");
    EXPECT_EQ(v.asValueNotation(), "2147483648");
    EXPECT_NE(v.compare(ASN1::INTEGER(INT32_MIN)), 0);
    v.setUnsigned(0xFFFFFFFFu);
    EXPECT_EQ(hexOf(v), "0500FFFFFFFF");
    v.setUnsigned(0x7FFFFFFFu);
    EXPECT_EQ(hexOf(v), "047FFFFFFF");
    EXPECT_EQ(v.compare(ASN1::INTEGER(INT32_MAX)), 0);
}

TEST(PerValues, StringsAndBits)
{
    ASN1::IA5String text("hello");
    EXPECT_EQ(hexOf(text), "0568656C6C6F");  // length and the octets as they are

    ASN1::BIT_STRING bits;
    bits.resize(16);
    bits.set(0);
    bits.set(15);
    EXPECT_EQ(hexOf(bits), "108001");
    bits.resize(17);
    bits.set(16);
    EXPECT_EQ(hexOf(bits), "11800180");
    ASN1::BIT_STRING back;
    ASSERT_TRUE(decodeHex("11800180", back));
    EXPECT_EQ(back.compare(bits), 0);
    EXPECT_FALSE(decodeHex("1180", back));  // fewer bits than announced
    bits.getData().resize(1);  // octets cut behind the value's back: refused, not over-read
    EXPECT_EQ(hexOf(bits), "FAIL");
    EXPECT_FALSE(bits[16]);

    ASN1::OCTET_STRING octets;
    EXPECT_FALSE(decodeHex("0541", octets));  // block cut short
}

TEST(PerValues, LengthLimitsOfBothSides)
{
    Probe::Lists lists;
    lists.get_few().push_back(ASN1::BOOLEAN(true, &ASN1::BOOLEAN::theInfo));
    for (int i = 0; i < 128; ++i)
        lists.get_ints().push_back(ASN1::INTEGER(i));
    EXPECT_NE(hexOf(lists), "FAIL");
    lists.get_ints().push_back(ASN1::INTEGER(128));
    EXPECT_EQ(hexOf(lists), "FAIL");  // more elements than any decoder accepts

    // 129 integers announced: refused before anything is built.
    Probe::Lists back;
    EXPECT_FALSE(decodeHex("8081", back));
    EXPECT_EQ(back.get_ints().size(), 0u);
    // Three announced, two present: the failing element is removed, the good ones stay.
    ASSERT_FALSE(decodeHex("030101010201", back));
    EXPECT_EQ(back.get_ints().size(), 2u);
    EXPECT_EQ(back.get_ints()[1].getValue(), 2);
}

TEST(PerValues, OpenTypes)
{
    ASN1::TypeConstrainedOpenData holder(&nullHolderInfo);
    EXPECT_EQ(hexOf(holder), "0100");  // empty encoding becomes one zero octet
    ASN1::TypeConstrainedOpenData number(&intHolderInfo);
    *static_cast<ASN1::INTEGER*>(number.get_data()) = 300;
    EXPECT_EQ(hexOf(number), "0302012C");
    ASN1::TypeConstrainedOpenData back(&intHolderInfo);
    ASSERT_TRUE(decodeHex("0302012C", back));
    EXPECT_EQ(static_cast<ASN1::INTEGER*>(back.get_data())->getValue(), 300);
    EXPECT_FALSE(decodeHex("0105012C", back));  // inner value runs past its octets

    // A plain open type keeps its octets, and re-encodes them unchanged.
    ASN1::OpenData open;
    ASSERT_TRUE(decodeHex("0302012C", open));
    ASSERT_TRUE(open.has_buf());
    EXPECT_FALSE(open.has_data());
    EXPECT_EQ(hexOf(open), "0302012C");
    // Decoding the kept octets later fills the value the caller put there.
    open.grab(new ASN1::INTEGER);
    ASN1::PERDecoder later(nullptr, nullptr);
    ASSERT_TRUE(later.do_revisit(open));
    EXPECT_EQ(static_cast<ASN1::INTEGER*>(open.get_data())->getValue(), 300);
    ASN1::OpenData empty;
    EXPECT_FALSE(decodeHex("00", empty));  // an open type is never empty
    EXPECT_FALSE(later.do_revisit(empty));
    EXPECT_EQ(hexOf(empty), "0100");
}

TEST(PerValues, SequenceExtensions)
{
    Probe::Message m;
    m.field<Probe::Pick>(Probe::Message::pick).setSelection(Probe::Pick::none, new ASN1::Null);
    m.field<Probe::ExtPick>(Probe::Message::ext).setSelection(Probe::ExtPick::b, new ASN1::BOOLEAN(true, &ASN1::BOOLEAN::theInfo));
    // Extension bit 0, no extension part: 0, 0, 0, 00, 0 00, 00, 0 1 1.
    const std::string root = hexOf(m);
    EXPECT_EQ(root, "0018");
    // Including then removing an addition leaves a clear bitmap: still no extension part.
    m.includeOptionalField(1, Probe::Message::added1);
    m.removeOptionalField(1);
    EXPECT_EQ(hexOf(m), root);
    // A presence bit beyond the known additions has no value to send: refused.
    Probe::Message unknown(m);
    unknown.includeOptionalField(1 + 2, 0);
    EXPECT_EQ(hexOf(unknown), "FAIL");

    // Four additions on the wire, of which this schema knows two; the unknown ones are
    // skipped, and the decoded value keeps only what it can encode again.
    Probe::Message d;
    // Bitmap 1101 after the small number 3; then the open types of additions 0, 1 and 3.
    const std::string wire = "80183D" "0201FF" "03026161" "03AABBCC";
    ASSERT_TRUE(decodeHex(wire, d));
    EXPECT_EQ(d.extensionMap().size(), 2u);
    EXPECT_EQ(d.field<ASN1::INTEGER>(Probe::Message::added1).getValue(), -1);
    EXPECT_EQ(d.field<ASN1::IA5String>(Probe::Message::added2), "aa");
    Probe::Message again;
    ASSERT_TRUE(decodeHex(hexOf(d), again));
    EXPECT_EQ(again.compare(d), 0);
    EXPECT_EQ(hexOf(d), "80181C" "0201FF" "03026161");

    // An unknown addition whose octets run past the frame fails.
    EXPECT_FALSE(decodeHex("801831" "05AABB", d));
    // A bitmap of more than 128 bits is refused.
    EXPECT_FALSE(decodeHex("801C0180" + repeat("FF", 17), d));
    // A known addition is read inside its own octets.
    EXPECT_FALSE(decodeHex("801808" "01" "05" "0102030405", d));
}

TEST(PerValues, RoundTripsOfTheProbeTypes)
{
    Probe::Message m;
    ASSERT_TRUE(m.setFromValueNotation("{ flag TRUE, colour red, level low, inner { flag FALSE, count 3 }, "
                                       "pick text : \"abc\", ext d : { flag TRUE, count 5 }, nul NULL, added2 \"tail\" }"));
    const std::string wire = hexOf(m);
    ASSERT_NE(wire, "FAIL");
    Probe::Message back;
    ASSERT_TRUE(decodeHex(wire, back));
    EXPECT_EQ(back.compare(m), 0);
    EXPECT_EQ(hexOf(back), wire);
    // Decoding into a value that already holds data gives the same result.
    ASSERT_TRUE(decodeHex(wire, back));
    EXPECT_EQ(back.compare(m), 0);
    // Every shorter prefix fails cleanly.
    for (size_t n = 0; n + 2 <= wire.size(); n += 2) {
        Probe::Message cut;
        EXPECT_FALSE(decodeHex(wire.substr(0, n), cut)) << n;
    }
}
