#include "board/sim/SimSwitch.h"

#include <algorithm>

namespace board::sim {

namespace {
// Cables can form loops; a signal is followed through at most this many of them.
constexpr int kMaxHops = 32;
}  // namespace

SimSwitch::SimSwitch() : table_(kChannels), fed_by_(kChannels), reached_by_(kChannels, 0) {}

void SimSwitch::connect(int output, int source) { set(output, Entry{Entry::connected, 0, source}); }

void SimSwitch::disable(int channel) { set(channel, Entry{}); }

void SimSwitch::write(int channel, uint8_t byte) { set(channel, Entry{Entry::constant, byte, -1}); }

// Every change of the table passes here, so that the index by source follows it.
void SimSwitch::set(int channel, const Entry& entry) {
  Entry& e = table_[static_cast<size_t>(channel)];
  // (A source outside the table, which the driver refuses, is stored but feeds nothing.)
  const bool was = e.kind == Entry::connected && valid(e.source);
  const bool is = entry.kind == Entry::connected && valid(entry.source);
  if (was && is && e.source == entry.source) return;  // the same connection made again
  if (was) {
    auto& fed = fed_by_[static_cast<size_t>(e.source)];
    fed.erase(std::lower_bound(fed.begin(), fed.end(), channel));
  }
  if (is) {
    auto& fed = fed_by_[static_cast<size_t>(entry.source)];
    fed.insert(std::lower_bound(fed.begin(), fed.end(), channel), channel);
  }
  e = entry;
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

const std::vector<int>& SimSwitch::route(int source) const {
  static const std::vector<int> none;
  if (!valid(source)) return none;
  const std::vector<int>& direct = fed_by_[static_cast<size_t>(source)];
  if (cables_.empty()) return direct;  // each channel has one source: no channel twice
  if (++routes_ == 0) {  // the numbers went round: no stale mark may match again
    std::fill(reached_by_.begin(), reached_by_.end(), 0);
    routes_ = 1;
  }
  reached_.clear();
  inputs_.clear();
  inputs_.emplace_back(source, 0);
  // Breadth first, each input's channels in channel order; inputs_ grows as it is walked.
  for (size_t next = 0; next < inputs_.size(); ++next) {
    const auto [input, hops] = inputs_[next];
    for (int ch : fed_by_[static_cast<size_t>(input)]) {
      uint32_t& mark = reached_by_[static_cast<size_t>(ch)];
      if (mark == routes_) continue;
      mark = routes_;
      reached_.push_back(ch);
      if (hops >= kMaxHops) continue;
      auto cable = cables_.find(ch);
      if (cable != cables_.end() && valid(cable->second)) inputs_.emplace_back(cable->second, hops + 1);
    }
  }
  return reached_;
}

void SimSwitch::reset() {
  table_.assign(kChannels, Entry{});
  for (auto& fed : fed_by_) fed.clear();
  cables_.clear();
}

std::vector<std::pair<int, SimSwitch::Entry>> SimSwitch::driven() const {
  std::vector<std::pair<int, Entry>> out;
  for (size_t ch = 0; ch < table_.size(); ++ch)
    if (table_[ch].kind != Entry::disabled) out.emplace_back(static_cast<int>(ch), table_[ch]);
  return out;
}

}  // namespace board::sim
