#pragma once
// "/dev/voice": the voice DSP as a whole; here, how many channels of each codec it can run.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::voice {

inline constexpr const char* kPath = "/dev/voice";

// CodecQuery in; the result is the number of channels of that codec.
inline constexpr uint32_t VOICE_CODEC_CHANNELS = 0x40045602;

// Codec ids of VOICE_CODEC_CHANNELS.
inline constexpr int32_t kCodecG711 = 1;
inline constexpr int32_t kCodecG723 = 2;
inline constexpr int32_t kCodecG729 = 4;
inline constexpr int32_t kCodecG711Mcc = 8;
inline constexpr int32_t kCodecUniversal = 65;

struct CodecQuery {
  be_i32 codec;
};
static_assert(sizeof(CodecQuery) == 4 && request_size(VOICE_CODEC_CHANNELS) == sizeof(CodecQuery));

}  // namespace board::voice
