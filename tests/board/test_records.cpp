// Driver records carry their fields as big-endian words at the offsets the drivers read (the
// offsets themselves are held by the headers' static_asserts). Records that the services issue
// are also compared byte for byte in the services' own tests.
#include <gtest/gtest.h>

#include <tuple>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "board/e1cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "hardware/DSProcReceiver.h"
#include "tests/support/RecordBytes.h"

namespace {

using vxtest::bytes_of;
using vxtest::Bytes;
using vxtest::from_bytes;

TEST(Records, BigEndianWordsRoundTripMostSignificantFirst) {
  board::be_i32 negative = -2;
  EXPECT_EQ(bytes_of(negative), (Bytes{0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(static_cast<int32_t>(negative), -2);
  EXPECT_EQ(bytes_of(board::be_u16(0x1234)), (Bytes{0x12, 0x34}));
  EXPECT_EQ(static_cast<uint32_t>(board::be_u32(0x80000001u)), 0x80000001u);
  board::be_f32 one = 1.0f;
  EXPECT_EQ(bytes_of(one), (Bytes{0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(static_cast<float>(one), 1.0f);
  EXPECT_EQ(bytes_of(board::be_u32{}), (Bytes{0, 0, 0, 0})) << "records start clean";
}

TEST(Records, RequestRecordsAreTheDriversBytes) {
  board::hal::MuxConnect connect;
  connect.output = 8192 + 130;
  connect.source = -3;
  EXPECT_EQ(bytes_of(connect), (Bytes{0, 0, 0x20, 0x82, 0xFF, 0xFF, 0xFF, 0xFD}));
  EXPECT_EQ(bytes_of(board::hal::SpiRegister{3, 51, 0xFF}), (Bytes{3, 51, 0xFF}));

  board::e1cas::CasEnable enable;
  enable.channel.trunk = 1;
  enable.channel.timeslot = 17;
  enable.channel.tx = 0x0B;
  enable.disable = 1;
  EXPECT_EQ(bytes_of(enable), (Bytes{0, 0, 0, 1, 0, 0, 0, 17, 0, 0x0B, 0, 0, 0, 0, 0, 1}));

  board::dtmf::ToneGenerator dial;
  dial.timeslot = 9;
  dial.frequency1 = 941;
  dial.frequency2 = 1336;
  dial.amplitude1 = 16384;
  dial.amplitude2 = 2048;
  EXPECT_EQ(bytes_of(dial), (Bytes{0, 0, 0, 9, 0x03, 0xAD, 0x05, 0x38, 0x40, 0x00, 0x08, 0x00}));
}

TEST(Records, RecordsFromTheDriversAreDecoded) {
  const auto read = from_bytes<board::hal::MuxValue>({0, 0, 0x27, 0xFF, 0, 0, 0, 0xAB});
  EXPECT_EQ(read.channel, 10239);
  EXPECT_EQ(read.value, 0xAB);

  Bytes status(80, 0);
  status[3] = 2;   // trunk
  status[39] = 7;  // slips
  status[47] = 1;  // loss of carrier
  status[79] = 2;  // state
  const auto s = from_bytes<board::maintenance::TrunkStatus>(status);
  EXPECT_EQ(std::tuple(uint32_t{s.trunk}, uint32_t{s.slips}, uint32_t{s.loss_carrier}, uint32_t{s.state}),
            std::tuple(2u, 7u, 1u, 2u));
  EXPECT_EQ(s.loss_bf + s.ais + s.rai, 0u);

  const auto e = from_bytes<board::dtmf::ToneEvent>({0, 0, 0, 0x0B, 0, 0, 0, 5, 0, 1, 0x86, 0xA0, 0x80, 0, 0, 1});
  EXPECT_EQ(std::tuple(uint32_t{e.code}, uint32_t{e.timeslot}, uint32_t{e.timestamp}, uint32_t{e.id}),
            std::tuple(11u, 5u, 100000u, 0x80000001u));

  const auto event = from_bytes<board::dsp::ProcEvent>(
      {0, 0, 0, 7, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1});
  EXPECT_EQ(std::tuple(uint32_t{event.timeslot}, uint32_t{event.id}, uint32_t{event.type}),
            std::tuple(7u, 9u, uint32_t{board::dsp::kEventVad}));
  const auto vad = board::dsp::payload_as<board::dsp::VadEvent>(event.payload);
  EXPECT_EQ(std::tuple(uint32_t{vad.dir_mask}, int32_t{vad.vad_rx}, int32_t{vad.vad_tx}), std::tuple(2u, -1, 1));
  EXPECT_EQ(from_bytes<board::dsp::SdEvent>({0xFF, 0xFF, 0xFF, 0xFE, 9, 9, 9, 9, 9, 9, 9, 9}).sd_rx, -2);

  // What the receivers get is the driver's payload as it arrived.
  const Bytes flags{0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0x0F, 0xF0, 0, 0, 0, 0};
  const auto handed = from_bytes<Hardware::dsproc_flags_event>(flags);
  EXPECT_EQ(std::tuple(uint32_t{handed.flags}, uint32_t{handed.mask}), std::tuple(0xDEADBEEFu, 0x0FF0u));
  const auto tone = from_bytes<Hardware::dsproc_tone_event>({0, 0, 0x03, 0xE8, 0, 0, 0, 1, 0, 0, 0, 0});
  EXPECT_EQ(std::tuple(uint32_t{tone.frequency}, uint32_t{tone.presence}), std::tuple(1000u, 1u));
  EXPECT_EQ(static_cast<float>(from_bytes<Hardware::dsproc_bss_event>({0xC0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).score),
            -2.0f);
}

}  // namespace
