#pragma once
// One conference mixer unit of "/dev/mixer" with its live ports, the device's request helper
// and the translation of controller channels into the device's channel blocks.
//
// For every output channel the unit keeps the sum the daemon wants apart from the sum the unit
// confirmed. A refused request, a reset of the board's drivers or a device away leaves the two
// apart; the unit's retry timer closes the gap, backing off while the device keeps refusing, and
// so does the next port on a channel that is still summed where nobody wants it.
//
// The sum wanted is that of the output's live users, in the order they made their wishes: a
// mixerOut port sets the whole sum, a mixerIn port adds its channel to its summator's. A port
// that goes takes its wish with it, so that the sum of a port that replaced another on the
// channel, or the input of another port, stays.
#include <cstddef>
#include <iosfwd>
#include <map>
#include <optional>
#include <vector>

#include "board/mixer.h"
#include "foundation/TimerEvent.h"
#include "hardware/NewestWish.h"

namespace LGCP {
class MixerChannel;
class MixerInParams;
class MixerOutParams;
}  // namespace LGCP

class Slot;

namespace Mixer {

class MixerFactory;
class MixerSlot;
class TdmInput;
class TdmOutput;

// Opens "/dev/mixer" for this one request and closes it again; the request's result, with
// errno kept from the request (or from the open when the device does not open).
int mixer_ctl(uint32_t request, void* arg);

class Mixer {
 public:
  // The first wait before a refused sum is tried again; it doubles while the unit keeps
  // refusing, up to kMaxRetryMs.
  static constexpr unsigned kRetryMs = 50;
  static constexpr unsigned kMaxRetryMs = 2000;
  // Output channels one retry pass brings in line at most: a unit of thousands of channels
  // found again after a reset must not hold the loop.
  static constexpr std::size_t kOutputsPerPass = 64;

  // The inputs of one output channel: input channel (of the same unit) -> gain.
  using Sum = std::map<int, int>;

  Mixer(MixerFactory& factory, int unit) : factory(factory), unit(unit) {}
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  // "mixer [<unit>]: ".
  void PutHeader(std::ostream& os) const;

  // A new input (output) port, or null when its channel is refused.
  Slot* New(LGCP::MixerInParams const& params);
  Slot* New(LGCP::MixerOutParams const& params);
  // Undoes a port's mixer set-up (nothing for a port that lost its channel); the mixer goes
  // with its last port once it is stale.
  void Release(TdmInput& in);
  void Release(TdmOutput& out);

  // A newly found unit: every output channel loses its inputs.
  void Reset();
  // A unit that disappeared: its ports lose their channels and are aborted (the controller
  // destroys them); nothing of it is wanted any more.
  void Clear();
  // The board's drivers were reset: nothing the unit confirmed is known to stand, and every
  // wanted sum is sent again.
  void OnDeviceReset();
  // Sets the inputs of an output channel as the parameters list them; false, with the output
  // as it was, when the unit refuses any part of it.
  bool SetTX(LGCP::MixerOutParams const& params);
  bool ClearTX(LGCP::MixerChannel const& channel);
  // The device block of a controller channel; false for a channel that is not TDM.
  bool Channel2Slot(LGCP::MixerChannel const& channel, board::mixer::MixSlot& slot) const;
  // The timeslot of a mixer channel; -1 (logged) when the device refuses it.
  int channel2timeslot(int channel);
  void Register(MixerSlot* slot);
  void UnRegister(MixerSlot* slot);
  // Deletes the mixer when it is stale and has no port left.
  void CheckForDestroy();

  // The sum wanted on an output channel, and the sum the unit confirmed there (nullopt: not
  // known, the channel is cleared first).
  Sum wanted(int output) const;
  std::optional<Sum> held(int output) const;
  // Output channels whose confirmed sum is not the wanted one.
  std::size_t owed() const;

