// Driver records must carry their fields as big-endian words at the offsets the drivers read.
#include <gtest/gtest.h>

#include <cstring>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "board/e1cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "board/mcc.h"
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

TEST(BigEndian, SizeFieldOfRequestNumbers) {
  EXPECT_EQ(board::request_size(board::maintenance::TRUNK_STATUS), 80u);
  EXPECT_EQ(board::request_size(board::mcc::MCC_TIMESLOT), 0u);
  EXPECT_EQ(board::request_size(board::dsp::DSPROC_CONFIGURE), 20u);
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

TEST(Records, ToneRecords) {
  board::dtmf::ToneGenerator dial;
  dial.timeslot = 9;
  dial.frequency1 = 941;
  dial.frequency2 = 1336;
  dial.amplitude1 = 16384;
  dial.amplitude2 = 2048;
  EXPECT_EQ(bytes_of(dial), (Bytes{0, 0, 0, 9, 0x03, 0xAD, 0x05, 0x38, 0x40, 0x00, 0x08, 0x00}));

  board::dtmf::SelcalDial selcal;
  selcal.timeslot = 1;
  selcal.amplitude = 12000;
  std::memcpy(selcal.signs, "1234", 4);
  EXPECT_EQ(bytes_of(selcal), (Bytes{0, 0, 0, 1, 0x2E, 0xE0, '1', '2', '3', '4', 0, 0}));

  board::dtmf::IvaConfig iva;
  iva.timeslot = 4;
  iva.level_db = -30;
  EXPECT_EQ(bytes_of(iva), (Bytes{0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0xE2}));
}

TEST(Records, DspRecords) {
  board::dsp::Configure vad;
  vad.timeslot = 3;
  vad.what = board::dsp::kConfigureVad;
  board::dsp::VadV2Payload v2;
  v2.voice_th_msec = 200;
  v2.silence_th_msec = 500;
  v2.e_th_db = 40;
  board::dsp::set_payload(vad.payload, v2);
  EXPECT_EQ(bytes_of(vad), (Bytes{0, 0, 0, 3, 0, 0, 0, 1, 0, 200, 0x01, 0xF4, 40, 0, 0, 0, 0, 0, 0, 0}));

  board::dsp::Configure filter;
  filter.timeslot = 3;
  filter.what = board::dsp::kConfigureToneFilter;
  board::dsp::ToneFilterPayload tone;
  tone.frequency = 2100;
  tone.enable = 1;
  tone.duration_msec = 300;
  tone.level_db = -20;
  board::dsp::set_payload(filter.payload, tone);
  EXPECT_EQ(bytes_of(filter), (Bytes{0, 0, 0, 3, 0, 0, 1, 0, 0x08, 0x34, 1, 0, 0x01, 0x2C, 0xEC, 0, 0, 0, 0, 0}));

  auto event = from_bytes<board::dsp::ProcEvent>(
      {0, 0, 0, 7, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1});
  EXPECT_EQ(event.timeslot, 7u);
  EXPECT_EQ(event.id, 9u);
  EXPECT_EQ(event.type, board::dsp::kEventVad);
  auto vad_event = board::dsp::payload_as<board::dsp::VadEvent>(event.payload);
  EXPECT_EQ(vad_event.dir_mask, 2u);
  EXPECT_EQ(vad_event.vad_rx, -1);
  EXPECT_EQ(vad_event.vad_tx, 1);

  auto bss = from_bytes<board::dsp::ProcEvent>(
      {0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x40, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(static_cast<float>(board::dsp::payload_as<board::dsp::BssEvent>(bss.payload).score), 2.5f);
}

}  // namespace
