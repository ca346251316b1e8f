#pragma once
// Maker of ED-137 radio RTP slots (gateway side): an RTP create whose radio status is
// "ed-137". The radio's session parameters set the extension device's keep-alives and the
// controller's keep-alive watch.
#include "radio/RtpRadioFactory.h"

class RtpED137Factory : public RtpRadioFactory {
 public:
  RtpED137Factory() : RtpRadioFactory("rtp ext ED137") {}
  const char* GetName() const override { return "RTP Ext ED137"; }

 protected:
  bool Takes(TERM::RadioStatus const& status) const override;
  RtpExtSlot* MakeSlot(int channel, int device, board::rtp::rtp_connection_params const& params,
                       TERM::RtpParams const& rtp) override;
};
