#pragma once
// The simulated conference mixer device ("/dev/mixer"): units with their channel and input
// counts, and for every output channel the inputs summed into it with their gains. A channel's
// timeslot is fixed by its unit and number, within the tone and DSP devices' timeslot range.
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "board/sim/RequestDef.h"

namespace board::sim {

class SimBoard;

struct MixerUnit {
  int32_t channels = 0;
  int32_t inputs = 0;  // how many inputs one output may sum
  // Output channel -> (input unit, input channel) -> gain.
  std::map<int32_t, std::map<std::pair<int32_t, int32_t>, int32_t>> sums;
};

class SimMixer {
 public:
  static constexpr int kMaxUnits = 16;
  static constexpr int kMaxChannels = 64;
  static constexpr int kMaxInputs = 1024;
  // Timeslot of channel c of unit u: kFirstTimeslot + u * kMaxChannels + c (3072 to 4095).
  static constexpr int kFirstTimeslot = 3072;

  static std::span<const RequestDef> requests();
  static int timeslot(int unit, int channel) { return kFirstTimeslot + unit * kMaxChannels + channel; }

  // Units by number; a board has one unit of 32 channels until a test says otherwise.
  std::map<int32_t, MixerUnit> units = {{0, MixerUnit{32, 32, {}}}};

  int request(uint32_t number, uint8_t* record, int& error);
  // Adds or replaces a unit (its sums are cleared); false when out of range.
  bool set_unit(int32_t unit, int32_t channels, int32_t inputs);
  // The inputs summed into an output channel; null when the unit or channel does not exist.
  const std::map<std::pair<int32_t, int32_t>, int32_t>* sum(int32_t unit, int32_t channel) const;

 private:
  // The unit of a valid TDM channel, else null.
  MixerUnit* channel_unit(int32_t unit, int32_t type, int32_t channel);
};

// The text-protocol lines of this device ("mixer-unit", "mixer-inputs", "mixer-remove",
// "mixer-units", "mixer-sum"); nullopt for a line that is not one of them.
std::optional<std::string> mixer_command(SimBoard& board, const std::vector<std::string_view>& words);

}  // namespace board::sim
