// The trap packer's message layout octet by octet, the order of calls it enforces, and each
// value type as the encoder gives it on any word size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "monitoring/TrapPacker.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes message(const trap_buffer& b) { return Bytes(b.packet, b.packet + b.length); }

// The message of an empty trap with the community "vormel" and the id 991873 (seed 0), up to
// and including the variable-binding list header; `list` is the list's length.
Bytes empty_trap_prefix(uint16_t list) {
  const unsigned pdu = 15 + list, all = 3 + 8 + 4 + pdu;
  return {0x30, 0x82, uint8_t(all >> 8), uint8_t(all), 0x02, 0x01, 0x01,
          0x04, 0x06, 'v',  'o',  'r',  'm',  'e',  'l',
          0xA7, 0x82, uint8_t(pdu >> 8), uint8_t(pdu), 0x02, 0x03, 0x0F, 0x22, 0x81,
          0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30, 0x82, uint8_t(list >> 8), uint8_t(list)};
}

class TrapPacker : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&b, 0xA5, sizeof b);  // nothing may depend on what the record held before
    snmp_session_seed(&b, 0);
    ASSERT_EQ(trap_init(&b, nullptr), 0);
    ASSERT_EQ(trap_pack_begin(&b), 0);
  }

  // The one binding's encoding: the message minus the empty trap's prefix.
  Bytes only_binding() {
    EXPECT_EQ(trap_pack_end(&b), 0);
    const Bytes all = message(b);
    const Bytes prefix = empty_trap_prefix(uint16_t(all.size() - 34));
    EXPECT_EQ(Bytes(all.begin(), all.begin() + 34), prefix);
    return Bytes(all.begin() + 34, all.end());
  }

  int add(unsigned char type, const void* value, uint32_t length) { return trap_pack_add(&b, name, 2, type, value, length); }

  trap_buffer b;
  const uint32_t name[2] = {1, 3};  // encodes as 06 01 2b
};

// A binding of the name 1.3 and the given value TLV.
Bytes binding(Bytes value) {
  Bytes out = {0x30, 0x82, 0x00, uint8_t(3 + value.size()), 0x06, 0x01, 0x2B};
  for (uint8_t v : value) out.push_back(v);
  return out;
}

TEST_F(TrapPacker, AnEndedTrapWithoutBindingsIsAWholeMessage) {
  ASSERT_EQ(trap_pack_end(&b), 0);
  EXPECT_EQ(message(b), empty_trap_prefix(0));
  EXPECT_EQ(b.state, trap_ended);
  EXPECT_EQ(b.remaining, 2048u - 34u);
}

TEST_F(TrapPacker, CallsOutOfOrderAreRefused) {
  EXPECT_EQ(trap_pack_begin(&b), -1);  // twice
  trap_buffer fresh;
  trap_init(&fresh, nullptr);
  const uint32_t v = 1;
  EXPECT_EQ(trap_pack_add(&fresh, name, 2, 0x02, &v, 4), -1);  // before begin
  EXPECT_EQ(trap_pack_end(&fresh), -1);
  ASSERT_EQ(trap_pack_end(&b), 0);
  EXPECT_EQ(add(0x02, &v, 4), -1);  // after end
  EXPECT_EQ(trap_pack_end(&b), -1);
}

TEST_F(TrapPacker, CommunityComesFromTheSettingsCutTo31Characters) {
  EXPECT_STREQ(b.community, "vormel");
  trap_settings s{};
  std::strcpy(s.community, "0123456789012345678901234567890123456789");
  trap_init(&b, &s);
  EXPECT_EQ(std::string(b.community), std::string(s.community, 31));
  ASSERT_EQ(trap_pack_begin(&b), 0);
  ASSERT_EQ(trap_pack_end(&b), 0);
  EXPECT_EQ(b.packet[7], 0x04);
  EXPECT_EQ(b.packet[8], 31);
  EXPECT_EQ(std::memcmp(b.packet + 9, s.community, 31), 0);
}

TEST_F(TrapPacker, EachInitTakesTheNextOddRequestId) {
  EXPECT_EQ(b.request_id, 991873);
  snmp_session_seed(&b, -5);  // any seed, negative ones included
  uint32_t expect = uint32_t(-5);
  for (int i = 0; i < 50; ++i) {
    trap_init(&b, nullptr);
    expect = ((expect * 850009u + 991873u) & 0x7FFFFFFFu) | 1u;
    ASSERT_EQ(uint32_t(b.request_id), expect);
  }
}

