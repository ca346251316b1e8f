// The driver interface as the board's kernel sees it. Request numbers are compared with their
// fixed values everywhere; on the board's CPU (32-bit big-endian PowerPC, run under qemu-user
// in CI) they are also compared with the kernel's own encoding of type, number and record
// size, and each record is read back through the plain native struct a driver declares.
#include <gtest/gtest.h>

#include <sys/ioctl.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "board/e1cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "board/mcc.h"
#include "board/rtp.h"
#include "board/mixer.h"
#include "board/voice.h"
#include "tests/support/RecordBytes.h"

namespace {

using vxtest::bytes_of;
using vxtest::Bytes;

constexpr bool kBoardCpu = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ && sizeof(long) == 4;

#define SKIP_UNLESS_BOARD_CPU() \
  if (!kBoardCpu) GTEST_SKIP() << "checks the board's CPU (32-bit big-endian) only"

// A driver reads its record through a struct of native words; this is that view.
template <typename Native, typename Record>
Native as_driver_sees(const Record& record) {
  static_assert(sizeof(Native) == sizeof(Record));
  Native n;
  std::memcpy(&n, &record, sizeof n);
  return n;
}

struct Request {
  const char* name;
  uint32_t ours;
  uint32_t fixed;
};

const Request kRequests[] = {
    {"MUX_CONNECT", board::hal::MUX_CONNECT, 0x80084D02},
    {"MUX_DISABLE", board::hal::MUX_DISABLE, 0x80044D03},
    {"MUX_WRITE", board::hal::MUX_WRITE, 0xC0084D04},
    {"MUX_READ", board::hal::MUX_READ, 0xC0084D05},
    {"HW_CLOCK_SELECT", board::hal::HW_CLOCK_SELECT, 0x80044301},
    {"SPI_READ", board::hal::SPI_READ, 0xC0034203},
    {"SPI_WRITE", board::hal::SPI_WRITE, 0xC0034204},
    {"MCC_ALLOCATE", board::mcc::MCC_ALLOCATE, 0x40144D00},
    {"MCC_TIMESLOT", board::mcc::MCC_TIMESLOT, 0x20004D02},
    {"SET_TCLK", board::maintenance::SET_TCLK, 0xC0044D0B},
    {"TRUNK_STATUS", board::maintenance::TRUNK_STATUS, 0xC0504D03},
    {"CAS_OPEN_TRUNK", board::e1cas::CAS_OPEN_TRUNK, 0x80044300},
    {"CAS_CLOSE_TRUNK", board::e1cas::CAS_CLOSE_TRUNK, 0x80044301},
    {"CAS_GET", board::e1cas::CAS_GET, 0xC00C4303},
    {"CAS_ENABLE", board::e1cas::CAS_ENABLE, 0xC0104304},
    {"DTMF_CONFIGURE_DETECTOR", board::dtmf::DTMF_CONFIGURE_DETECTOR, 0x40144202},
    {"DTMF_ENABLE_DETECTOR", board::dtmf::DTMF_ENABLE_DETECTOR, 0x40084203},
    {"DTMF_DISABLE_DETECTOR", board::dtmf::DTMF_DISABLE_DETECTOR, 0x40044204},
    {"DTMF_DIAL", board::dtmf::DTMF_DIAL, 0x400C4205},
    {"CHANNEL_LMS_ON", board::dtmf::CHANNEL_LMS_ON, 0x40044206},
    {"CHANNEL_LMS_OFF", board::dtmf::CHANNEL_LMS_OFF, 0x40044207},
    {"DTMF_REJECTION_ENABLE", board::dtmf::DTMF_REJECTION_ENABLE, 0x40044209},
    {"DTMF_REJECTION_DISABLE", board::dtmf::DTMF_REJECTION_DISABLE, 0x4004420A},
    {"IVA_DETECTOR_ENABLE", board::dtmf::IVA_DETECTOR_ENABLE, 0x4004420B},
    {"IVA_DETECTOR_DISABLE", board::dtmf::IVA_DETECTOR_DISABLE, 0x4004420C},
    {"IVA_CONFIGURE_DETECTOR", board::dtmf::IVA_CONFIGURE_DETECTOR, 0x4008420D},
    {"SELCAL_DIAL", board::dtmf::SELCAL_DIAL, 0x400C420E},
    {"DSPROC_CONFIGURE", board::dsp::DSPROC_CONFIGURE, 0x40146401},
    {"DSPROC_ENABLE", board::dsp::DSPROC_ENABLE, 0x400C6402},
    {"DSPROC_DISABLE", board::dsp::DSPROC_DISABLE, 0x400C6403},
    {"DSPROC_VAD_VERSION", board::dsp::DSPROC_VAD_VERSION, 0x40046404},
    {"RTP_BEGIN_SESSION", board::rtp::RTP_BEGIN_SESSION, 0xC02C5200},
    {"RTP_ADD_CHANNEL", board::rtp::RTP_ADD_CHANNEL, 0xC0105202},
    {"RTP_END_SESSION", board::rtp::RTP_END_SESSION, 0x20005203},
    {"RTP_START_RX", board::rtp::RTP_START_RX, 0x20005204},
    {"RTP_STOP_RX", board::rtp::RTP_STOP_RX, 0x20005205},
    {"RTP_ATTACH", board::rtp::RTP_ATTACH, 0xC0085209},
    {"RTP_STOP", board::rtp::RTP_STOP, 0x2000520A},
    {"RTP_RELEASE", board::rtp::RTP_RELEASE, 0x2000520B},
    {"RTP_SET_EVENT_PD", board::rtp::RTP_SET_EVENT_PD, 0xC024520C},
    {"RTP_RESET_EVENT_PD", board::rtp::RTP_RESET_EVENT_PD, 0x8004520D},
    {"VOICE_CODEC_CHANNELS", board::voice::VOICE_CODEC_CHANNELS, 0x40045602},
    {"VOICE_VERSION", board::voice::VOICE_VERSION, 0x4014560A},
    {"MIX_RX_CLEAR", board::mixer::MIX_RX_CLEAR, 0x800C4D02},
    {"MIX_RX_ADD", board::mixer::MIX_RX_ADD, 0x801C4D03},
    {"MIX_RX_REMOVE", board::mixer::MIX_RX_REMOVE, 0x801C4D04},
    {"MIX_TDM", board::mixer::MIX_TDM, 0x800C4D06},
    {"MIX_ENUMERATE", board::mixer::MIX_ENUMERATE, 0x80104D07},
};

TEST(TargetAbi, RequestNumbersAreTheFixedValuesAndReachTheKernelWhole) {
  for (const Request& r : kRequests) {
    EXPECT_EQ(r.ours, r.fixed) << r.name;
    // The kernel takes the request as an unsigned long: on the board one 32-bit word, most
    // significant byte first.
    const unsigned long word = r.ours;
    EXPECT_EQ(static_cast<uint32_t>(word), r.fixed) << r.name;
    if (kBoardCpu) {
      EXPECT_EQ(bytes_of(word), (Bytes{static_cast<uint8_t>(r.fixed >> 24), static_cast<uint8_t>(r.fixed >> 16),
                                       static_cast<uint8_t>(r.fixed >> 8), static_cast<uint8_t>(r.fixed)}))
          << r.name;
    }
  }
}

// The board kernel's own encoding (3 direction bits, 13 size bits) of each request's type,
// number and record size. The drivers mark requests that only pass data in with the read bit
// (the 0x4... numbers); the values are theirs, so the macro is picked to match.
TEST(TargetAbi, RequestNumbersMatchTheBoardKernelsEncodingOfTheirRecords) {
  SKIP_UNLESS_BOARD_CPU();
#if defined(__powerpc__)
  namespace hal = board::hal;
  namespace dsp = board::dsp;
  namespace dtmf = board::dtmf;
  EXPECT_EQ(hal::MUX_CONNECT, _IOW('M', 2, hal::MuxConnect));
  EXPECT_EQ(hal::MUX_DISABLE, _IOW('M', 3, hal::MuxChannel));
  EXPECT_EQ(hal::MUX_WRITE, _IOWR('M', 4, hal::MuxValue));
  EXPECT_EQ(hal::MUX_READ, _IOWR('M', 5, hal::MuxValue));
  EXPECT_EQ(hal::HW_CLOCK_SELECT, _IOW('C', 1, hal::ClockSource));
  EXPECT_EQ(hal::SPI_READ, _IOWR('B', 3, hal::SpiRegister));
  EXPECT_EQ(hal::SPI_WRITE, _IOWR('B', 4, hal::SpiRegister));
  EXPECT_EQ(board::mcc::MCC_ALLOCATE, _IOR('M', 0, board::mcc::Allocate));
  EXPECT_EQ(board::mcc::MCC_TIMESLOT, _IO('M', 2));
  EXPECT_EQ(board::maintenance::SET_TCLK, _IOWR('M', 11, uint32_t));
  EXPECT_EQ(board::maintenance::TRUNK_STATUS, _IOWR('M', 3, board::maintenance::TrunkStatus));
  EXPECT_EQ(board::e1cas::CAS_OPEN_TRUNK, _IOW('C', 0, uint32_t));
  EXPECT_EQ(board::e1cas::CAS_GET, _IOWR('C', 3, board::e1cas::CasChannel));
  EXPECT_EQ(board::e1cas::CAS_ENABLE, _IOWR('C', 4, board::e1cas::CasEnable));
  EXPECT_EQ(dtmf::DTMF_CONFIGURE_DETECTOR, _IOR('B', 2, dtmf::DetectorConfig));
  EXPECT_EQ(dtmf::DTMF_ENABLE_DETECTOR, _IOR('B', 3, dtmf::DetectorEnable));
  EXPECT_EQ(dtmf::DTMF_DIAL, _IOR('B', 5, dtmf::ToneGenerator));
  EXPECT_EQ(dtmf::IVA_CONFIGURE_DETECTOR, _IOR('B', 13, dtmf::IvaConfig));
  EXPECT_EQ(dtmf::SELCAL_DIAL, _IOR('B', 14, dtmf::SelcalDial));
  EXPECT_EQ(dsp::DSPROC_CONFIGURE, _IOR('d', 1, dsp::Configure));
  EXPECT_EQ(dsp::DSPROC_ENABLE, _IOR('d', 2, dsp::FeatureMask));
  EXPECT_EQ(dsp::DSPROC_DISABLE, _IOR('d', 3, dsp::FeatureMask));
  namespace rtp = board::rtp;
  EXPECT_EQ(rtp::RTP_BEGIN_SESSION, _IOWR('R', 0, rtp::rtp_connection_params));
  EXPECT_EQ(rtp::RTP_ADD_CHANNEL, _IOWR('R', 2, rtp::rtp_channel_info));
  EXPECT_EQ(rtp::RTP_END_SESSION, _IO('R', 3));
  EXPECT_EQ(rtp::RTP_START_RX, _IO('R', 4));
  EXPECT_EQ(rtp::RTP_STOP_RX, _IO('R', 5));
  EXPECT_EQ(rtp::RTP_ATTACH, _IOWR('R', 9, rtp::rtp_attach_session_params));
  EXPECT_EQ(rtp::RTP_STOP, _IO('R', 10));
  EXPECT_EQ(rtp::RTP_RELEASE, _IO('R', 11));
  EXPECT_EQ(rtp::RTP_SET_EVENT_PD, _IOWR('R', 12, rtp::rtp_pd_event_params));
  EXPECT_EQ(rtp::RTP_RESET_EVENT_PD, _IOW('R', 13, rtp::EventReset));
  EXPECT_EQ(board::voice::VOICE_CODEC_CHANNELS, _IOR('V', 2, board::voice::CodecQuery));
  EXPECT_EQ(board::voice::VOICE_VERSION, _IOR('V', 10, board::voice::VersionInfo));
  namespace mixer = board::mixer;
  EXPECT_EQ(mixer::MIX_RX_CLEAR, _IOW('M', 2, mixer::MixSlot));
  EXPECT_EQ(mixer::MIX_RX_ADD, _IOW('M', 3, mixer::MixRx));
  EXPECT_EQ(mixer::MIX_RX_REMOVE, _IOW('M', 4, mixer::MixRx));
  EXPECT_EQ(mixer::MIX_TDM, _IOW('M', 6, mixer::MixSlot));
  EXPECT_EQ(mixer::MIX_ENUMERATE, _IOW('M', 7, mixer::MixUnit));
#endif
}

TEST(TargetAbi, RecordsReadAsTheDriversNativeStructs) {
  SKIP_UNLESS_BOARD_CPU();
  board::hal::MuxConnect connect;
  connect.output = 8192 + 130;
  connect.source = -3;
  EXPECT_EQ(bytes_of(connect), (Bytes{0x00, 0x00, 0x20, 0x82, 0xFF, 0xFF, 0xFF, 0xFD}));
  struct NativeConnect {
    int32_t output, source;
  };
  const auto c = as_driver_sees<NativeConnect>(connect);
  EXPECT_EQ(c.output, 8322);
  EXPECT_EQ(c.source, -3);

  board::dsp::Configure filter;
  filter.timeslot = 40;
  filter.what = board::dsp::kConfigureToneFilter;
  board::dsp::ToneFilterPayload tone;
  tone.frequency = 2100;
  tone.enable = 1;
  tone.duration_msec = 300;
  tone.level_db = -30;
  board::dsp::set_payload(filter.payload, tone);
  EXPECT_EQ(bytes_of(filter), (Bytes{0, 0, 0, 40, 0, 0, 1, 0, 0x08, 0x34, 1, 0, 0x01, 0x2C, 0xE2, 0, 0, 0, 0, 0}));
  struct NativeToneFilter {
    uint32_t timeslot, what;
    uint16_t frequency;
    uint8_t enable, reserved1;
    uint16_t duration;
    int8_t level;
    uint8_t reserved2[5];
  };
  const auto f = as_driver_sees<NativeToneFilter>(filter);
  EXPECT_EQ(f.timeslot, 40u);
  EXPECT_EQ(f.what, 256u);
  EXPECT_EQ(f.frequency, 2100);
  EXPECT_EQ(f.enable, 1);
  EXPECT_EQ(f.duration, 300);
  EXPECT_EQ(f.level, -30);

  board::dtmf::SelcalDial selcal;
  selcal.timeslot = 0x01020304;
  selcal.amplitude = 12000;
  std::memcpy(selcal.signs, "1234", 4);
  EXPECT_EQ(bytes_of(selcal), (Bytes{1, 2, 3, 4, 0x2E, 0xE0, '1', '2', '3', '4', 0, 0}));
  struct NativeSelcal {
    uint32_t timeslot;
    uint16_t amplitude;
    char signs[4];
    uint8_t reserved[2];
  };
  const auto sc = as_driver_sees<NativeSelcal>(selcal);
  EXPECT_EQ(sc.timeslot, 0x01020304u);
  EXPECT_EQ(sc.amplitude, 12000);
  EXPECT_EQ(std::string(sc.signs, 4), "1234");
}

TEST(TargetAbi, RtpSessionBlockReadsAsTheDriversNativeStruct) {
  SKIP_UNLESS_BOARD_CPU();
  board::rtp::rtp_connection_params p;
  p.remote_addr = 0xC0A80102;
  p.remote_port = 4000;
  p.local_port = 4002;
  p.rx_pt = 8;
  p.tx_pt = 18;
  p.packet_factor = 2;
  p.vad = 1;
  p.ssrc = 0xDEADBEEF;
  p.ttl = 64;
  p.dscp = 184;
  struct NativeParams {
    uint32_t remote_addr;
    uint16_t remote_port, reserved1;
    uint32_t local_addr;
    uint16_t local_port, rx_pt, tx_pt, packet_factor;
    uint8_t vad, rate, reserved2[2];
    uint32_t ssrc, reserved3[2], ttl, dscp;
  };
  const auto n = as_driver_sees<NativeParams>(p);
  EXPECT_EQ(n.remote_addr, 0xC0A80102u);
  EXPECT_EQ(n.remote_port, 4000);
  EXPECT_EQ(n.local_port, 4002);
  EXPECT_EQ(n.rx_pt, 8);
  EXPECT_EQ(n.tx_pt, 18);
  EXPECT_EQ(n.packet_factor, 2);
  EXPECT_EQ(n.vad, 1);
  EXPECT_EQ(n.ssrc, 0xDEADBEEFu);
  EXPECT_EQ(n.ttl, 64u);
  EXPECT_EQ(n.dscp, 184u);
}

TEST(TargetAbi, EventRecordsTheDriversWriteAreDecoded) {
  SKIP_UNLESS_BOARD_CPU();
  // What a driver writes with native stores arrives as the same values.
  struct NativeStatus {
    uint32_t trunk, unused1[8], slips, loss_bf, loss_carrier, ais, rai, unused2[5], state;
  } native{};
  native.trunk = 3;
  native.slips = 70000;
  native.loss_carrier = 1;
  native.state = 2;
  board::maintenance::TrunkStatus status;
  std::memcpy(static_cast<void*>(&status), &native, sizeof status);
  EXPECT_EQ(status.trunk, 3u);
  EXPECT_EQ(status.slips, 70000u);
  EXPECT_EQ(status.loss_carrier, 1u);
  EXPECT_EQ(status.state, 2u);

  struct NativeProcEvent {
    uint32_t timeslot, id, type;
    float score;
    uint32_t reserved[2];
  } bss{5, 7, board::dsp::kEventBss, -2.5f, {}};
  board::dsp::ProcEvent event;
  std::memcpy(static_cast<void*>(&event), &bss, sizeof event);
  EXPECT_EQ(event.timeslot, 5u);
  EXPECT_EQ(event.id, 7u);
  EXPECT_EQ(event.type, board::dsp::kEventBss);
  EXPECT_EQ(static_cast<float>(board::dsp::payload_as<board::dsp::BssEvent>(event.payload).score), -2.5f);

  struct NativeToneEvent {
    uint32_t code, timeslot, timestamp, id;
  } tone{11, 5, 100000, 0x80000001u};
  board::dtmf::ToneEvent t;
  std::memcpy(static_cast<void*>(&t), &tone, sizeof t);
  EXPECT_EQ(t.code, 11u);
  EXPECT_EQ(t.timeslot, 5u);
  EXPECT_EQ(t.timestamp, 100000u);
  EXPECT_EQ(t.id, 0x80000001u);
}

}  // namespace
