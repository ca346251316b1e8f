#pragma once
// The simulated voice DSP device ("/dev/voice"): reports how many channels of each codec the
// DSP runs and its driver version. Tests set both.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "board/sim/RequestDef.h"

namespace board::sim {

class SimVoice {
 public:
  static std::span<const RequestDef> requests();

  // Codec ids the text protocol may add, so that a client cannot grow the table without end.
  static constexpr size_t kMaxCodecs = 64;

  // Channels by codec id; an id not listed is refused (EINVAL).
  std::map<int32_t, int32_t> codec_channels = {{1, 64}, {2, 32}, {4, 32}, {8, 0}, {65, 64}};

  // The driver version text (at most 20 bytes reach the daemon).
  std::string version = "sim-voice 1.0";

  int request(uint32_t number, uint8_t* record, int& error);
};

class SimBoard;
// The text-protocol line of the version ("voice-version", its words and the whole line);
// nullopt for any other line.
std::optional<std::string> voice_command(SimBoard& board, const std::vector<std::string_view>& words,
                                         std::string_view line);

}  // namespace board::sim
