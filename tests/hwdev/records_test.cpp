// The tone and DSP records not covered by the board's own record tests, byte for byte, and the
// payloads the DSP receivers are handed.
#include <gtest/gtest.h>

#include <cstring>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "hardware/DSProcReceiver.h"
#include "tests/support/RecordBytes.h"

namespace {

using vxtest::bytes_of;
using vxtest::Bytes;
using vxtest::from_bytes;

TEST(DeviceRecords, ToneDetectorRecordsAndEvent) {
  board::dtmf::DetectorConfig config;
  config.timeslot = 0x102;
  config.twist = 8;
  config.ratio = 0x1234;
  config.silence = 65535;
  config.noise = 3;
  EXPECT_EQ(bytes_of(config), (Bytes{0, 0, 1, 2, 0, 0, 0, 8, 0, 0, 0x12, 0x34, 0, 0, 0xFF, 0xFF, 0, 0, 0, 3}));

  board::dtmf::DetectorEnable enable;
  enable.timeslot = 31;
  enable.id = 0xFFFFFFFF;
  EXPECT_EQ(bytes_of(enable), (Bytes{0, 0, 0, 31, 0xFF, 0xFF, 0xFF, 0xFF}));

  auto e = from_bytes<board::dtmf::ToneEvent>({0, 0, 0, 0x0B, 0, 0, 0, 5, 0x00, 0x01, 0x86, 0xA0, 0x80, 0, 0, 1});
  EXPECT_EQ(e.code, 11u);
  EXPECT_EQ(e.timeslot, 5u);
  EXPECT_EQ(e.timestamp, 100000u);
  EXPECT_EQ(e.id, 0x80000001u);
}

TEST(DeviceRecords, DspFeatureMaskAndConfigurePayloads) {
  board::dsp::FeatureMask mask;
  mask.timeslot = 3;
  mask.id = 0x01020304;
  mask.mask = board::dsp::kMuteFirst | board::dsp::kMuteSecond;
  EXPECT_EQ(bytes_of(mask), (Bytes{0, 0, 0, 3, 1, 2, 3, 4, 0, 0, 0, 12}));

  board::dsp::VadV1Payload v1;
  v1.word0 = 3;
  v1.word1 = 127;
  v1.word2 = 0;
  EXPECT_EQ(bytes_of(v1), (Bytes{0, 0, 0, 3, 0, 0, 0, 127, 0, 0, 0, 0}));

  board::dsp::DelaysPayload delays;
  delays.rx = 1;
  delays.tx = 0x100;
  delays.selcal = 0x10000;
  EXPECT_EQ(bytes_of(delays), (Bytes{0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0}));

  board::dsp::RxGainPayload gain;
  gain.gain_db = -128;
  EXPECT_EQ(bytes_of(gain), (Bytes{0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(DeviceRecords, DspEventPayloads) {
  auto sd = board::dsp::payload_as<board::dsp::SdEvent>(
      from_bytes<board::dsp::ProcEvent>({0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 2, 0xFF, 0xFF, 0xFF, 0xFE, 9, 9, 9, 9, 9, 9, 9, 9})
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
