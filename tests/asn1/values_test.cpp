// The value model: shared helpers, primitive values, constructed values and their ownership,
// name tables, and the constraint checkers.
#include "asn1/ASN1.h"
#include "tests/asn1/ProbeSchema.h"

#include <gtest/gtest.h>

using ASN1::FixedConstraint;

namespace {

// {a INTEGER, b BOOLEAN OPTIONAL, c INTEGER, ..., x1, x2, x3, x4}
const void* const optFields[] = {&ASN1::INTEGER::theInfo, &ASN1::BOOLEAN::theInfo, &ASN1::INTEGER::theInfo,
                                 &ASN1::INTEGER::theInfo, &ASN1::INTEGER::theInfo, &ASN1::INTEGER::theInfo,
                                 &ASN1::INTEGER::theInfo};
constexpr int optIds[] = {-1, 0, -1};
const char* const optNames[] = {"a", "b", "c", "x1", "x2", "x3", "x4"};
constinit const ASN1::SequenceInfo optInfo = Asn1Test::sequenceRecord<ASN1::SEQUENCE>(optFields, optIds, optNames, true);

const void* const nullAlts[] = {&ASN1::Null::theInfo, nullptr, &ASN1::INTEGER::theInfo, &ASN1::INTEGER::theInfo};
const char* const nullAltNames[] = {"n", "missing", "i", "j"};
constinit const ASN1::ChoiceInfo choiceInfo = Asn1Test::choiceRecord<ASN1::CHOICE>(nullAlts, nullAltNames, true, 3);

// Names tables with "=N" texts, values named twice, and gaps.
const char* const standbyNames[] = {"not-use=-1", "active", "standby"};
constinit const ASN1::EnumeratedInfo standbyInfo = {{&ASN1::createAs<ASN1::ENUMERATED>, 10}, false, 1, standbyNames, 3};
const char* const msgIdNames[] = {"gw-ping", "gw-get-id=4097", "gw-set-id", "dli-set-id=8192", "alias=4098"};
constinit const ASN1::EnumeratedInfo msgIdInfo = {{&ASN1::createAs<ASN1::ENUMERATED>, 10}, true, 8192, msgIdNames, 5};
const char* const causeNames[] = {"invalidParams", "insufficientResources", "invalidSlot", "slotNotExists",
                                  "unexpectedMsgType", "internal", "unsupported", "reconnectionFail",
                                  "disconnectFail", "connectFail", "busError", "slotIdBusy", "destroyInProgress"};
constinit const ASN1::EnumeratedInfo causeInfo = {{&ASN1::createAs<ASN1::ENUMERATED>, 10}, true, 12, causeNames, 13};

}  // namespace

TEST(Values, SharedHelpers)
{
    const std::pair<unsigned, unsigned> bits[] = {{0, 32}, {1, 0}, {2, 1}, {3, 2}, {4, 2}, {5, 3},
                                                  {256, 8}, {257, 9}, {0x80000001u, 32}};
    for (auto [n, b] : bits)
        EXPECT_EQ(ASN1::CountBits(n), b) << n;
    const char ab[] = "ab", abc[] = "abc", lo[] = "\x01", hi[] = "\xFF";
    EXPECT_EQ(ASN1::lexicographic_compare_bytes(ab, ab + 2, abc, abc + 3), -1);
    EXPECT_EQ(ASN1::lexicographic_compare_bytes(abc, abc + 3, ab, ab + 2), 1);
    EXPECT_EQ(ASN1::lexicographic_compare_bytes(ab, ab, abc, abc), 0);
    EXPECT_LT(ASN1::lexicographic_compare_bytes(lo, lo + 1, hi, hi + 1), 0);
}

