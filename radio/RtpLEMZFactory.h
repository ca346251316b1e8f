#pragma once
// Maker of LEMZ radio RTP slots (gateway side): an RTP create whose radio status is "lemz".
// Its controller has an own extension session attached to the slot's RTP session, or, when
// the create says "only-rtp", joins the extension session another process owns.
#include "radio/RtpRadioFactory.h"

class RtpLEMZFactory : public RtpRadioFactory {
 public:
  RtpLEMZFactory() : RtpRadioFactory("rtp ext LEMZ") {}
  const char* GetName() const override { return "RTP Ext LEMZ"; }

 protected:
  bool Takes(TERM::RadioStatus const& status) const override;
  RtpExtSlot* MakeSlot(int channel, int device, board::rtp::rtp_connection_params const& params,
                       TERM::RtpParams const& rtp) override;
};
