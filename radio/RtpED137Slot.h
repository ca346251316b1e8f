#pragma once
// The ED-137 radio RTP slots: the dialect slot and its gateway form, whose controller takes the
// radio's session parameters and whose status tick comes twice per keep-alive limit.
#include "radio/ED137RadioState.h"
#include "radio/RtpExtSlot.h"

class RtpED137Slot : public RtpExtSlot {
 public:
  using RtpExtSlot::RtpExtSlot;
  const char* GetName() const override { return "rtp ext ed137"; }
};

class RtpED137RadioGWSlot : public RtpED137Slot {
 public:
  // Own extension session attached to this slot's RTP session, with the radio's parameters:
  // the tick every keep-alive period x multiplier / 2, the receive path on the squelch when
  // transmission depends on it.
  RtpED137RadioGWSlot(int channel, int device, rtp_connection_params const& params,
                      RTPSignalling::rtp_ext_attach_session_params const& attach,
                      RTPSignalling::rtp_ext_init_params const& init, RTPSignalling::ED137RadioParams const& radio);
  // The other two forms, with default parameters and no tick.
  RtpED137RadioGWSlot(int channel, int device, rtp_connection_params const& params,
                      RTPSignalling::rtp_ext_init_params const& init);
  RtpED137RadioGWSlot(int channel, int device, rtp_connection_params const& params,
                      RTPSignalling::rtp_attach_session_params const& attach);
  const char* GetName() const override { return "rtp ext ED137 (GW)"; }
};