  MixerFactory& factory;
  int unit;
  // Not found by the last enumeration.
  bool stale = false;
  std::vector<MixerSlot*> slots;

 private:
  // A port's wish for an output's sum: a mixerOut's replaces what older wishes made, a
  // mixerIn's adds its channel.
  struct SumWish {
    bool replaces = false;
    Sum sum;
  };
  using SumUsers = NewestWish<SumWish, const MixerSlot*>;

  struct OutputSum {
    SumUsers users;
    Sum wanted;  // what the users' wishes make, oldest first
    std::optional<Sum> held;
    bool owed = false;  // the gap was logged: retries stay quiet until it closes
  };

  // The sum the users' wishes make.
  static Sum made(const SumUsers& users);
  // port's wish on output goes and the sum is brought to what the others make: a clear when no
  // port is left (clear: whatever the daemon believes the output holds).
  void leave(int output, const MixerSlot& port, bool clear);

  // A sum request; false (errno set) when refused. A unit found away (the device does not
  // open, or the unit no longer knows a channel it reported) loses what it confirmed (at the end
  // of the settle that met it): every sum is cleared and sent again once it answers.
  bool request(uint32_t number, void* arg);
  // "MIX_RX_ADD" of input `tx` to output `rx`; false when the device refuses it (logged unless
  // quiet).
  bool add(board::mixer::MixSlot const& rx, board::mixer::MixSlot const& tx, int gain, bool quiet = false);
  // "MIX_RX_REMOVE" of input `input` from output `output`; true also when the unit answers that
  // the input is not there.
  bool remove(int output, int input, bool quiet);
  // "MIX_RX_CLEAR" of output channel `output`.
  bool clear(int output, bool quiet);
  // How a channel is brought in line: now (a release, a reset: a failure leaves the gap owed,
  // logged once), retry (the timer: the requests of a gap already logged stay quiet), attempt
  // (a create that undoes what it did when refused: no gap is owed yet).
  enum class Try { now, retry, attempt };
  // Brings one output channel to its wanted sum: a clear when its sum is not known or nothing
  // is wanted, then the removals and the adds that differ. True once it holds; the entry goes
  // once nothing is wanted and the unit confirmed the channel empty.
  bool settle(int output, Try how = Try::now);
  // The timer: a pass over the channels still owed, then the next one, backing off while the
  // unit refuses.
  void OnRetry();
  // Arms the retry timer when a channel is owed and it is not armed.
  void arm();
  // Channels other than the wanted sums through which input channel `channel` is, or may be,
  // still heard are brought in line; false (logged) when one of them still holds it.
  bool unsummed(int channel);
  // True unless a route of an earlier port still touches timeslot ts of mixer channel
  // `channel` (its takedown owed): a new port there would hear that call, or be heard by it.
  // Logged when false.
  bool unrouted(int channel, int ts);
  // The output channel and input list of a create, checked against the unit before anything
  // is sent; nullopt (logged) when one is not a channel of the unit or there are more inputs
  // than an output sums.
  std::optional<Sum> CheckInputs(LGCP::MixerOutParams const& params, int output);
  // A controller channel as one of the unit's TDM channels, or -1.
  int channelOf(LGCP::MixerChannel const& channel) const;
  // The block of TDM channel `channel` of this unit.
  board::mixer::MixSlot tdm(int channel) const;
  // A port's tone generator is stopped before the port goes.
  template <class Port>
  void silence(Port& port);

  std::map<int, OutputSum> outputs_;  // channels with a sum wanted or one to undo
  Timer retry_;
  unsigned retryMs_ = kRetryMs;
  int cursor_ = 0;  // the retry pass starts after this channel, so that none is left behind
  bool absent_ = false;       // found away and not yet answering again (logged once)
  bool forget_ = false;       // found away just now: what every channel confirmed is forgotten
  bool lastReached_ = false;  // the last refused request reached the unit
};

}  // namespace Mixer
