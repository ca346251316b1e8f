#include "slots/MixerSlot.h"

#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "hardware/SwitchUsers.h"
#include "slots/Mixer.h"

namespace Mixer {

MixerSlot::~MixerSlot() {
  // A lost channel's features were undone when it went; its timeslot may be another port's.
  if (!channelLost) IReleaseChannel();
}

void MixerSlot::IReleaseChannel() {
  TonecReceiver::CleanBeforeDestroy();
  DSProcReceiver::CleanBeforeDestroy();
}

std::optional<bool> MixerSlot::CommonIoctl(LGCP::IoctlParams const& p) {
  if (channelLost) return false;
  switch (p.getID()) {
    case LGCP::IoctlParams::e_translateDTMF: return translateDTMF(p.get_translateDTMF());
    case LGCP::IoctlParams::e_dtmf_params: return configureDTMF(p.get_dtmf_params());
    case LGCP::IoctlParams::e_vad_params: return configureVAD(p.get_vad_params());
    case LGCP::IoctlParams::e_vad_enable: return enableVAD(p.get_vad_enable());
    case LGCP::IoctlParams::e_vad_disable: return disableVAD();
    case LGCP::IoctlParams::e_sd_params: return configureSD();
    case LGCP::IoctlParams::e_sd_enable: return enableSD(p.get_sd_enable());
    case LGCP::IoctlParams::e_sd_disable: return disableSD();
    case LGCP::IoctlParams::e_iva_enable: return enableIVA(p.get_iva_enable());
    case LGCP::IoctlParams::e_delays: {
      const LGCP::Delays& d = p.get_delays();
      if (d.has_selcal()) {
        mixer->PutHeader(std::cerr);
        std::cerr << "error: selcal delay isn't supported for mixer!!! Set to zero." << std::endl;
      }
      return configureDelays(d.has_rx() ? static_cast<unsigned>(d.get_rx().getValue()) : 0u,
                             d.has_tx() ? static_cast<unsigned>(d.get_tx().getValue()) : 0u, 0);
    }
    case LGCP::IoctlParams::e_tone_filter: {
      const LGCP::ToneFilter& f = p.get_tone_filter();
      return configureToneFilter(static_cast<unsigned>(f.get_freq().getValue()), f.get_enable() ? 1u : 0u,
                                 f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
    }
  }
  return std::nullopt;
}

// The switch output of the channel's timeslot feeds the channel's input: every port of the
// channel holds it, and the last one to go disables it.
bool TdmInput::IBeforeDestroy() {
  if (!channelLost) SwitchUsers::leave(timeslot, static_cast<Slot*>(this));
  mixer->Release(*this);
  return true;
}

bool TdmInput::Ioctl(LGCP::IoctlParams const& p) {
  if (auto r = CommonIoctl(p)) return *r;
  switch (p.getID()) {
    case LGCP::IoctlParams::e_echoSuppressor: return echoCancel(p.get_echoSuppressor());
    case LGCP::IoctlParams::e_dtmf_enable: return enableDTMF(p.get_dtmf_enable());
    case LGCP::IoctlParams::e_dtmf_reject_enable: return enableDTMFReject(p.get_dtmf_reject_enable());
    case LGCP::IoctlParams::e_iva_params: return configureIVA(p.get_iva_params());
    case LGCP::IoctlParams::e_rx_gain:
      return configureRxGain(static_cast<char>(p.get_rx_gain().get_gainDB().getValue() & 0xFF));
  }
  return false;
}

bool TdmOutput::IBeforeDestroy() {
  if (!channelLost) SwitchUsers::leave(timeslot, static_cast<Slot*>(this));
  mixer->Release(*this);
  return true;
}

bool TdmOutput::Ioctl(LGCP::IoctlParams const& p) {
  if (auto r = CommonIoctl(p)) return *r;
  switch (p.getID()) {
    case LGCP::IoctlParams::e_dtmf_disable: return disableToneGenerator(false);
    case LGCP::IoctlParams::e_dtmf_reject_disable: return enableDTMFReject(false);
    case LGCP::IoctlParams::e_tone_gen_enable: {
      const LGCP::ToneGenerator& g = p.get_tone_gen_enable();
      disableToneGenerator(false);
      return enableToneGenerator(static_cast<unsigned short>(g.get_freq().getValue()), 0,
                                 static_cast<unsigned short>(g.get_amp().getValue()), 0);
    }
    case LGCP::IoctlParams::e_tone_gen_disable: return disableToneGenerator(true);
  }
  return false;
}

}  // namespace Mixer
