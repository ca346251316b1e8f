#include "slots/MixerFactory.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "board/voice.h"
#include "foundation/Fd.h"
#include "foundation/Hex.h"
#include "hardware/DevNames.h"
#include "slots/Mixer.h"

namespace Mixer {

MixerFactory* MixerFactory::instance_ = nullptr;

MixerFactory::MixerFactory() {
  instance_ = this;
  watch_.Bind("MixerFactory::OnWatch", &MixerFactory::OnWatch, this);
}

MixerFactory::~MixerFactory() {
  if (instance_ == this) instance_ = nullptr;
  // Ports still alive keep pointing at their mixer: the factory goes only with the process.
  for (Mixer* m : mixers)
    if (m->slots.empty()) delete m;
}

void MixerFactory::PutHeader(std::ostream& os) const { os << "mixer: "; }

Mixer* MixerFactory::findMixer(int unit) const {
  for (Mixer* m : mixers)
    if (!m->stale && m->unit == unit) return m;
  return nullptr;
}

Slot* MixerFactory::INewSlot(LGCP::CreateParams const& params) {
  switch (params.getID()) {
    case LGCP::CreateParams::e_mixerOut: {
      const LGCP::MixerOutParams& p = params.get_mixerOut();
      Mixer* m = findMixer(p.get_unit().getValue());
      return m ? m->New(p) : nullptr;
    }
    case LGCP::CreateParams::e_mixerIn: {
      const LGCP::MixerInParams& p = params.get_mixerIn();
      Mixer* m = findMixer(p.get_unit().getValue());
      return m ? m->New(p) : nullptr;
    }
  }
  return nullptr;
}

void MixerFactory::Query(LGCP::Resources& r) {
  RefreshResources();
  auto& list = r.get_mixer();
  list.resize(0);
  for (Mixer* m : mixers) {
    LGCP::MixerResources_subtype entry;
    entry.set_unit(m->unit);
    entry.set_tdm_inputs(std::max(minChannels, 0));
    entry.set_tdm_outputs(std::max(minChannels, 0));
    entry.set_mixer_inputs(std::max(minInputs, 0));
    entry.set_dpu_per_mixer(kDpuPerMixer);
    entry.set_dpu_per_ec(kDpuPerEc);
    entry.set_dpu_per_lms(kDpuPerLms);
    list.push_back(entry);
  }
}

void MixerFactory::RefreshResources() {
  for (Mixer* m : mixers) m->stale = true;
  minInputs = minChannels = -1;
  board::mixer::MixUnit block;
  block.unit = -1;
  std::vector<Mixer*> found;
  // Each pass reports one unit, so a driver that repeats itself cannot hold the loop either.
  for (size_t pass = 0; pass < kMaxMixers && mixers.size() + found.size() < kMaxMixers; ++pass) {
    if (mixer_ctl(board::mixer::MIX_ENUMERATE, &block) < 0) break;
    const int unit = block.unit;
    const int channels = std::clamp<int>(block.channels, 0, kMaxChannels);
    const int inputs = std::clamp<int>(block.inputs, 0, kMaxChannels);
    minChannels = minChannels < 0 ? channels : std::min(minChannels, channels);
    minInputs = minInputs < 0 ? inputs : std::min(minInputs, inputs);
    auto known = std::find_if(mixers.begin(), mixers.end(), [unit](Mixer* m) { return m->unit == unit && m->stale; });
    if (known != mixers.end()) {
      (*known)->stale = false;
      continue;
    }
    // A unit the enumeration reports twice is one unit.
    if (findMixer(unit) || std::any_of(found.begin(), found.end(), [unit](Mixer* m) { return m->unit == unit; })) break;
    found.push_back(new Mixer(*this, unit));
  }
  // New units are cleared once the smallest channel count of this enumeration is known.
  for (Mixer* m : found) {
    mixers.push_back(m);
    m->Reset();
  }
  for (auto it = mixers.begin(); it != mixers.end();) {
    Mixer* m = *it;
    if (!m->stale) {
      ++it;
      continue;
    }
    it = mixers.erase(it);
    m->Clear();  // may delete m
  }
  if (!mixers.empty() && !watching() && !reopen_.is_set() && !Watch(false))
    reopen_.set(kReopenMs, &MixerFactory::OnReopen, this);

  Fd voice(board::open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC));
  if (!voice) {
    std::cerr << "device " << ext::quoted(std::string(GetVoiceDevName())) << " open fail: " << std::strerror(errno)
              << std::endl;
    return;
  }
  board::voice::VersionInfo version{};
  versionValid = board::ioctl(voice.get(), board::voice::VOICE_VERSION, &version) >= 0;
  if (versionValid) std::memcpy(driverVersion, version.text, sizeof driverVersion);
}

bool MixerFactory::Watch(bool quiet) {
  Fd fd(board::open(GetMixerDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    if (!quiet) {
      const int error = errno;
      PutHeader(std::cerr);
      std::cerr << "device " << ext::quoted(std::string(GetMixerDevName())) << " open fail: " << std::strerror(error)
                << std::endl;
    }
    return false;
  }
  // No poll events asked: a driver without a poll method reports itself always ready, while a
  // hang-up and an error are reported whatever is asked.
  if (!watch_.Schedule(fd, 0)) return false;
  reopen_.reset();
  if (lost_) {
    lost_ = false;
    PutHeader(std::clog);
    std::clog << "device opened again" << std::endl;
    for (Mixer* m : mixers) m->OnDeviceReset();
  }
  return true;
}

void MixerFactory::OnWatch(int, short revents) {
  // No events are asked for: anything reported is a hang-up, an error or a descriptor gone.
  if (revents == 0) return;
  PutHeader(std::cerr);
  std::cerr << "device hung up" << std::endl;
  watch_.Release();
  lost_ = true;
  if (!Watch(false)) reopen_.set(kReopenMs, &MixerFactory::OnReopen, this);
}

void MixerFactory::OnReopen() {
  // One open a period while the device stays away; its failure was logged at the hang-up.
  if (!Watch(true)) reopen_.set(kReopenMs, &MixerFactory::OnReopen, this);
}

}  // namespace Mixer
