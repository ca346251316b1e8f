#pragma once
// Factory of conference mixer ports: finds the mixer units on every resource query, reports
// them, and makes "mixerIn" and "mixerOut" slots on the units it found.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "slots/SlotFactory.h"

namespace Mixer {

class Mixer;

class MixerFactory : public SlotFactory {
 public:
  // At most this many units are held.
  static constexpr std::size_t kMaxMixers = 100;
  // The most channels and inputs a unit is taken to have: its channels are timeslots, and a
  // unit that claims more must not make a reset issue billions of requests.
  static constexpr int kMaxChannels = 4096;
  // Processing units a mixer, an echo canceller and an LMS take, as reported.
  static constexpr int kDpuPerMixer = 770;
  static constexpr int kDpuPerEc = 17;
  static constexpr int kDpuPerLms = 24;

  // The last factory built (the process has one).
  static MixerFactory* instance() { return instance_; }

  MixerFactory();
  ~MixerFactory() override;

  const char* GetName() const override { return "Mixer"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // "mixer: ".
  void PutHeader(std::ostream& os) const;

  // The live unit of that number, or null.
  Mixer* findMixer(int unit) const;
  // Enumerates the units: new ones are reset, vanished ones cleared and dropped.
  void RefreshResources();

  bool versionValid = false;
  char driverVersion[20] = {};
  int minInputs = -1;    // -1: no unit found yet
  int minChannels = -1;  // -1: no unit found yet
  std::vector<Mixer*> mixers;

 private:
  static MixerFactory* instance_;
};

}  // namespace Mixer
