#include "radio/RtpLEMZSlot.h"

#include "radio/LemzRadioGWControl.h"
#include "radio/LemzRadioWSControl.h"

using namespace RTPSignalling;

namespace {
constexpr uint32_t kGatewaySide = 0;
constexpr uint32_t kWorkstationSide = 1;
}  // namespace

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int channel, int device, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                       bool timer)
    : RtpLEMZSlot(channel, device, params) {
  Adopt(new LemzRadioGWControl(channel, OwnDevice(attach), init), kGatewaySide);
  controller()->SetTimerEnable(timer);
}

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int channel, int device, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpLEMZSlot(channel, device, params) {
  Adopt(new LemzRadioGWControl(init), kGatewaySide);
}

RtpLEMZRadioGWSlot::RtpLEMZRadioGWSlot(int channel, int device, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpLEMZSlot(channel, device, params) {
  Adopt(new LemzRadioGWControl(channel, DeviceCopy(), attach), kGatewaySide);
}

RtpLEMZRadioWSSlot::RtpLEMZRadioWSSlot(int channel, int device, rtp_connection_params const& params,
                                       rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : RtpLEMZSlot(channel, device, params) {
  Adopt(new LemzRadioWSControl(channel, OwnDevice(attach), init), kWorkstationSide);
}

RtpLEMZRadioWSSlot::RtpLEMZRadioWSSlot(int channel, int device, rtp_connection_params const& params,
                                       rtp_ext_init_params const& init)
    : RtpLEMZSlot(channel, device, params) {
  Adopt(new LemzRadioWSControl(init), kWorkstationSide);
}

RtpLEMZRadioWSSlot::RtpLEMZRadioWSSlot(int channel, int device, rtp_connection_params const& params,
                                       rtp_attach_session_params const& attach)
    : RtpLEMZSlot(channel, device, params) {
  Adopt(new LemzRadioWSControl(channel, DeviceCopy(), attach), kWorkstationSide);
}
