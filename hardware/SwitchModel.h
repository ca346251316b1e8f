#pragma once
// What the daemon wants of the TDM switch, output by output, beside what the switch last
// confirmed. Slots and services change only the wanted state (through HwMux); the reconciler in
// HwMux sends the difference and records what the switch took. A wanted state may carry a
// deadline: until then the output keeps its route (a released channel's last frames leave
// through it), then it takes the state that follows; any later wish for the output replaces
// both.
//
// The model also answers whether a route into or out of a channel still stands, so that a
// channel's holder knows when the channel may go to a new owner.
#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

class SwitchModel {
 public:
  static constexpr int kFirstOutput = 8192;
  static constexpr int kOutputs = 2048;

  struct State {
    enum Kind : uint8_t { none, disabled, constant, routed };
    Kind kind = none;  // none: nothing wanted (or, confirmed, nothing known)
    int value = 0;     // constant: the byte; routed: the source channel
    static State Disabled() { return {disabled, 0}; }
    static State Constant(uint8_t byte) { return {constant, byte}; }
    static State Routed(int source) { return {routed, source}; }
    bool operator==(const State&) const = default;
    bool feeds_from(int channel) const { return kind == routed && value == channel; }
  };

  struct Output {
    State want;
    State confirmed;
    // A wanted state with a deadline: `then` replaces `want` at `due` (loop clock, ms).
    State then;
    uint32_t due = 0;
    int graceOf = -1;              // the released channel whose last frames it still carries
    bool owed = false;             // in the owed list: want differs from confirmed
    bool refused = false;          // refused for good as far as HwMux can tell (its shared budget)
    // The back-off of the owed wish (or of the refresh's re-disable): 0 until the switch refuses
    // it, then the interval after which it is tried again (retryAt, loop clock, ms). A new wish
    // starts it over.
    uint16_t retryMs = 0;
    uint32_t retryAt = 0;
  };

  SwitchModel();
  ~SwitchModel();
  SwitchModel(const SwitchModel&) = delete;
  SwitchModel& operator=(const SwitchModel&) = delete;

  // The model of the switch in use (the one HwMux keeps), or null before there is one.
  static SwitchModel* current();

  // True while a route into or out of channel stands on the switch as it last confirmed.
  static bool confirmed_route_uses(int channel);
  // True while a route into or out of channel stands on the switch or is still wanted (to be
  // made again after a reopen, or kept for a grace), or while a takedown of the channel's own
  // output is still owed.
  static bool route_uses(int channel);

  // The same questions of this model.
  bool confirmed_uses(int channel) const;
  bool uses(int channel) const;

  // The output's record, made on first use; null for a negative channel.
  Output* at(int channel);
  // The output's record if the model knows it.
  const Output* find(int channel) const;
  Output* find(int channel);

  // A new wish for the output: replaces what was wanted, with any deadline on it.
  void want(int channel, State state);
  // The switch took state for the output.
  void confirm(int channel, State state);
  // The switch was opened anew (or reset): nothing it carries is known, everything wanted is
  // owed, in channel order.
  void forget_confirmed();
  // Keeps the output's route until due, then wants `then`; the released channel is noted.
  void schedule(int channel, State then, uint32_t due, int released);

  // Outputs whose wanted state differs from the confirmed one, oldest first (entries that
  // caught up are skipped by whoever walks it; see settle_owed).
  std::vector<int>& owed() { return owed_; }
  // Drops the entries of the owed list that caught up; returns how many stay.
  std::size_t settle_owed();
  // Outputs carrying a deadline.
  const std::vector<int>& scheduled() const { return scheduled_; }
  // Owed outputs whose wanted state is not a route (takedowns still to be taken).
  std::size_t owed_takedowns() const;

  // Calls fn(channel, output) for every output the model knows.
  template <class Fn>
  void each(Fn fn) {
    for (int i = 0; i < kOutputs; ++i) fn(kFirstOutput + i, bus_[static_cast<std::size_t>(i)]);
    for (auto& [channel, o] : others_) fn(channel, o);
  }

  // The bus outputs for the refresh sweep: index 0..kOutputs-1.
  Output& bus(int index) { return bus_[static_cast<std::size_t>(index)]; }
  const Output& bus(int index) const { return bus_[static_cast<std::size_t>(index)]; }
  static bool is_bus(int channel) { return channel >= kFirstOutput && channel < kFirstOutput + kOutputs; }

 private:
  void set_want(int channel, Output& o, State s);
  void mark_owed(int channel, Output& o);
  void unschedule(Output& o, int channel);

  std::array<Output, kOutputs> bus_{};
  std::unordered_map<int, Output> others_;
  std::vector<int> owed_;
  std::vector<int> scheduled_;
  // By channel: how many wanted and confirmed states route from it, plus one for each of its
  // own output's states that is a route into it.
  std::unordered_map<int, int> wantedUses_;
  std::unordered_map<int, int> confirmedUses_;
  SwitchModel* previous_;  // the model in use before this one was made
};
