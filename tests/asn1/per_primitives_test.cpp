// The building blocks of the aligned PER coder against octets computed by hand from X.691.
#include "asn1/PERDecoder.h"
#include "asn1/PEREncoder.h"
#include "tests/asn1/Codec.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

using Asn1Test::hexBytes;
using Asn1Test::hexText;

namespace {

std::string encoded(const std::function<bool(ASN1::PEREncoder&)>& write)
{
    std::vector<char> out;
    ASN1::PEREncoder enc(out);
    if (!write(enc))
        return "FAIL";
    return hexText(out);
}

struct Whole {
    uint32_t value, lo, hi;
    const char* hexText;  // after one leading 1 bit, so that alignment shows
};

}  // namespace

TEST(PerPrimitives, ConstrainedWholeNumberByRangeClass)
{
    const Whole cases[] = {
        {5, 5, 5, "80"},                            // one value: nothing but the marker bit
        {5, 0, 7, "D0"},                            // 3-bit field, unaligned: 1 101
        {3, 0, 254, "8180"},                        // range 255: 8 bits, unaligned
        {3, 0, 255, "8003"},                        // range 256: one aligned octet
        {256, 0, 256, "800100"},                    // range 257: two aligned octets
        {0x1234, 0, 65535, "801234"},               // range 65536: two aligned octets
        {0, 0, 0xFFFFFFFF, "8000"},                 // big range: octet count in 2 bits, aligned value
        {256, 0, 0xFFFFFFFF, "A00100"},
        {0xFFFFFFFF, 0, 0xFFFFFFFF, "E0FFFFFFFF"},
        {100000, uint32_t(-100000), 100000, "C0030D40"},  // negative lower bound, counted mod 2^32
        {uint32_t(-128), uint32_t(-128), 127, "8000"},
        {127, uint32_t(-128), 127, "80FF"},
    };
    for (const Whole& c : cases) {
        SCOPED_TRACE(c.hexText);
        EXPECT_EQ(encoded([&](ASN1::PEREncoder& e) {
                      e.encodeSingleBit(true);
                      return e.encodeUnsigned(c.value, c.lo, c.hi);
                  }),
                  c.hexText);
        std::vector<char> in = hexBytes(c.hexText);
        ASN1::PERDecoder d(in.data(), in.data() + in.size());
        bool marker = false;
        uint32_t v = 0;
        ASSERT_TRUE(d.decodeSingleBit(marker));
        ASSERT_EQ(d.decodeUnsigned(c.lo, c.hi, v), 0);
        EXPECT_EQ(v, c.value);
    }
    EXPECT_EQ(encoded([](ASN1::PEREncoder& e) { return e.encodeUnsigned(8, 0, 7); }), "FAIL");
    EXPECT_EQ(encoded([](ASN1::PEREncoder& e) { return e.encodeUnsigned(uint32_t(-129), uint32_t(-128), 127); }),
              "FAIL");
}

TEST(PerPrimitives, TruncatedInputFailsInsteadOfDefaulting)
{
    const char one[] = {0x12};
    uint32_t v;
    bool bit;
    EXPECT_EQ(ASN1::PERDecoder(one, one + 1).decodeUnsigned(0, 65535, v), -1);  // needs two octets
    EXPECT_EQ(ASN1::PERDecoder(one, one).decodeUnsigned(0, 0xFFFFFFFF, v), -1);  // not even the octet count
    ASN1::PERDecoder d(one, one + 1);
    EXPECT_FALSE(d.decodeMultiBit(33, v));
    EXPECT_EQ(d.getBitsLeft(), 8u);
    EXPECT_TRUE(d.decodeMultiBit(8, v));
    EXPECT_FALSE(d.decodeSingleBit(bit));
    EXPECT_FALSE(d.decodeMultiBit(1, v));
    EXPECT_EQ(d.decodeUnsigned(0, 7, v), -1);
    EXPECT_EQ(d.decodeUnsigned(3, 3, v), 0);  // a single value needs no input
    EXPECT_EQ(v, 3u);
}

