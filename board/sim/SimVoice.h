#pragma once
// The simulated voice DSP device ("/dev/voice"): reports how many channels of each codec the
// DSP runs. Tests set the counts.
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>

#include "board/sim/RequestDef.h"

namespace board::sim {

class SimVoice {
 public:
  static std::span<const RequestDef> requests();

  // Codec ids the text protocol may add, so that a client cannot grow the table without end.
  static constexpr size_t kMaxCodecs = 64;

  // Channels by codec id; an id not listed is refused (EINVAL).
  std::map<int32_t, int32_t> codec_channels = {{1, 64}, {2, 32}, {4, 32}, {8, 0}, {65, 64}};

  int request(uint32_t number, uint8_t* record, int& error);
};

}  // namespace board::sim
