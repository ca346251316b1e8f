// Driver records carry big-endian words; their offsets and sizes are held by the headers'
// static_asserts, and the services' tests compare the records they issue byte for byte.
#include <gtest/gtest.h>

#include "board/BigEndian.h"
#include "tests/support/RecordBytes.h"

namespace {

using vxtest::bytes_of;
using vxtest::Bytes;
using vxtest::from_bytes;

TEST(Records, BigEndianWordsRoundTripMostSignificantFirst) {
  board::be_i32 negative = -2;
  EXPECT_EQ(bytes_of(negative), (Bytes{0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(static_cast<int32_t>(negative), -2);
  EXPECT_EQ(static_cast<int32_t>(from_bytes<board::be_i32>({0xFF, 0xFF, 0xFF, 0xFD})), -3);
  EXPECT_EQ(bytes_of(board::be_u16(0x1234)), (Bytes{0x12, 0x34}));
  EXPECT_EQ(static_cast<uint16_t>(from_bytes<board::be_u16>({0x03, 0xAD})), 941);
  EXPECT_EQ(static_cast<uint32_t>(board::be_u32(0x80000001u)), 0x80000001u);
  board::be_f32 one = 1.0f;
  EXPECT_EQ(bytes_of(one), (Bytes{0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(static_cast<float>(one), 1.0f);
  EXPECT_EQ(static_cast<float>(from_bytes<board::be_f32>({0xC0, 0, 0, 0})), -2.0f);
  EXPECT_EQ(bytes_of(board::be_u32{}), (Bytes{0, 0, 0, 0})) << "records start clean";
}

}  // namespace
