#include "board/sim/SimSwitch.h"

#include <deque>

namespace board::sim {

namespace {
// Cables can form loops; a signal is followed through at most this many of them.
constexpr int kMaxHops = 32;
}  // namespace

SimSwitch::SimSwitch() : table_(kChannels) {}

void SimSwitch::connect(int output, int source) {
  table_[static_cast<size_t>(output)] = Entry{Entry::connected, 0, source};
}

void SimSwitch::disable(int channel) { table_[static_cast<size_t>(channel)] = Entry{}; }

void SimSwitch::write(int channel, uint8_t byte) {
  table_[static_cast<size_t>(channel)] = Entry{Entry::constant, byte, -1};
}

uint8_t SimSwitch::read(int channel) const { return carried_by(channel, 0); }

uint8_t SimSwitch::carried_by(int channel, int depth) const {
  const Entry& e = entry(channel);
  switch (e.kind) {
    case Entry::constant: return e.byte;
    case Entry::connected: return carried_by_input(e.source, depth);
    case Entry::disabled: break;
  }
  return 0xFF;
}

// An input carries what the output cabled to it carries; nothing (0xFF) when no cable ends there.
uint8_t SimSwitch::carried_by_input(int input, int depth) const {
  if (depth >= kMaxHops) return 0xFF;
  for (const auto& [output, in] : cables_) {
    if (in == input) return carried_by(output, depth + 1);
  }
  return 0xFF;
}

void SimSwitch::cable(int output, int input) { cables_[output] = input; }
void SimSwitch::uncable(int output) { cables_.erase(output); }

std::optional<int> SimSwitch::cable_of(int output) const {
  auto it = cables_.find(output);
  if (it == cables_.end()) return std::nullopt;
  return it->second;
}

void SimSwitch::route(int source, const std::function<void(int)>& reached) const {
  std::vector<bool> seen(kChannels, false);
  std::deque<std::pair<int, int>> inputs{{source, 0}};
  while (!inputs.empty()) {
    auto [input, hops] = inputs.front();
    inputs.pop_front();
    for (int ch = 0; ch < kChannels; ++ch) {
      const Entry& e = table_[static_cast<size_t>(ch)];
      if (e.kind != Entry::connected || e.source != input || seen[static_cast<size_t>(ch)]) continue;
      seen[static_cast<size_t>(ch)] = true;
      reached(ch);
      if (auto next = cable_of(ch); next && hops < kMaxHops) inputs.emplace_back(*next, hops + 1);
    }
  }
}

void SimSwitch::reset() {
  table_.assign(kChannels, Entry{});
  cables_.clear();
}

std::vector<std::pair<int, SimSwitch::Entry>> SimSwitch::driven() const {
  std::vector<std::pair<int, Entry>> out;
  for (size_t ch = 0; ch < table_.size(); ++ch)
    if (table_[ch].kind != Entry::disabled) out.emplace_back(static_cast<int>(ch), table_[ch]);
  return out;
}

}  // namespace board::sim
