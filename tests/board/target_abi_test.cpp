// The driver interface on the board's own CPU (32-bit big-endian PowerPC, under qemu-user in
// CI): request numbers against the kernel's encoding, records read through native structs.
#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <cstdint>
#include <cstring>
#include <tuple>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "board/e1cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "board/mcc.h"
#include "board/mixer.h"
#include "board/rtp.h"
#include "board/voice.h"

namespace {

constexpr bool kBoardCpu = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ && sizeof(long) == 4;

// The same bytes through another struct, as a driver's memcpy_from_user would see them.
template <typename To, typename From>
To as(const From& from) {
  static_assert(sizeof(To) == sizeof(From));
  To to;
  std::memcpy(static_cast<void*>(&to), &from, sizeof to);
  return to;
}

// The drivers mark requests that only pass data in with the read bit (the 0x4... numbers); the
// values are theirs, so the macro is picked to match.
TEST(TargetAbi, RequestNumbersMatchTheBoardKernelsEncodingOfTheirRecords) {
  if (!kBoardCpu) GTEST_SKIP() << "checks the board's CPU only";
#if defined(__powerpc__)
  namespace hal = board::hal;
  namespace dsp = board::dsp;
  namespace dtmf = board::dtmf;
  namespace rtp = board::rtp;
  namespace mixer = board::mixer;
  const std::tuple<const char*, uint32_t, unsigned long> table[] = {
      {"MUX_CONNECT", hal::MUX_CONNECT, _IOW('M', 2, hal::MuxConnect)},
      {"MUX_DISABLE", hal::MUX_DISABLE, _IOW('M', 3, hal::MuxChannel)},
      {"MUX_WRITE", hal::MUX_WRITE, _IOWR('M', 4, hal::MuxValue)},
      {"MUX_READ", hal::MUX_READ, _IOWR('M', 5, hal::MuxValue)},
      {"HW_CLOCK_SELECT", hal::HW_CLOCK_SELECT, _IOW('C', 1, hal::ClockSource)},
      {"SPI_READ", hal::SPI_READ, _IOWR('B', 3, hal::SpiRegister)},
      {"SPI_WRITE", hal::SPI_WRITE, _IOWR('B', 4, hal::SpiRegister)},
      {"MCC_ALLOCATE", board::mcc::MCC_ALLOCATE, _IOR('M', 0, board::mcc::Allocate)},
      {"MCC_TIMESLOT", board::mcc::MCC_TIMESLOT, _IO('M', 2)},
      {"SET_TCLK", board::maintenance::SET_TCLK, _IOWR('M', 11, uint32_t)},
      {"TRUNK_STATUS", board::maintenance::TRUNK_STATUS, _IOWR('M', 3, board::maintenance::TrunkStatus)},
      {"CAS_OPEN_TRUNK", board::e1cas::CAS_OPEN_TRUNK, _IOW('C', 0, uint32_t)},
      {"CAS_GET", board::e1cas::CAS_GET, _IOWR('C', 3, board::e1cas::CasChannel)},
      {"CAS_ENABLE", board::e1cas::CAS_ENABLE, _IOWR('C', 4, board::e1cas::CasEnable)},
      {"DTMF_CONFIGURE_DETECTOR", dtmf::DTMF_CONFIGURE_DETECTOR, _IOR('B', 2, dtmf::DetectorConfig)},
      {"DTMF_ENABLE_DETECTOR", dtmf::DTMF_ENABLE_DETECTOR, _IOR('B', 3, dtmf::DetectorEnable)},
      {"DTMF_DIAL", dtmf::DTMF_DIAL, _IOR('B', 5, dtmf::ToneGenerator)},
      {"IVA_CONFIGURE_DETECTOR", dtmf::IVA_CONFIGURE_DETECTOR, _IOR('B', 13, dtmf::IvaConfig)},
      {"SELCAL_DIAL", dtmf::SELCAL_DIAL, _IOR('B', 14, dtmf::SelcalDial)},
      {"DSPROC_CONFIGURE", dsp::DSPROC_CONFIGURE, _IOR('d', 1, dsp::Configure)},
      {"DSPROC_ENABLE", dsp::DSPROC_ENABLE, _IOR('d', 2, dsp::FeatureMask)},
      {"DSPROC_DISABLE", dsp::DSPROC_DISABLE, _IOR('d', 3, dsp::FeatureMask)},
      {"RTP_BEGIN_SESSION", rtp::RTP_BEGIN_SESSION, _IOWR('R', 0, rtp::rtp_connection_params)},
      {"RTP_ADD_CHANNEL", rtp::RTP_ADD_CHANNEL, _IOWR('R', 2, rtp::rtp_channel_info)},
      {"RTP_END_SESSION", rtp::RTP_END_SESSION, _IO('R', 3)},
      {"RTP_START_RX", rtp::RTP_START_RX, _IO('R', 4)},
      {"RTP_STOP_RX", rtp::RTP_STOP_RX, _IO('R', 5)},
      {"RTP_ATTACH", rtp::RTP_ATTACH, _IOWR('R', 9, rtp::rtp_attach_session_params)},
      {"RTP_STOP", rtp::RTP_STOP, _IO('R', 10)},
      {"RTP_RELEASE", rtp::RTP_RELEASE, _IO('R', 11)},
      {"RTP_SET_EVENT_PD", rtp::RTP_SET_EVENT_PD, _IOWR('R', 12, rtp::rtp_pd_event_params)},
      {"RTP_RESET_EVENT_PD", rtp::RTP_RESET_EVENT_PD, _IOW('R', 13, rtp::EventReset)},
      {"VOICE_CODEC_CHANNELS", board::voice::VOICE_CODEC_CHANNELS, _IOR('V', 2, board::voice::CodecQuery)},
      {"VOICE_VERSION", board::voice::VOICE_VERSION, _IOR('V', 10, board::voice::VersionInfo)},
      {"MIX_RX_CLEAR", mixer::MIX_RX_CLEAR, _IOW('M', 2, mixer::MixSlot)},
      {"MIX_RX_ADD", mixer::MIX_RX_ADD, _IOW('M', 3, mixer::MixRx)},
      {"MIX_RX_REMOVE", mixer::MIX_RX_REMOVE, _IOW('M', 4, mixer::MixRx)},
      {"MIX_TDM", mixer::MIX_TDM, _IOW('M', 6, mixer::MixSlot)},
      {"MIX_ENUMERATE", mixer::MIX_ENUMERATE, _IOW('M', 7, mixer::MixUnit)},
  };
  for (const auto& [name, ours, kernel] : table) EXPECT_EQ(ours, kernel) << name;
#endif
}

// Records with fields of mixed widths, whose natural alignment on the board must give the
// offsets that the headers' static_asserts fix.
TEST(TargetAbi, RecordsReadAsTheDriversNativeStructs) {
  if (!kBoardCpu) GTEST_SKIP() << "checks the board's CPU only";
  board::dsp::Configure filter;
  filter.timeslot = 40;
  filter.what = board::dsp::kConfigureToneFilter;
  board::dsp::ToneFilterPayload tone;
  tone.frequency = 2100;
  tone.enable = 1;
  tone.duration_msec = 300;
  tone.level_db = -30;
  board::dsp::set_payload(filter.payload, tone);
  struct NativeToneFilter {
    uint32_t timeslot, what;
    uint16_t frequency;
    uint8_t enable, reserved1;
    uint16_t duration;
    int8_t level;
    uint8_t reserved2[5];
  };
  const auto f = as<NativeToneFilter>(filter);
  EXPECT_EQ(std::tuple(f.timeslot, f.what, f.frequency, f.enable, f.duration, f.level),
            std::tuple(40u, 256u, uint16_t{2100}, uint8_t{1}, uint16_t{300}, int8_t{-30}));

  board::rtp::rtp_connection_params p;
  p.remote_addr = 0xC0A80102;
  p.remote_port = 4000;
  p.local_port = 4002;
  p.tx_pt = 18;
  p.packet_factor = 2;
  p.vad = 1;
  p.ssrc = 0xDEADBEEF;
  p.dscp = 184;
  struct NativeParams {
    uint32_t remote_addr;
    uint16_t remote_port, reserved1;
    uint32_t local_addr;
    uint16_t local_port, rx_pt, tx_pt, packet_factor;
    uint8_t vad, rate, reserved2[2];
    uint32_t ssrc, reserved3[2], ttl, dscp;
  };
  const auto n = as<NativeParams>(p);
  EXPECT_EQ(std::tuple(n.remote_addr, n.remote_port, n.local_port, n.tx_pt, n.packet_factor, n.vad, n.ssrc, n.dscp),
            std::tuple(0xC0A80102u, uint16_t{4000}, uint16_t{4002}, uint16_t{18}, uint16_t{2}, uint8_t{1}, 0xDEADBEEFu,
                       184u));

  struct NativeProcEvent {
    uint32_t timeslot, id, type;
    float score;
    uint32_t reserved[2];
  } bss{5, 7, board::dsp::kEventBss, -2.5f, {}};
  const auto event = as<board::dsp::ProcEvent>(bss);
  EXPECT_EQ(std::tuple(uint32_t{event.timeslot}, uint32_t{event.id}, uint32_t{event.type}),
            std::tuple(5u, 7u, uint32_t{board::dsp::kEventBss}));
  EXPECT_EQ(static_cast<float>(board::dsp::payload_as<board::dsp::BssEvent>(event.payload).score), -2.5f);
}

}  // namespace
