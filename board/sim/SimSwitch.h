#pragma once
// The simulated TDM switch: what drives every channel, and the cables outside the switch that
// carry an output back to an input (a trunk looped at the far end, two boards wired together).
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace board::sim {

class SimSwitch {
 public:
  // Channels the driver accepts: 0 up to (not including) kChannels.
  static constexpr int kChannels = 16384;

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

  // Follows a signal that enters the switch at `source`: calls `reached` for every channel
  // whose entry connects it to the signal, through any number of cables, each channel once.
  void route(int source, const std::function<void(int channel)>& reached) const;

  void reset();

 private:
  uint8_t carried_by_input(int input, int depth) const;
  uint8_t carried_by(int channel, int depth) const;

  std::vector<Entry> table_;
  std::map<int, int> cables_;  // output -> input
};

}  // namespace board::sim
