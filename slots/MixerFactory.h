#pragma once
// Factory of conference mixer ports: finds the mixer units on every resource query, reports
// them, and makes "mixerIn" and "mixerOut" slots on the units it found. Once a unit is found it
// holds "/dev/mixer" open to learn of a reset of the board's drivers (the descriptor hangs
// up), after which every unit sends its wanted sums again.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "foundation/Event.h"
#include "foundation/TimerEvent.h"
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
  // A device that is away after a hang-up is tried again this often.
  static constexpr unsigned kReopenMs = 1000;

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
  // Whether the hang-up watch holds the device.
  bool watching() const { return watch_.fd() >= 0; }

  bool versionValid = false;
  char driverVersion[20] = {};
  int minInputs = -1;    // -1: no unit found yet
  int minChannels = -1;  // -1: no unit found yet
  std::vector<Mixer*> mixers;

 private:
  // Opens the device for the hang-up watch; false (logged unless quiet) when it does not open.
  bool Watch(bool quiet);
  // The watched descriptor reports a hang-up or an error: the drivers were reset.
  void OnWatch(int fd, short revents);
  void OnReopen();

  static MixerFactory* instance_;
  Event watch_;
  Timer reopen_;
  bool lost_ = false;  // the watch hung up: the next open puts the sums back
};

}  // namespace Mixer
