// Driver records must carry their fields as big-endian words at the offsets the drivers read.
// Request records the services issue are also compared byte for byte in their own tests.
#include <gtest/gtest.h>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "board/e1cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "board/mcc.h"
#include "hardware/DSProcReceiver.h"
#include "tests/support/RecordBytes.h"

namespace {

using vxtest::bytes_of;
using vxtest::Bytes;
using vxtest::from_bytes;

TEST(BigEndian, RoundTripsAndStoresMostSignificantFirst) {
  board::be_i32 negative = -2;
  EXPECT_EQ(bytes_of(negative), (Bytes{0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(static_cast<int32_t>(negative), -2);
  board::be_u16 word = 0x1234;
  EXPECT_EQ(bytes_of(word), (Bytes{0x12, 0x34}));
  board::be_u32 big = 0x80000001u;
  EXPECT_EQ(static_cast<uint32_t>(big), 0x80000001u);
  board::be_f32 one = 1.0f;
  EXPECT_EQ(bytes_of(one), (Bytes{0x3F, 0x80, 0x00, 0x00}));
  EXPECT_EQ(static_cast<float>(one), 1.0f);
  board::be_u32 zero;  // default construction zeroes, so records start clean
  EXPECT_EQ(bytes_of(zero), (Bytes{0, 0, 0, 0}));
}

TEST(Records, SwitchRecords) {
  board::hal::MuxConnect connect;
  connect.output = 8192 + 130;
  connect.source = 5;
  EXPECT_EQ(bytes_of(connect), (Bytes{0, 0, 0x20, 0x82, 0, 0, 0, 5}));
  board::hal::MuxValue read = from_bytes<board::hal::MuxValue>({0, 0, 0x27, 0xFF, 0, 0, 0, 0xAB});
  EXPECT_EQ(read.channel, 10239);
  EXPECT_EQ(read.value, 0xAB);
  board::hal::SpiRegister spi{3, 51, 0xFF};
  EXPECT_EQ(bytes_of(spi), (Bytes{3, 51, 0xFF}));
}

TEST(Records, ControllerAndTrunkRecords) {
  board::mcc::Allocate allocate;
  allocate.type = 3;
  allocate.rx_packet_size = 512;
  allocate.rx_threshold = 1;
  allocate.tx_threshold = 4;
  EXPECT_EQ(bytes_of(allocate), (Bytes{0, 0, 0, 3, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 4}));

  Bytes status(80, 0);
  status[3] = 2;     // trunk
  status[39] = 7;    // slips
  status[47] = 1;    // loss of carrier
  status[79] = 2;    // state
  auto s = from_bytes<board::maintenance::TrunkStatus>(status);
  EXPECT_EQ(s.trunk, 2u);
  EXPECT_EQ(s.slips, 7u);
  EXPECT_EQ(s.loss_carrier, 1u);
  EXPECT_EQ(s.state, 2u);
  EXPECT_EQ(s.loss_bf + s.ais + s.rai, 0u);

  board::e1cas::CasEnable enable;
  enable.channel.trunk = 1;
  enable.channel.timeslot = 17;
  enable.channel.tx = 0x0B;
  enable.disable = 1;
  EXPECT_EQ(bytes_of(enable), (Bytes{0, 0, 0, 1, 0, 0, 0, 17, 0, 0x0B, 0, 0, 0, 0, 0, 1}));
}

TEST(Records, ToneGeneratorRecord) {
  board::dtmf::ToneGenerator dial;
  dial.timeslot = 9;
  dial.frequency1 = 941;
  dial.frequency2 = 1336;
  dial.amplitude1 = 16384;
  dial.amplitude2 = 2048;
  EXPECT_EQ(bytes_of(dial), (Bytes{0, 0, 0, 9, 0x03, 0xAD, 0x05, 0x38, 0x40, 0x00, 0x08, 0x00}));
}

TEST(Records, ToneEventRecord) {
  auto e = from_bytes<board::dtmf::ToneEvent>({0, 0, 0, 0x0B, 0, 0, 0, 5, 0x00, 0x01, 0x86, 0xA0, 0x80, 0, 0, 1});
  EXPECT_EQ(e.code, 11u);
  EXPECT_EQ(e.timeslot, 5u);
  EXPECT_EQ(e.timestamp, 100000u);
  EXPECT_EQ(e.id, 0x80000001u);
}

TEST(Records, DspEventRecordsAndPayloads) {
  auto event = from_bytes<board::dsp::ProcEvent>(
      {0, 0, 0, 7, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1});
  EXPECT_EQ(event.timeslot, 7u);
  EXPECT_EQ(event.id, 9u);
  EXPECT_EQ(event.type, board::dsp::kEventVad);
  auto vad_event = board::dsp::payload_as<board::dsp::VadEvent>(event.payload);
  EXPECT_EQ(vad_event.dir_mask, 2u);
  EXPECT_EQ(vad_event.vad_rx, -1);
  EXPECT_EQ(vad_event.vad_tx, 1);

  auto sd = board::dsp::payload_as<board::dsp::SdEvent>(
      from_bytes<board::dsp::ProcEvent>(
          {0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFE, 9, 9, 9, 9, 9, 9, 9, 9})
          .payload);
  EXPECT_EQ(sd.sd_rx, -2);

  const Bytes flags_bytes{0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0x0F, 0xF0, 0, 0, 0, 0};
  auto flags = from_bytes<board::dsp::FlagsEvent>(flags_bytes);
  EXPECT_EQ(flags.flags, 0xDEADBEEFu);
  EXPECT_EQ(flags.mask, 0x0FF0u);

  // What the receivers get is the driver's payload as it arrived.
  auto handed = from_bytes<Hardware::dsproc_flags_event>(flags_bytes);
  EXPECT_EQ(handed.flags, 0xDEADBEEFu);
  EXPECT_EQ(handed.mask, 0x0FF0u);
  auto tone = from_bytes<Hardware::dsproc_tone_event>({0, 0, 0x03, 0xE8, 0, 0, 0, 1, 0, 0, 0, 0});
  EXPECT_EQ(tone.frequency, 1000u);
  EXPECT_EQ(tone.presence, 1u);
  auto bss = from_bytes<Hardware::dsproc_bss_event>({0xC0, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(static_cast<float>(bss.score), -2.0f);
}

}  // namespace