TEST(Values, EnumeratedNamesAreLookedUpByValue)
{
    // Values past the table, below 0, in a gap, named twice (the first text wins), "=N" texts.
    const struct { const ASN1::EnumeratedInfo* info; int value; const char* name; } byValue[] = {
        {&causeInfo, 12, "destroyInProgress"}, {&causeInfo, 13, ""},      {&causeInfo, -1, ""},
        {&standbyInfo, -1, "not-use"},          {&standbyInfo, 1, "standby"}, {&standbyInfo, 2, ""},
        {&msgIdInfo, 4098, "gw-set-id"},        {&msgIdInfo, 3, ""}};
    for (const auto& r : byValue) {
        ASN1::ENUMERATED e(r.info);
        e.setValue(r.value);
        EXPECT_EQ(e.getName(), r.name) << r.value;
    }
    const struct { const ASN1::EnumeratedInfo* info; const char* name; int value; } byName[] = {
        {&causeInfo, "slotIdBusy", 11}, {&msgIdInfo, "dli-set-id", 8192}, {&msgIdInfo, "alias", 4098}};
    for (const auto& r : byName) {
        ASN1::ENUMERATED e(r.info);
        EXPECT_TRUE(e.setFromName(r.name));
        EXPECT_EQ(e.getValue(), r.value) << r.name;
    }
    ASN1::ENUMERATED cause(&causeInfo);
    EXPECT_FALSE(cause.setFromName("nope"));
    EXPECT_EQ(cause.getValue(), 13);
}

TEST(Values, GeneralizedTimeText)
{
    ASN1::GeneralizedTime t;
    t.set("20240131235959Z");
    EXPECT_TRUE(t.utc);
    EXPECT_EQ(t.millisec, 0);
    t.set("20240131235959.5");
    EXPECT_EQ(t.millisec, 500);
    ASN1::GeneralizedTime u(2024, 1, 31, 23, 59, 59, 5, 0, true);
    EXPECT_EQ(u.get(), "20240131235959.005Z");
    ASN1::GeneralizedTime offset(2024, 1, 31, 23, 59, 59, 0, 120, false);
    EXPECT_EQ(offset.get(), "20240131235959+0200");
    ASN1::GeneralizedTime plain(2024, 1, 31, 23, 59, 59, 0, 0, false);
    EXPECT_EQ(plain.get(), "20240131235959");
    ASN1::GeneralizedTime back("20000229120000-0130");
    EXPECT_EQ(back.mindiff, -90);  // the offset is kept in minutes and written back
    EXPECT_EQ(back.get(), "20000229120000-0130");
    ASN1::GeneralizedTime epoch;
    epoch.set_time_t(86400 + 3661);
    EXPECT_EQ(epoch.get(), "19700102010101");
    ASN1::GeneralizedTime cut;
    cut.set("2024");  // fields the text lacks keep their values
    EXPECT_EQ(cut.year, 2024);
    EXPECT_EQ(cut.month, 1);
}

TEST(Values, BitStringsAndBitMaps)
{
    ASN1::BIT_STRING a, b;
    a.resize(12);
    b.resize(16);
    EXPECT_EQ(b.getData().size(), 2u);
    EXPECT_LT(a.compare(b), 0);
    a.set(0);
    EXPECT_GT(a.compare(b), 0);
    a.resize(1);
    a.resize(12);  // bits cut off by shrinking do not come back
    EXPECT_TRUE(a[0]);
    EXPECT_FALSE(a[7]);

    ASN1::SEQUENCE::BitMap map;
    map.resize(9);
    map.set(8);
    EXPECT_EQ(map.data()[1], 0x80);  // bit 8 is the top bit of the second byte
    EXPECT_TRUE(map.any());
    map.set(9);  // beyond the size: ignored
    EXPECT_FALSE(map[9]);
    // Growing past the inline bits and shrinking back keeps the bits that remain.
    map.resize(200);
    map.set(199);
    EXPECT_TRUE(map[8] && map[199]);
    map.resize(9);
    EXPECT_TRUE(map[8]);
    map.resize(200);
    EXPECT_FALSE(map[199]);
    map.resize(8);
    map.resize(9);
    EXPECT_FALSE(map[8]);
}

