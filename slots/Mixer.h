#pragma once
// One conference mixer unit of "/dev/mixer" with its live ports, the device's request helper
// and the translation of controller channels into the device's channel blocks.
#include <iosfwd>
#include <vector>

#include "board/mixer.h"

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
  // destroys them).
  void Clear();
  // Sets the inputs of an output channel as the parameters list them.
  bool SetTX(LGCP::MixerOutParams const& params);
  bool ClearTX(LGCP::MixerChannel const& channel);
  // The device block of a controller channel; false for a channel that is not TDM.
  bool Channel2Slot(LGCP::MixerChannel const& channel, board::mixer::MixSlot& slot) const;
  // The timeslot of a mixer channel; -1 (logged) when the device refuses it.
  int channel2timeslot(int channel);
  // A live input port on mixer channel `channel`.
  bool InputOn(int channel) const;
  void Register(MixerSlot* slot);
  void UnRegister(MixerSlot* slot);
  // Deletes the mixer when it is stale and has no port left.
  void CheckForDestroy();

  MixerFactory& factory;
  int unit;
  // Not found by the last enumeration.
  bool stale = false;
  std::vector<MixerSlot*> slots;

 private:
  // "MIX_RX_ADD" of input `tx` to output `rx`; false (logged) when the device refuses it.
  bool add(board::mixer::MixSlot const& rx, board::mixer::MixSlot const& tx, int gain);
  // The block of TDM channel `channel` of this unit.
  board::mixer::MixSlot tdm(int channel) const;
  // A port on a TDM channel below the smallest channel count, with its timeslot; else null.
  template <class Port>
  Port* NewPort(LGCP::MixerChannel const& channel);
  // A port's tone generator is stopped before the port goes.
  template <class Port>
  void silence(Port& port);
};

}  // namespace Mixer
