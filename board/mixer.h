#pragma once
// "/dev/mixer": the conference mixers. Each unit has channels that are TDM timeslots; an output
// channel carries the weighted sum of the input channels added to it. Every request goes
// through a fresh descriptor (the daemon opens the device per request).
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::mixer {

inline constexpr const char* kPath = "/dev/mixer";

inline constexpr uint32_t MIX_RX_CLEAR = 0x800C4D02;   // MixSlot: every input of this output goes
inline constexpr uint32_t MIX_RX_ADD = 0x801C4D03;     // MixRx: input tx added to output rx
inline constexpr uint32_t MIX_RX_REMOVE = 0x801C4D04;  // MixRx, gain not significant
inline constexpr uint32_t MIX_TDM = 0x800C4D06;        // MixSlot; result = the channel's timeslot
inline constexpr uint32_t MIX_ENUMERATE = 0x80104D07;  // MixUnit in (previous unit, -1 first) and out

// Channel types of a MixSlot; the daemon uses TDM channels only.
inline constexpr int32_t kTypeTdm = 0;

// The full-scale gain of an input.
inline constexpr int32_t kFullGain = 32767;

struct MixSlot {
  be_i32 dev_no;  // the unit
  be_i32 type;
  be_i32 number;  // the channel
};
static_assert(sizeof(MixSlot) == 12);
static_assert(offsetof(MixSlot, type) == 4 && offsetof(MixSlot, number) == 8);
static_assert(request_size(MIX_RX_CLEAR) == sizeof(MixSlot) && request_size(MIX_TDM) == sizeof(MixSlot));

struct MixRx {
  MixSlot rx;  // the output, summing point
  MixSlot tx;  // the input source
  be_i32 gain;
};
static_assert(sizeof(MixRx) == 28);
static_assert(offsetof(MixRx, tx) == 12 && offsetof(MixRx, gain) == 24);
static_assert(request_size(MIX_RX_ADD) == sizeof(MixRx) && request_size(MIX_RX_REMOVE) == sizeof(MixRx));

struct MixUnit {
  be_i32 unit;
  be_i32 channels;
  be_i32 reserved;
  be_i32 inputs;
};
static_assert(sizeof(MixUnit) == 16);
static_assert(offsetof(MixUnit, channels) == 4 && offsetof(MixUnit, inputs) == 12);
static_assert(request_size(MIX_ENUMERATE) == sizeof(MixUnit));

}  // namespace board::mixer
