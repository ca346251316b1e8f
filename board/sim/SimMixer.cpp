#include "board/sim/SimMixer.h"

#include <cerrno>
#include <charconv>

#include "board/mixer.h"
#include "board/sim/SimBoard.h"

namespace board::sim {

namespace {

using K = FieldDef::Kind;
using board::mixer::MixRx;
using board::mixer::MixSlot;
using board::mixer::MixUnit;

constexpr RequestDef kRequests[] = {
    {board::mixer::MIX_RX_CLEAR, "MIX_RX_CLEAR", ArgForm::record, 3,
     {FieldDef{"dev_no", 0, 4, K::s}, FieldDef{"type", 4, 4, K::s}, FieldDef{"number", 8, 4, K::s}}},
    {board::mixer::MIX_RX_ADD, "MIX_RX_ADD", ArgForm::record, 7,
     {FieldDef{"rx_dev_no", 0, 4, K::s}, FieldDef{"rx_type", 4, 4, K::s}, FieldDef{"rx_number", 8, 4, K::s},
      FieldDef{"tx_dev_no", 12, 4, K::s}, FieldDef{"tx_type", 16, 4, K::s}, FieldDef{"tx_number", 20, 4, K::s},
      FieldDef{"gain", 24, 4, K::s}}},
    {board::mixer::MIX_RX_REMOVE, "MIX_RX_REMOVE", ArgForm::record, 7,
     {FieldDef{"rx_dev_no", 0, 4, K::s}, FieldDef{"rx_type", 4, 4, K::s}, FieldDef{"rx_number", 8, 4, K::s},
      FieldDef{"tx_dev_no", 12, 4, K::s}, FieldDef{"tx_type", 16, 4, K::s}, FieldDef{"tx_number", 20, 4, K::s},
      FieldDef{"gain", 24, 4, K::s}}},
    {board::mixer::MIX_TDM, "MIX_TDM", ArgForm::record, 3,
     {FieldDef{"dev_no", 0, 4, K::s}, FieldDef{"type", 4, 4, K::s}, FieldDef{"number", 8, 4, K::s}}},
    {board::mixer::MIX_ENUMERATE, "MIX_ENUMERATE", ArgForm::record, 4,
     {FieldDef{"unit", 0, 4, K::s}, FieldDef{"channels", 4, 4, K::s}, FieldDef{"reserved", 8, 4, K::s},
      FieldDef{"inputs", 12, 4, K::s}}},
};

std::optional<int64_t> parse(std::string_view t, int64_t lo, int64_t hi) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || v < lo || v > hi) return std::nullopt;
  return v;
}

}  // namespace

std::span<const RequestDef> SimMixer::requests() { return kRequests; }

MixerUnit* SimMixer::channel_unit(int32_t unit, int32_t type, int32_t channel) {
  auto it = units.find(unit);
  if (it == units.end() || type != board::mixer::kTypeTdm || channel < 0 || channel >= it->second.channels)
    return nullptr;
  return &it->second;
}

int SimMixer::request(uint32_t number, uint8_t* record, int& error) {
  switch (number) {
    case board::mixer::MIX_RX_CLEAR: {
      auto* s = reinterpret_cast<MixSlot*>(record);
      MixerUnit* u = channel_unit(s->dev_no, s->type, s->number);
      if (!u) break;
      u->sums.erase(s->number);
      return 0;
    }
    case board::mixer::MIX_RX_ADD:
    case board::mixer::MIX_RX_REMOVE: {
      auto* r = reinterpret_cast<MixRx*>(record);
      MixerUnit* u = channel_unit(r->rx.dev_no, r->rx.type, r->rx.number);
      if (!u || !channel_unit(r->tx.dev_no, r->tx.type, r->tx.number)) break;
      auto& sum = u->sums[r->rx.number];
      const std::pair<int32_t, int32_t> input{r->tx.dev_no, r->tx.number};
      if (number == board::mixer::MIX_RX_REMOVE) {
        if (sum.erase(input) == 0) {
          error = ENOENT;
          return -1;
        }
        return 0;
      }
      if (!sum.count(input) && static_cast<int32_t>(sum.size()) >= u->inputs) {
        error = ENOSPC;
        return -1;
      }
      sum[input] = r->gain;
      return 0;
    }
    case board::mixer::MIX_TDM: {
      auto* s = reinterpret_cast<MixSlot*>(record);
      if (!channel_unit(s->dev_no, s->type, s->number)) break;
      return timeslot(s->dev_no, s->number);
    }
    case board::mixer::MIX_ENUMERATE: {
      auto* e = reinterpret_cast<MixUnit*>(record);
      auto it = units.upper_bound(e->unit);
      if (it == units.end()) {
        error = ENODEV;
        return -1;
      }
      e->unit = it->first;
      e->channels = it->second.channels;
      e->reserved = 0;
      e->inputs = it->second.inputs;
      return 0;
    }
  }
  error = EINVAL;
  return -1;
}

