#include "radio/RtpED137Slot.h"

#include "radio/ED137RadioGWControl.h"

using namespace RTPSignalling;

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, int device, rtp_connection_params const& params,
                                         rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init,
                                         ED137RadioParams const& radio)
    : RtpED137Slot(channel, device, params) {
  auto* c = new ED137RadioGWControl(channel, OwnDevice(attach), init);
  Adopt(c, 0);
  c->SetParams(radio);
  c->SetTimerInterval(radio.keepalive_period * radio.keepalive_multiplier / 2);
  c->SetTimerEnable(true);
  radioInput = radio.transmission_depend_on_squ != 0;
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, int device, rtp_connection_params const& params,
                                         rtp_ext_init_params const& init)
    : RtpED137Slot(channel, device, params) {
  Adopt(new ED137RadioGWControl(init), 0);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, int device, rtp_connection_params const& params,
                                         rtp_attach_session_params const& attach)
    : RtpED137Slot(channel, device, params) {
  Adopt(new ED137RadioGWControl(channel, DeviceCopy(), attach), 0);
}
