// Cross-check against aligned PER vectors made by an independent codec (Erlang/OTP asn1,
// tools/erlang/gen_per_vectors.escript): every vector must decode to the value built here,
// and that value must encode to the same octets.
#include "tests/asn1/PerTestUtil.h"
#include "tests/asn1/ProbeSchema.h"
#include "tests/support/Asn1Vectors.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

using namespace Probe;
using asn1test::decodePer;
using asn1test::per;

namespace {

std::unique_ptr<Numbers> numbers(const int* seq, unsigned small, unsigned byte, unsigned word,
                                 unsigned slot, unsigned big, int neg, int wide)
{
    auto v = std::make_unique<Numbers>();
    if (seq) {
        v->includeOptionalField(0, 0);
        v->field<ASN1::INTEGER>(0) = *seq;
    }
    v->field<Range<0, 7>>(1) = small;
    v->field<Range<0, 255>>(2) = byte;
    v->field<Range<0, 65535>>(3) = word;
    v->field<Range<0, 1023>>(4) = slot;
    v->field<Range<0, 4294967295u>>(5) = big;
    v->field<Range<-128, 127>>(6).setValue(neg);
    v->field<Range<5, 5>>(7) = 5u;
    v->field<Range<-100000, 100000>>(8).setValue(wide);
    return v;
}

struct TextValues {
    std::string octets, name, code, digits, label;
    std::wstring wide;
    std::vector<bool> bits;
    const char* when;
    std::vector<unsigned> oid;
};

std::unique_ptr<Texts> texts(const TextValues& t)
{
    auto v = std::make_unique<Texts>();
    v->field<ASN1::OCTET_STRING>(0) = t.octets;
    v->field<ASN1::IA5String>(1) = t.name;
    v->field<ASN1::IA5String>(2) = t.code;
    v->field<ASN1::NumericString>(3) = t.digits;
    v->field<ASN1::PrintableString>(4) = t.label;
    v->field<ASN1::BMPString>(5) = t.wide;
    auto& bits = v->field<ASN1::BIT_STRING>(6);
    bits.resize(static_cast<unsigned>(t.bits.size()));
    for (unsigned i = 0; i < t.bits.size(); ++i)
        bits.set(i, t.bits[i]);
    v->field<ASN1::GeneralizedTime>(7).set(t.when);
    v->field<ASN1::OBJECT_IDENTIFIER>(8).arcs() = t.oid;
    return v;
}

std::unique_ptr<Lists> lists(const std::vector<int>& ints, const std::vector<bool>& few,
                             const std::vector<std::string>& names)
{
    auto v = std::make_unique<Lists>();
    for (int i : ints)
        v->get_ints().push_back(ASN1::INTEGER(i));
    for (bool b : few)
        v->get_few().push_back(ASN1::BOOLEAN(b, &ASN1::BOOLEAN::theInfo));
    for (const auto& n : names)
        v->get_names().push_back(ASN1::IA5String(n));
    return v;
}

std::unique_ptr<Message> message(const Inner* inner, int pickId, ASN1::AbstractData* pick, int extId,
                                 ASN1::AbstractData* ext)
{
    auto v = std::make_unique<Message>();
    v->field<ASN1::BOOLEAN>(Message::flag) = true;
    v->field<Colour>(Message::colour).setValue(Colour::blue);
    v->field<Level>(Message::level).setValue(Level::mid);
    if (inner) {
        v->includeOptionalField(0, Message::inner);
        v->field<Inner>(Message::inner) = *inner;
    }
    v->field<Pick>(Message::pick).setSelection(pickId, pick);
    v->field<ExtPick>(Message::ext).setSelection(extId, ext);
    return v;
}

// Extension additions of Message: presence indexes follow its one optional root field.
void addAdded1(Message& m, int value)
{
    m.includeOptionalField(1, Message::added1);
    m.field<ASN1::INTEGER>(Message::added1) = value;
}

void addAdded2(Message& m, const std::string& value)
{
    m.includeOptionalField(2, Message::added2);
    m.field<ASN1::IA5String>(Message::added2) = value;
}

std::vector<bool> bitsOf(unsigned long long v, unsigned n)
{
    std::vector<bool> b;
    for (unsigned i = 0; i < n; ++i)
        b.push_back((v >> (n - 1 - i)) & 1);
    return b;
}

std::map<std::string, std::function<std::unique_ptr<ASN1::AbstractData>()>> expectedValues()
{
    static const int max = 2147483647, m129 = -129, minInt = -2147483647 - 1, i128 = 128;
    std::map<std::string, std::function<std::unique_ptr<ASN1::AbstractData>()>> cases;
    cases["numbers-min"] = [] { return numbers(nullptr, 0, 0, 0, 0, 0, -128, -100000); };
    cases["numbers-max"] = [] { return numbers(&max, 7, 255, 65535, 1023, 4294967295u, 127, 100000); };
    cases["numbers-mid"] = [] { return numbers(&m129, 5, 128, 256, 700, 65536, -1, 0); };
    cases["numbers-edge"] = [] { return numbers(&minInt, 1, 127, 255, 512, 256, 0, 65536); };
    cases["numbers-small"] = [] { return numbers(&i128, 2, 1, 1, 1, 16777216, 64, -1); };
    cases["texts-empty"] = [] {
        return texts({"", "", "aa", "", "", L"", {}, "20240131235959Z", {1, 2}});
    };
    cases["texts-short"] = [] {
        return texts({"\xA5", "hi", "ab", "0 9", "Ab:z", L"\u263A" L"A", bitsOf(0x161, 9),
                      "20240131235959.005Z", {1, 2, 840, 113549}});
    };
    cases["texts-two"] = [] {
        return texts({std::string("\x01\x02", 2), "\x7f", "z!", "12345678901", "'()+,-./:=?",
                      std::wstring(1, wchar_t(0xFFFF)), bitsOf(0xFFFF, 16), "19991231000000", {2, 5, 4, 3}});
    };
    cases["texts-long"] = [] {
        std::string octets;
        for (int i = 0; i < 200; ++i)
            octets += static_cast<char>(i);
        std::vector<bool> bits = bitsOf(0xDEADBEEFull, 32);
        bits.push_back(true);
        return texts({octets, std::string(130, 'x'), "QQ", std::string(21, '7'), std::string(127, 'P'),
                      L"bbb", bits, "20000229120000-0130", {0, 39, 16383, 16384, 4294967295u}});
    };
    cases["lists"] = [] { return lists({0, -1, 128, 70000}, {true, false, true}, {"a", "bc"}); };
    cases["lists-empty"] = [] { return lists({}, {true}, {}); };
    cases["lists-128"] = [] {
        std::vector<int> ints;
        for (int i = 0; i < 128; ++i)
            ints.push_back(i);
        return lists(ints, {false, false, false, false}, {std::string(128, 'n')});
    };
    cases["message-root"] = [] {
        return message(nullptr, Pick::num, new ASN1::INTEGER(300), ExtPick::a, new Range<0, 255>(200));
    };
    cases["message-inner"] = [] {
        Inner inner(true, 6);
        return message(&inner, Pick::text, new ASN1::IA5String("x"), ExtPick::b,
                       new ASN1::BOOLEAN(true, &ASN1::BOOLEAN::theInfo));
    };
    cases["message-extchoice"] = [] {
        return message(nullptr, Pick::none, new ASN1::Null, ExtPick::c, new ASN1::IA5String("hello"));
    };
    cases["message-extchoice-seq"] = [] {
        Inner inner(false, 7);
        return message(&inner, Pick::num, new ASN1::INTEGER(-5), ExtPick::d, new Inner(true, 1));
    };
    cases["message-added"] = [] {
        auto m = message(nullptr, Pick::num, new ASN1::INTEGER(0), ExtPick::a, new Range<0, 255>(0));
        addAdded1(*m, 1000);
        addAdded2(*m, "zz");
        return m;
    };
    cases["message-added1"] = [] {
        auto m = message(nullptr, Pick::num, new ASN1::INTEGER(0), ExtPick::a, new Range<0, 255>(0));
        addAdded1(*m, -70000);
        addAdded2(*m, "");
        m->removeOptionalField(2);  // the bitmap keeps both known additions
        return m;
    };
    cases["message-added2"] = [] {
        Inner inner(true, 0);
        auto m = message(&inner, Pick::num, new ASN1::INTEGER(1), ExtPick::b,
                         new ASN1::BOOLEAN(false, &ASN1::BOOLEAN::theInfo));
        addAdded2(*m, "q");
        return m;
    };
    return cases;
}

std::unique_ptr<ASN1::AbstractData> emptyOf(const std::string& type)
{
    if (type == "Numbers")
        return std::make_unique<Numbers>();
    if (type == "Texts")
        return std::make_unique<Texts>();
    if (type == "Lists")
        return std::make_unique<Lists>();
    return std::make_unique<Message>();
}

}  // namespace

TEST(PerFixture, IndependentCodecVectorsMatchBothWays)
{
    auto vectors = Asn1Test::readVectors(VX_TEST_SOURCE_DIR "/fixtures/per_vectors.txt");
    auto cases = expectedValues();
    for (const Asn1Test::Vector& v : vectors) {
        SCOPED_TRACE(v.name);
        ASSERT_TRUE(cases.count(v.name));
        auto expected = cases[v.name]();
        EXPECT_EQ(per(*expected), v.hex);
        auto decoded = emptyOf(v.type);
        ASSERT_TRUE(decodePer(v.hex, *decoded));
        EXPECT_EQ(decoded->compare(*expected), 0);
        EXPECT_EQ(per(*decoded), v.hex);
    }
    EXPECT_EQ(vectors.size(), cases.size());
}