TEST(Values, SequenceOptionalAndExtensionFields)
{
    ASN1::SEQUENCE s(&optInfo);
    EXPECT_NE(s.getField(0), nullptr);
    EXPECT_EQ(s.getField(1), nullptr);
    EXPECT_NE(s.getField(2), nullptr);
    EXPECT_FALSE(s.hasOptionalField(0));
    s.includeOptionalField(0, 1);
    ASSERT_NE(s.getField(1), nullptr);
    s.field<ASN1::BOOLEAN>(1) = true;
    s.removeOptionalField(0);
    EXPECT_FALSE(s.hasOptionalField(0));
    s.includeOptionalField(0, 1);  // the old value is found again
    EXPECT_TRUE(s.field<ASN1::BOOLEAN>(1).getValue());

    // Presence index 1 is extension bit 0; index 4 grows the map to 4 bits.
    EXPECT_EQ(s.extensionMap().size(), 0u);
    s.includeOptionalField(4, 3 + 3);
    EXPECT_EQ(s.extensionMap().size(), 4u);
    EXPECT_TRUE(s.hasOptionalField(4));
    EXPECT_FALSE(s.hasOptionalField(1));

    ASN1::SEQUENCE t(s);
    EXPECT_EQ(t.compare(s), 0);
    t.removeOptionalField(0);
    EXPECT_EQ(s.compare(t), 1);  // the side holding the field sorts after
    EXPECT_EQ(t.compare(s), -1);
}

TEST(Values, ChoiceSelection)
{
    ASN1::CHOICE c(&choiceInfo);
    EXPECT_EQ(c.getID(), -1);
    EXPECT_FALSE(c.createSelection());
    EXPECT_EQ(c.getID(), -2);
    c.setID(4);  // equal to the number of alternatives
    EXPECT_FALSE(c.createSelection());
    c.setID(1);  // an alternative without a record
    EXPECT_FALSE(c.createSelection());
    EXPECT_EQ(c.getSelection(), nullptr);
    c.setID(2);
    ASSERT_TRUE(c.createSelection());
    EXPECT_EQ(c.selection<ASN1::INTEGER>().getValue(), 0);

    ASN1::CHOICE one(&choiceInfo, 0, new ASN1::Null);
    ASN1::CHOICE three(&choiceInfo, 3, new ASN1::INTEGER(1));
    ASN1::CHOICE none(&choiceInfo);
    EXPECT_LT(one.compare(three), 0);
    EXPECT_LT(none.compare(one), 0);
    ASN1::CHOICE copy(three);
    EXPECT_EQ(copy.compare(three), 0);
    EXPECT_NE(copy.getSelection(), three.getSelection());  // deep copy
}

TEST(Values, OpenDataOrder)
{
    ASN1::OpenData withValue, withBytes, empty, empty2;
    withValue.grab(new ASN1::INTEGER(1));
    const char one[] = {1};
    withBytes.set_buf(one, one + 1);
    EXPECT_EQ(withValue.compare(withBytes), 1);
    EXPECT_EQ(withBytes.compare(withValue), -1);
    EXPECT_EQ(empty.compare(empty2), 0);
}

TEST(Values, ClonesKeepTheSchemaClass)
{
    // Values built from a schema record, cloned or copied into lists, are objects of the
    // schema class, so the typed accessors' downcasts are sound.
    Probe::Message m;
    m.includeOptionalField(0, Probe::Message::inner);
    EXPECT_NE(dynamic_cast<Probe::Inner*>(m.getField(Probe::Message::inner)), nullptr);
    std::unique_ptr<ASN1::AbstractData> copy(m.clone());
    EXPECT_NE(dynamic_cast<Probe::Message*>(copy.get()), nullptr);
    EXPECT_EQ(copy->compare(m), 0);
    ASN1::SEQUENCE_OF<Probe::Inner> inners;
    inners.push_back(Probe::Inner(true, 3));
    EXPECT_NE(dynamic_cast<Probe::Inner*>(&inners.at(0)), nullptr);
    EXPECT_EQ(inners[0].get_count().getValue(), 3u);
}
