#pragma once
// The two port kinds of a conference mixer: an input that other slots feed through the TDM
// switch and an output that feeds other slots. Both carry the tone-control and DSP-processing
// receivers of their timeslot.
#include <optional>

#include "slots/Slot.h"

namespace Mixer {

class Mixer;

class MixerSlot : public Slot, public Hardware::TonecReceiver, public Hardware::DSProcReceiver {
 public:
  MixerSlot(Mixer& mixer, int channel, int timeslot) : mixer(&mixer), channel(channel), timeslot(timeslot) {}
  ~MixerSlot() override;

  unsigned tonec_timeslot() const override { return static_cast<unsigned>(timeslot); }
  unsigned dsproc_timeslot() const override { return static_cast<unsigned>(timeslot); }
  void dsproc_tone_flt_event(Hardware::dsproc_tone_event const* event) override { processToneFltEvent(event); }
  void dsproc_flags_event(Hardware::dsproc_flags_event const* event) override { processFlagsEvent(event); }
  // The timeslot's tone and DSP features go with the channel.
  void IReleaseChannel() override;

  Mixer* mixer;
  int channel;   // the mixer channel
  int timeslot;  // its TDM timeslot

 protected:
  // The ioctls both ports take alike; nullopt for the others, false for all once the channel
  // is lost.
  std::optional<bool> CommonIoctl(LGCP::IoctlParams const& params);
};

class TdmInput : public MixerSlot {
 public:
  using MixerSlot::MixerSlot;

  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnInputStream() override { return true; }
  int IGetReceiveChannel() override { return held(timeslot); }
  const char* GetName() const override { return "mixer tdm input"; }

  void tonec_event(Hardware::TonecReceiver::Params const& event) override { processTonecEvent(event); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { processVADEvent(event); }
  void dsproc_bss_event(Hardware::dsproc_bss_event const* event) override { processBSSEvent(event); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { processSDEvent(event); }

  bool summed = false;
  int summator = -1;  // the output channel this input is added to
};

class TdmOutput : public MixerSlot {
 public:
  using MixerSlot::MixerSlot;

  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnOutputStream() override { return true; }
  int IGetTransmitChannel() override { return held(timeslot); }
  const char* GetName() const override { return "mixer tdm output"; }

  void tonec_event(Hardware::TonecReceiver::Params const&) override {}
  void tone_gen_complete() override { processToneGenEvent(); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const&) override {}
  void dsproc_bss_event(Hardware::dsproc_bss_event const*) override {}
  void dsproc_sd_event(Hardware::DSProcSDEvent const&) override {}
};

}  // namespace Mixer