TEST(PerPrimitives, LengthDeterminants)
{
    // Unbounded: one octet up to 127, two up to 16383, and no fragmented form beyond. Upper
    // bound below 64K: a constrained whole number; a single allowed length writes nothing.
    const struct { uint32_t len, lo, hi; const char* hex; } cases[] = {
        {0, 0, 0x7FFFFFFF, "00"},    {1, 0, 0x7FFFFFFF, "01"},       {2, 0, 0x7FFFFFFF, "02"},
        {127, 0, 0x7FFFFFFF, "7F"},  {128, 0, 0x7FFFFFFF, "8080"},   {16383, 0, 0x7FFFFFFF, "BFFF"},
        {16384, 0, 0x7FFFFFFF, "FAIL"}, {5, 0, 7, "A0"}, {5, 0, 65535, "0005"}, {4, 4, 4, ""}, {9, 0, 8, "FAIL"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.len);
        EXPECT_EQ(encoded([&](ASN1::PEREncoder& e) { return e.encodeLength(c.len, c.lo, c.hi); }), c.hex);
        if (std::string(c.hex) == "FAIL" || c.lo == c.hi)
            continue;
        std::vector<char> in = hexBytes(c.hex);
        ASN1::PERDecoder d(in.data(), in.data() + in.size());
        uint32_t got;
        ASSERT_EQ(d.decodeLength(c.lo, c.hi, got), 0);
        EXPECT_EQ(got, c.len);
    }
    std::vector<char> fragmented = hexBytes("C10000");
    ASN1::PERDecoder d(fragmented.data(), fragmented.data() + fragmented.size());
    uint32_t got;
    EXPECT_EQ(d.decodeLength(0, 0x7FFFFFFF, got), -1);
}

TEST(PerPrimitives, NormallySmallNumbers)
{
    const std::pair<uint32_t, const char*> written[] = {{0, "00"}, {63, "7E"}, {64, "800140"}, {300, "8002012C"}};
    for (const auto& w : written)
        EXPECT_EQ(encoded([&w](ASN1::PEREncoder& e) { return e.encodeSmallUnsigned(w.first), true; }), w.second);
    for (uint32_t n : {0u, 1u, 63u, 64u, 255u, 256u, 70000u, 0xFFFFFFFFu}) {
        std::vector<char> out;
        ASN1::PEREncoder(out).encodeSmallUnsigned(n);
        ASN1::PERDecoder d(out.data(), out.data() + out.size());
        uint32_t got = 0;
        ASSERT_TRUE(d.decodeSmallUnsigned(got));
        EXPECT_EQ(got, n);
    }
}

TEST(PerPrimitives, UnconstrainedIntegers)
{
    const std::pair<int, const char*> cases[] = {
        {0, "0100"},     {127, "017F"},   {128, "020080"},         {-1, "01FF"},
        {-128, "0180"},  {-129, "02FF7F"}, {INT_MAX, "047FFFFFFF"}, {INT_MIN, "0480000000"}};
    for (auto [value, text] : cases) {
        SCOPED_TRACE(text);
        ASN1::INTEGER v(value);
        EXPECT_EQ(asn1test::hexOf(v), text);
        ASN1::INTEGER back;
        ASSERT_TRUE(asn1test::decodeHex(text, back));
        EXPECT_EQ(back.getValue(), value);
    }
    ASN1::INTEGER v;
    EXPECT_FALSE(asn1test::decodeHex("050000000001", v));  // more than 4 octets
    EXPECT_FALSE(asn1test::decodeHex("00", v));            // no octets at all
    EXPECT_FALSE(asn1test::decodeHex("0200", v));          // cut short
}

TEST(PerPrimitives, AlignmentPoints)
{
    // A block aligns; an empty block neither aligns nor writes. Aligned reads are in the vectors.
    EXPECT_EQ(encoded([](ASN1::PEREncoder& e) {
                  e.encodeSingleBit(true);
                  e.encodeBlock("AB", 2);
                  return true;
              }),
              "804142");
    EXPECT_EQ(encoded([](ASN1::PEREncoder& e) {
                  e.encodeSingleBit(true);
                  e.encodeBlock("", 0);
                  e.encodeSingleBit(true);
                  return true;
              }),
              "C0");
}