bool SimMixer::set_unit(int32_t unit, int32_t channels, int32_t inputs) {
  if (unit < 0 || unit >= kMaxUnits || channels < 1 || channels > kMaxChannels || inputs < 0 || inputs > kMaxInputs)
    return false;
  units[unit] = MixerUnit{channels, inputs, {}};
  return true;
}

const std::map<std::pair<int32_t, int32_t>, int32_t>* SimMixer::sum(int32_t unit, int32_t channel) const {
  static const std::map<std::pair<int32_t, int32_t>, int32_t> kEmpty;
  auto u = units.find(unit);
  if (u == units.end() || channel < 0 || channel >= u->second.channels) return nullptr;
  auto s = u->second.sums.find(channel);
  return s == u->second.sums.end() ? &kEmpty : &s->second;
}

std::optional<std::string> mixer_command(SimBoard& board, const std::vector<std::string_view>& t) {
  if (t.empty()) return std::nullopt;
  SimMixer& mixer = board.state().mixer;
  const std::string_view cmd = t[0];
  const size_t n = t.size() - 1;
  if (cmd == "mixer-unit") {
    auto unit = n == 3 ? parse(t[1], 0, SimMixer::kMaxUnits - 1) : std::nullopt;
    auto channels = n == 3 ? parse(t[2], 1, SimMixer::kMaxChannels) : std::nullopt;
    auto inputs = n == 3 ? parse(t[3], 0, SimMixer::kMaxInputs) : std::nullopt;
    if (!unit || !channels || !inputs) return "error usage: mixer-unit <unit 0-15> <channels 1-64> <inputs 0-1024>\n";
    mixer.set_unit(static_cast<int32_t>(*unit), static_cast<int32_t>(*channels), static_cast<int32_t>(*inputs));
    return "ok\n";
  }
  if (cmd == "mixer-inputs") {
    // A unit that sums fewer inputs than it reported, its sums kept: the adds beyond are refused.
    auto unit = n == 2 ? parse(t[1], 0, SimMixer::kMaxUnits - 1) : std::nullopt;
    auto inputs = n == 2 ? parse(t[2], 0, SimMixer::kMaxInputs) : std::nullopt;
    auto it = unit ? mixer.units.find(static_cast<int32_t>(*unit)) : mixer.units.end();
    if (!inputs || it == mixer.units.end()) return "error usage: mixer-inputs <unit> <inputs 0-1024>\n";
    it->second.inputs = static_cast<int32_t>(*inputs);
    return "ok\n";
  }
  if (cmd == "mixer-remove") {
    auto unit = n == 1 ? parse(t[1], 0, SimMixer::kMaxUnits - 1) : std::nullopt;
    if (!unit) return "error usage: mixer-remove <unit>\n";
    return "ok " + std::to_string(mixer.units.erase(static_cast<int32_t>(*unit))) + "\n";
  }
  if (cmd == "mixer-units") {
    if (n != 0) return "error usage: mixer-units\n";
    std::string out = "ok " + std::to_string(mixer.units.size()) + "\n";
    for (const auto& [unit, u] : mixer.units)
      out += std::to_string(unit) + " channels=" + std::to_string(u.channels) + " inputs=" + std::to_string(u.inputs) +
             " timeslot=" + std::to_string(SimMixer::timeslot(unit, 0)) + "\n";
    return out;
  }
  if (cmd == "mixer-sum") {
    auto unit = n == 2 ? parse(t[1], 0, SimMixer::kMaxUnits - 1) : std::nullopt;
    auto channel = n == 2 ? parse(t[2], 0, SimMixer::kMaxChannels - 1) : std::nullopt;
    if (!unit || !channel) return "error usage: mixer-sum <unit> <channel>\n";
    const auto* sum = mixer.sum(static_cast<int32_t>(*unit), static_cast<int32_t>(*channel));
    if (!sum) return "error no such channel\n";
    std::string out = "ok " + std::to_string(sum->size()) + "\n";
    for (const auto& [input, gain] : *sum)
      out += std::to_string(input.first) + "/" + std::to_string(input.second) + " gain=" + std::to_string(gain) + "\n";
    return out;
  }
  return std::nullopt;
}

}  // namespace board::sim
