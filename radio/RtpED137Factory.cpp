#include "radio/RtpED137Factory.h"

#include "asn1/schemas/TERM.h"
#include "radio/ED137RadioGWControl.h"
#include "radio/RtpED137Slot.h"

using namespace RTPSignalling;

bool RtpED137Factory::Takes(TERM::RadioStatus const& status) const { return status.is_ed_137(); }

RtpExtSlot* RtpED137Factory::MakeSlot(int channel, int device, board::rtp::rtp_connection_params const& params,
                                      TERM::RtpParams const& rtp) {
  ED137RadioParams radio;
  const TERM::ED137RadioStatus& status = rtp.get_radio().get_status().get_ed_137();
  if (status.has_radio_response()) radio.Init(status.get_radio_response());
  // The device counts the keep-alive period in packet times of 10 ms per packet factor.
  const uint32_t packet_factor = params.packet_factor == 0 ? 2u : uint32_t{params.packet_factor};
  uint32_t period = radio.keepalive_period / (packet_factor * 10);
  uint32_t sigtime = 1;
  if (radio.sigtime != 0) {
    period *= radio.sigtime;
    sigtime = radio.sigtime;
  }
  const rtp_ext_init_params init = ED137RadioGWControl::ExtInit(period, sigtime);
  rtp_ext_attach_session_params attach;
  attach.fd_rtp = device;
  attach.pid_rtp = -1;
  return new RtpED137RadioGWSlot(channel, device, params, attach, init, radio);
}
