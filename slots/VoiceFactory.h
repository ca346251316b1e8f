#pragma once
// Factory of the voice slots: players of prompt files or TCP streams and recorders to TCP
// servers, each on a transparent channel of the HDLC controller. It adds no resources.
#include <iosfwd>
#include <string>
#include <vector>

#include "slots/SlotFactory.h"

class Fd;

namespace LGCP {
class PlayerParams;
}
namespace TERM {
class HostAddress;
}
class PlaySlotGeneric;
class RecordSlot;

class VoiceFactory : public SlotFactory {
 public:
  // Receive block size of a voice channel, and the thresholds of each direction.
  static constexpr unsigned kPacketSize = 1024;
  static constexpr unsigned kThreshold = 5;

  // The last factory built (the process has one).
  static VoiceFactory* instance() { return instance_; }

  VoiceFactory();
  ~VoiceFactory() override;

  const char* GetName() const override { return "Voice/mcc"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}
  // "voice/mcc[0]: ".
  void PutHeader(std::ostream& os) const;

  Slot* CreatePlay(LGCP::PlayerParams const& params);
  Slot* CreateRecord(TERM::HostAddress const& host);
  void OnDestroy(RecordSlot* slot);
  void OnDestroy(PlaySlotGeneric* slot);

  // Whether a host names a TCP peer: a dotted address and a port; a name that is not an
  // address must not become a connection to 0.0.0.0.
  static bool ValidHost(TERM::HostAddress const& host);

  std::vector<RecordSlot*> recorders;
  std::vector<PlaySlotGeneric*> players;

 private:
  // An allocated transparent channel opened with `flags` (owned by the caller), or -1 (logged).
  int OpenChannel(int flags, const char* direction, unsigned rxThreshold, unsigned txThreshold);
  // Whether a new slot got its copy of the channel; a line when not (the slot is then deleted,
  // and the channel goes with the factory's descriptor).
  bool Holds(Fd const& copy);

  static VoiceFactory* instance_;
};
