#pragma once
// The simulated TDM switch: what drives every channel, and the cables outside the switch that
// carry an output back to an input (a trunk looped at the far end, two boards wired together).
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "board/hal.h"

namespace board::sim {

class SimSwitch {
 public:
  // Channels the driver accepts: 0 up to (not including) kChannels.
  static constexpr int kChannels = board::hal::kChannels;

  struct Entry {
    enum Kind : uint8_t { disabled, constant, connected };
    Kind kind = disabled;
    uint8_t byte = 0;     // constant: the byte driven
    int32_t source = -1;  // connected: the source channel
  };

  SimSwitch();

  static bool valid(int64_t channel) { return channel >= 0 && channel < kChannels; }

  void connect(int output, int source);
  void disable(int channel);
  void write(int channel, uint8_t byte);
  const Entry& entry(int channel) const { return table_[static_cast<size_t>(channel)]; }
  // Every channel that is not disabled, in channel order.
  std::vector<std::pair<int, Entry>> driven() const;

  // The byte a channel carries: its constant, or what its source carries; 0xFF when undriven.
  uint8_t read(int channel) const;

  // A cable from `output` to `input`; a loopback is cable(output, output). One cable per output.
  void cable(int output, int input);
  void uncable(int output);
  std::optional<int> cable_of(int output) const;
  const std::map<int, int>& cables() const { return cables_; }

  // Follows a signal that enters the switch at `source`: every channel whose entry connects it
  // to the signal, through any number of cables, each channel once; those connected to the
  // source itself first, in channel order, then those beyond each one's cable. A look-up on
  // every frame that crosses the switch, without allocation once warm. The list holds until
  // the switch changes or routes again.
  const std::vector<int>& route(int source) const;

  void reset();

 private:
  void set(int channel, const Entry& entry);
  uint8_t carried_by_input(int input, int depth) const;
  uint8_t carried_by(int channel, int depth) const;

  std::vector<Entry> table_;
  // By source: the channels connected to it, in channel order; kept as the table changes.
  std::vector<std::vector<int>> fed_by_;
  std::map<int, int> cables_;  // output -> input

  // What a route through cables works with, kept between frames: the channels reached, the
  // inputs still to follow (with the cables crossed to get there), and per channel the number
  // of the last route that reached it.
  mutable std::vector<int> reached_;
  mutable std::vector<std::pair<int, int>> inputs_;
  mutable std::vector<uint32_t> reached_by_;
  mutable uint32_t routes_ = 0;
};

}  // namespace board::sim
