#include "radio/RtpLEMZFactory.h"

#include <unistd.h>

#include "asn1/schemas/TERM.h"
#include "radio/RtpLEMZSlot.h"

using namespace RTPSignalling;

bool RtpLEMZFactory::Takes(TERM::RadioStatus const& status) const { return status.is_lemz(); }

RtpExtSlot* RtpLEMZFactory::MakeSlot(int channel, int device, board::rtp::rtp_connection_params const& params,
                                     TERM::RtpParams const& rtp) {
  if (rtp.has_rtp_e2m() && rtp.get_rtp_e2m().has_mode() && rtp.get_rtp_e2m().get_mode().is_only_rtp()) {
    const TERM::RtpExtDescription& owner = rtp.get_rtp_e2m().get_mode().get_only_rtp();
    rtp_attach_session_params attach;
    attach.fd_rtp = owner.get_fd().getValue();
    attach.pid_rtp = owner.get_pid().getValue();
    return new RtpLEMZRadioGWSlot(channel, device, params, attach);
  }
  rtp_ext_init_params init{};
  init.etype = board::rtp_ext::kEtypeLemz;
  init.mode = 0;
  init.keepalive_pt = 0;
  init.keepalive_period = 0;
  init.keepalive_sigtime = 0;
  rtp_ext_attach_session_params attach;
  attach.fd_rtp = device;
  attach.pid_rtp = static_cast<int32_t>(::getpid());
  return new RtpLEMZRadioGWSlot(channel, device, params, attach, init, true);
}