// Each value type; integers of 1, 2, 4 or 8 octets on every word size (the encoder's own are
// as wide as long).
TEST_F(TrapPacker, EachValueTypeEncodesItsValue) {
  const int32_t minus_one = -1;
  const int8_t minus_two = -2;
  const int64_t big = 0x7FFFFFFF;
  const uint32_t top = 0xFFFFFFFF, ticks = 0x12345678;
  const uint16_t gauge = 0x80;
  const uint64_t c64 = (uint64_t(1) << 40) + 5;
  const uint32_t oid[] = {1, 3, 6, 1, 4294967295u};
  const struct {
    unsigned char type;
    const void* value;
    uint32_t length;
    Bytes tlv;
  } rows[] = {
      {0x02, &minus_one, 4, {0x02, 0x01, 0xFF}},
      {0x02, &minus_two, 1, {0x02, 0x01, 0xFE}},
      {0x02, &big, 8, {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}},
      {0x41, &top, 4, {0x41, 0x05, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},  // Counter32
      {0x42, &gauge, 2, {0x42, 0x02, 0x00, 0x80}},                  // Gauge32
      {0x43, &ticks, 4, {0x43, 0x04, 0x12, 0x34, 0x56, 0x78}},      // TimeTicks
      {0x46, &c64, 8, {0x46, 0x06, 0x01, 0x00, 0x00, 0x00, 0x00, 0x05}},  // Counter64
      {0x06, oid, sizeof oid, {0x06, 0x08, 0x2B, 0x06, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F}},
      {0x40, "\x7f\x00\x00\x01", 4, {0x40, 0x04, 0x7F, 0x00, 0x00, 0x01}},  // IpAddress
      {0x04, "ab", 2, {0x04, 0x02, 'a', 'b'}},
      {0x05, nullptr, 0, {0x05, 0x00}},
  };
  Bytes expect;
  for (auto const& r : rows) {
    ASSERT_EQ(add(r.type, r.value, r.length), 0) << int(r.type);
    for (uint8_t o : binding(r.tlv)) expect.push_back(o);
  }
  EXPECT_EQ(only_binding(), expect);
}

TEST_F(TrapPacker, ValuesThatCannotBeEncodedAreRefusedAndTheTrapGoesOn) {
  const int64_t too_big = int64_t(1) << 31;
  const uint64_t too_wide = uint64_t(1) << 32;
  const int32_t three = 3;
  EXPECT_EQ(add(0x02, &too_big, 8), -1);
  EXPECT_EQ(add(0x43, &too_wide, 8), -1);
  EXPECT_EQ(add(0x02, &three, 3), -1);      // no integer is 3 octets wide
  EXPECT_EQ(add(0x46, &three, 4), -1);      // Counter64 takes 8
  EXPECT_EQ(add(0x06, &three, 2), -1);      // not whole components
  EXPECT_EQ(add(0x04, nullptr, 5), -1);
  EXPECT_EQ(trap_pack_add(&b, nullptr, 2, 0x02, &three, 4), -1);
  EXPECT_EQ(trap_pack_add(&b, name, 0, 0x02, &three, 4), -1);
  std::vector<uint32_t> long_name(129, 1);
  EXPECT_EQ(trap_pack_add(&b, long_name.data(), 129, 0x02, &three, 4), -1);
  ASSERT_EQ(add(0x02, &three, 4), 0);
  EXPECT_EQ(only_binding(), binding({0x02, 0x01, 0x03}));
}

TEST_F(TrapPacker, AFullPacketOrAnUnknownTypeSpoilsTheTrapUntilTheNextInit) {
  const std::string big(1500, 'x');
  const int32_t one = 1;
  ASSERT_EQ(add(0x04, big.data(), uint32_t(big.size())), 0);
  EXPECT_EQ(add(0x04, big.data(), uint32_t(big.size())), -1);
  EXPECT_EQ(add(0x02, &one, 4), -1);  // no half-written binding goes out
  EXPECT_EQ(trap_pack_end(&b), -1);
  for (int spoil : {0, 1}) {
    trap_init(&b, nullptr);
    ASSERT_EQ(trap_pack_begin(&b), 0);
    if (spoil) {
      EXPECT_EQ(add(0x99, &one, 4), -1);
    }
    EXPECT_EQ(add(0x02, &one, 4), -spoil);
    EXPECT_EQ(trap_pack_end(&b), -spoil);
  }
}

}  // namespace
