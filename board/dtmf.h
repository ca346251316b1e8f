#pragma once
// "/dev/dtmf": the tone-control device: DTMF and IVA detectors, tone generator, echo
// canceller and SELCAL dialling per timeslot. Every read returns one ToneEvent record.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::dtmf {

inline constexpr const char* kPath = "/dev/dtmf";

inline constexpr uint32_t DTMF_CONFIGURE_DETECTOR = 0x40144202;  // DetectorConfig
inline constexpr uint32_t DTMF_ENABLE_DETECTOR = 0x40084203;     // DetectorEnable
inline constexpr uint32_t DTMF_DISABLE_DETECTOR = 0x40044204;    // timeslot by value
inline constexpr uint32_t DTMF_DIAL = 0x400C4205;                // ToneGenerator
inline constexpr uint32_t CHANNEL_LMS_ON = 0x40044206;           // timeslot by value
inline constexpr uint32_t CHANNEL_LMS_OFF = 0x40044207;          // timeslot by value
inline constexpr uint32_t DTMF_REJECTION_ENABLE = 0x40044209;    // timeslot by value
inline constexpr uint32_t DTMF_REJECTION_DISABLE = 0x4004420A;   // timeslot by value
inline constexpr uint32_t IVA_DETECTOR_ENABLE = 0x4004420B;      // timeslot by value
inline constexpr uint32_t IVA_DETECTOR_DISABLE = 0x4004420C;     // timeslot by value
inline constexpr uint32_t IVA_CONFIGURE_DETECTOR = 0x4008420D;   // IvaConfig
inline constexpr uint32_t SELCAL_DIAL = 0x400C420E;              // SelcalDial

struct DetectorConfig {
  be_u32 timeslot;
  be_u32 twist;
  be_u32 ratio;
  be_u32 silence;
  be_u32 noise;
};
static_assert(sizeof(DetectorConfig) == 20);
static_assert(offsetof(DetectorConfig, twist) == 4 && offsetof(DetectorConfig, ratio) == 8 &&
              offsetof(DetectorConfig, silence) == 12 && offsetof(DetectorConfig, noise) == 16);

struct DetectorEnable {
  be_u32 timeslot;
  be_u32 id;
};
static_assert(sizeof(DetectorEnable) == 8 && offsetof(DetectorEnable, id) == 4);

struct ToneGenerator {
  be_u32 timeslot;
  be_u16 frequency1;  // Hz
  be_u16 frequency2;
  be_u16 amplitude1;
  be_u16 amplitude2;
};
static_assert(sizeof(ToneGenerator) == 12);
static_assert(offsetof(ToneGenerator, frequency1) == 4 && offsetof(ToneGenerator, frequency2) == 6 &&
              offsetof(ToneGenerator, amplitude1) == 8 && offsetof(ToneGenerator, amplitude2) == 10);

struct IvaConfig {
  be_u32 timeslot;
  be_i32 level_db;
};
static_assert(sizeof(IvaConfig) == 8 && offsetof(IvaConfig, level_db) == 4);

struct SelcalDial {
  be_u32 timeslot;
  be_u16 amplitude;
  char signs[4] = {};  // the first four selective-call signs, not terminated
  uint8_t reserved[2] = {};
};
static_assert(sizeof(SelcalDial) == 12);
static_assert(offsetof(SelcalDial, amplitude) == 4 && offsetof(SelcalDial, signs) == 6 &&
              offsetof(SelcalDial, reserved) == 10);

struct ToneEvent {
  be_u32 code;
  be_u32 timeslot;
  be_u32 timestamp;
  be_u32 id;  // the request id of the DTMF_ENABLE_DETECTOR that armed the detector
};
static_assert(sizeof(ToneEvent) == 16);
static_assert(offsetof(ToneEvent, timeslot) == 4 && offsetof(ToneEvent, timestamp) == 8 &&
              offsetof(ToneEvent, id) == 12);

static_assert(request_size(DTMF_CONFIGURE_DETECTOR) == sizeof(DetectorConfig));
static_assert(request_size(DTMF_ENABLE_DETECTOR) == sizeof(DetectorEnable));
static_assert(request_size(DTMF_DIAL) == sizeof(ToneGenerator));
static_assert(request_size(IVA_CONFIGURE_DETECTOR) == sizeof(IvaConfig));
static_assert(request_size(SELCAL_DIAL) == sizeof(SelcalDial));

}  // namespace board::dtmf
