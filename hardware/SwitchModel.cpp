#include "hardware/SwitchModel.h"

#include <algorithm>

namespace {
SwitchModel* g_current = nullptr;

int uses_of(const std::unordered_map<int, int>& uses, int channel) {
  const auto it = uses.find(channel);
  return it == uses.end() ? 0 : it->second;
}

// A route counts as a use of its source and of the output it reaches.
void count_route(std::unordered_map<int, int>& uses, int channel, SwitchModel::State s, int delta) {
  if (s.kind != SwitchModel::State::routed) return;
  uses[s.value] += delta;
  uses[channel] += delta;
}
}  // namespace

SwitchModel::SwitchModel() : previous_(g_current) {
  for (Output& o : bus_) o.want = o.confirmed = State::Disabled();
  g_current = this;
}

// (A model made beside the process-wide one, as unit tests do, hands the answers back to it.)
SwitchModel::~SwitchModel() {
  if (g_current == this) g_current = previous_;
}

SwitchModel* SwitchModel::current() { return g_current; }

bool SwitchModel::confirmed_route_uses(int channel) { return g_current && g_current->confirmed_uses(channel); }

bool SwitchModel::route_uses(int channel) { return g_current && g_current->uses(channel); }

bool SwitchModel::confirmed_uses(int channel) const {
  return channel >= 0 && uses_of(confirmedUses_, channel) > 0;
}

bool SwitchModel::uses(int channel) const {
  if (channel < 0) return false;
  if (uses_of(confirmedUses_, channel) > 0 || uses_of(wantedUses_, channel) > 0) return true;
  // Its own output not yet as wanted: what the switch still drives there is not known.
  const Output* o = find(channel);
  return o && o->want.kind != State::none && o->want != o->confirmed;
}

SwitchModel::Output* SwitchModel::at(int channel) {
  if (channel < 0) return nullptr;
  if (is_bus(channel)) return &bus_[static_cast<std::size_t>(channel - kFirstOutput)];
  return &others_[channel];
}

const SwitchModel::Output* SwitchModel::find(int channel) const {
  if (channel < 0) return nullptr;
  if (is_bus(channel)) return &bus_[static_cast<std::size_t>(channel - kFirstOutput)];
  const auto it = others_.find(channel);
  return it == others_.end() ? nullptr : &it->second;
}

SwitchModel::Output* SwitchModel::find(int channel) {
  return const_cast<Output*>(static_cast<const SwitchModel*>(this)->find(channel));
}

void SwitchModel::set_want(int channel, Output& o, State s) {
  if (s != o.want) o.retryMs = 0;
  count_route(wantedUses_, channel, o.want, -1);
  o.want = s;
  count_route(wantedUses_, channel, s, 1);
  if (o.want != o.confirmed) mark_owed(channel, o);
}

void SwitchModel::mark_owed(int channel, Output& o) {
  if (o.owed) return;
  o.owed = true;
  owed_.push_back(channel);
}

void SwitchModel::unschedule(Output& o, int channel) {
  if (o.then.kind == State::none) return;
  o.then = State{};
  o.graceOf = -1;
  std::erase(scheduled_, channel);
}

void SwitchModel::want(int channel, State state) {
  Output* o = at(channel);
  if (!o) return;
  unschedule(*o, channel);
  set_want(channel, *o, state);
}

void SwitchModel::confirm(int channel, State state) {
  Output* o = at(channel);
  if (!o) return;
  count_route(confirmedUses_, channel, o->confirmed, -1);
  o->confirmed = state;
  count_route(confirmedUses_, channel, state, 1);
  if (o->want != o->confirmed) mark_owed(channel, *o);
}

void SwitchModel::forget_confirmed() {
  confirmedUses_.clear();
  for (Output& o : bus_) o.confirmed = State{}, o.retryMs = 0;
  for (auto& [channel, o] : others_) o.confirmed = State{}, o.retryMs = 0;
  // Everything wanted is owed again: the bus outputs in order, as an open sends them, then
  // the channels outside the bus in channel order.
  for (int channel : owed_) at(channel)->owed = false;
  owed_.clear();
  for (int i = 0; i < kOutputs; ++i) mark_owed(kFirstOutput + i, bus_[static_cast<std::size_t>(i)]);
  std::vector<int> others;
  for (const auto& [channel, o] : others_)
    if (o.want.kind != State::none) others.push_back(channel);
  std::sort(others.begin(), others.end());
  for (int channel : others) mark_owed(channel, others_[channel]);
}

void SwitchModel::schedule(int channel, State then, uint32_t due, int released) {
  Output* o = at(channel);
  if (!o) return;
  if (o->then.kind == State::none) scheduled_.push_back(channel);
  o->then = then;
  o->due = due;
  o->graceOf = released;
}

std::size_t SwitchModel::settle_owed() {
  std::erase_if(owed_, [this](int channel) {
    Output* o = at(channel);
    if (o->want != o->confirmed && o->want.kind != State::none) return false;
    o->owed = false;
    return true;
  });
  return owed_.size();
}

std::size_t SwitchModel::owed_takedowns() const {
  std::size_t n = 0;
  for (int channel : owed_) {
    const Output* o = find(channel);
    if (o && o->want != o->confirmed && o->want.kind != State::none && o->want.kind != State::routed) ++n;
  }
  return n;
}
