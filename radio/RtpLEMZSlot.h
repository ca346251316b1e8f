#pragma once
// The LEMZ radio RTP slots: the dialect slot and its gateway and workstation forms, each with
// its controller made from the extension device blocks of the create.
#include "radio/RtpExtSlot.h"

class RtpLEMZSlot : public RtpExtSlot {
 public:
  using RtpExtSlot::RtpExtSlot;
  const char* GetName() const override { return "rtp ext LEMZ"; }
};

class RtpLEMZRadioGWSlot : public RtpLEMZSlot {
 public:
  // Own extension session attached to this slot's RTP session; the status timer as asked.
  RtpLEMZRadioGWSlot(int channel, int device, rtp_connection_params const& params,
                     RTPSignalling::rtp_ext_attach_session_params const& attach,
                     RTPSignalling::rtp_ext_init_params const& init, bool timer);
  // Own extension session only.
  RtpLEMZRadioGWSlot(int channel, int device, rtp_connection_params const& params,
                     RTPSignalling::rtp_ext_init_params const& init);
  // This slot's RTP session joins an extension session another process owns.
  RtpLEMZRadioGWSlot(int channel, int device, rtp_connection_params const& params,
                     RTPSignalling::rtp_attach_session_params const& attach);
  const char* GetName() const override { return "rtp ext LEMZ (GW)"; }
};

class RtpLEMZRadioWSSlot : public RtpLEMZSlot {
 public:
  RtpLEMZRadioWSSlot(int channel, int device, rtp_connection_params const& params,
                     RTPSignalling::rtp_ext_attach_session_params const& attach,
                     RTPSignalling::rtp_ext_init_params const& init);
  RtpLEMZRadioWSSlot(int channel, int device, rtp_connection_params const& params,
                     RTPSignalling::rtp_ext_init_params const& init);
  RtpLEMZRadioWSSlot(int channel, int device, rtp_connection_params const& params,
                     RTPSignalling::rtp_attach_session_params const& attach);
  const char* GetName() const override { return "rtp ext LEMZ (WS)"; }
};
