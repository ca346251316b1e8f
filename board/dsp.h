#pragma once
// "/dev/dsp": per-timeslot voice processing (VAD, SD, BSS, noise gate, mute, delays, receive
// gain, tone filters). Every read returns one ProcEvent record.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "board/BigEndian.h"

namespace board::dsp {

inline constexpr const char* kPath = "/dev/dsp";

inline constexpr uint32_t DSPROC_CONFIGURE = 0x40146401;  // Configure
inline constexpr uint32_t DSPROC_ENABLE = 0x400C6402;     // FeatureMask with a request id
inline constexpr uint32_t DSPROC_DISABLE = 0x400C6403;    // FeatureMask with id 0
inline constexpr uint32_t DSPROC_VAD_VERSION = 0x40046404;  // argument 0 by value; result = version

// DSPROC_CONFIGURE "what" codes.
inline constexpr uint32_t kConfigureVad = 1;
inline constexpr uint32_t kConfigureSd = 2;
inline constexpr uint32_t kConfigureDelays = 32;
inline constexpr uint32_t kConfigureRxGain = 64;
inline constexpr uint32_t kConfigureToneFilter = 256;

// Feature mask bits.
inline constexpr uint32_t kVad = 1;
inline constexpr uint32_t kSd = 2;
inline constexpr uint32_t kMuteFirst = 4;
inline constexpr uint32_t kMuteSecond = 8;
inline constexpr uint32_t kBss = 16;
inline constexpr uint32_t kNg = 128;
inline constexpr uint32_t kToneFilters = 256;

// Event types.
inline constexpr uint32_t kEventVad = 1;
inline constexpr uint32_t kEventSd = 2;
inline constexpr uint32_t kEventBss = 0x10;
inline constexpr uint32_t kEventToneFilter = 0x100;
inline constexpr uint32_t kEventFlags = 0x200;

// The payload alternatives of Configure, each 12 bytes.
struct VadV2Payload {
  be_u16 voice_th_msec;
  be_u16 silence_th_msec;
  uint8_t e_th_db = 0;
  uint8_t reserved[7] = {};
};
struct VadV1Payload {  // fixed words 3, 127, 0
  be_u32 word0;
  be_u32 word1;
  be_u32 word2;
};
struct DelaysPayload {
  be_u32 rx;
  be_u32 tx;
  be_u32 selcal;
};
struct RxGainPayload {
  int8_t gain_db = 0;
  uint8_t reserved[11] = {};
};
struct ToneFilterPayload {
  be_u16 frequency;
  uint8_t enable = 0;
  uint8_t reserved1 = 0;
  be_u16 duration_msec;
  int8_t level_db = 0;
  uint8_t reserved2[5] = {};
};
static_assert(sizeof(VadV2Payload) == 12 && sizeof(VadV1Payload) == 12 && sizeof(DelaysPayload) == 12 &&
              sizeof(RxGainPayload) == 12 && sizeof(ToneFilterPayload) == 12);
static_assert(offsetof(VadV2Payload, silence_th_msec) == 2 && offsetof(VadV2Payload, e_th_db) == 4);
static_assert(offsetof(ToneFilterPayload, enable) == 2 && offsetof(ToneFilterPayload, duration_msec) == 4 &&
              offsetof(ToneFilterPayload, level_db) == 6);

// The payload bytes viewed as one of the alternatives above (copied, never aliased).
template <typename P>
P payload_as(const uint8_t (&payload)[12]) {
  static_assert(sizeof(P) == 12);
  P p;
  std::memcpy(static_cast<void*>(&p), payload, sizeof(P));
  return p;
}
template <typename P>
void set_payload(uint8_t (&payload)[12], const P& p) {
  static_assert(sizeof(P) == 12);
  std::memcpy(payload, static_cast<const void*>(&p), sizeof(P));
}

struct Configure {
  be_u32 timeslot;
  be_u32 what;
  uint8_t payload[12] = {};  // zero unless given
};
static_assert(sizeof(Configure) == 20);
static_assert(offsetof(Configure, what) == 4 && offsetof(Configure, payload) == 8);
static_assert(request_size(DSPROC_CONFIGURE) == sizeof(Configure));

struct FeatureMask {
  be_u32 timeslot;
  be_u32 id;
  be_u32 mask;
};
static_assert(sizeof(FeatureMask) == 12);
static_assert(offsetof(FeatureMask, id) == 4 && offsetof(FeatureMask, mask) == 8);
static_assert(request_size(DSPROC_ENABLE) == sizeof(FeatureMask));
static_assert(request_size(DSPROC_DISABLE) == sizeof(FeatureMask));

// The payload alternatives of ProcEvent, each 12 bytes.
struct VadEvent {
  be_u32 dir_mask;  // bit 0: vad_rx reported, bit 1: vad_tx reported
  be_i32 vad_rx;
  be_i32 vad_tx;
};
struct SdEvent {
  be_i32 sd_rx;
  uint8_t reserved[8] = {};
};
struct BssEvent {
  be_f32 score;
  uint8_t reserved[8] = {};
};
struct FlagsEvent {
  be_u32 flags;
  be_u32 mask;
  uint8_t reserved[4] = {};
};
static_assert(sizeof(VadEvent) == 12 && sizeof(SdEvent) == 12 && sizeof(BssEvent) == 12 &&
              sizeof(FlagsEvent) == 12);
static_assert(offsetof(VadEvent, vad_rx) == 4 && offsetof(VadEvent, vad_tx) == 8);
static_assert(offsetof(FlagsEvent, mask) == 4);

struct ProcEvent {
  be_u32 timeslot;
  be_u32 id;
  be_u32 type;
  uint8_t payload[12] = {};  // VadEvent, SdEvent, BssEvent, FlagsEvent; tone filter: uninterpreted
};
static_assert(sizeof(ProcEvent) == 24);
static_assert(offsetof(ProcEvent, id) == 4 && offsetof(ProcEvent, type) == 8 && offsetof(ProcEvent, payload) == 12);

}  // namespace board::dsp
