#pragma once
// "/dev/dsp-data": the DSP data device. Each descriptor is one signalling channel (one read is
// one received frame, one write one frame sent) that can open up to three B channels beside it.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::dspdata {

inline constexpr const char* kPath = "/dev/dsp-data";

inline constexpr uint32_t DSPDATA_TIMESLOT = 0x40044211;  // no argument; result = its TDM channel
inline constexpr uint32_t DSPDATA_OPEN_B = 0x8008420f;    // BChannel: index in, TDM channel out
inline constexpr uint32_t DSPDATA_CLOSE_B = 0x80084210;   // BChannel: index and its TDM channel

inline constexpr uint32_t kBChannels = 3;

struct BChannel {
  be_u32 index;   // 0 to 2
  be_i32 channel; // -1 on the way in; the TDM channel on the way out
};
static_assert(sizeof(BChannel) == 8);
static_assert(offsetof(BChannel, channel) == 4);
static_assert(request_size(DSPDATA_OPEN_B) == sizeof(BChannel));
static_assert(request_size(DSPDATA_CLOSE_B) == sizeof(BChannel));

}  // namespace board::dspdata
