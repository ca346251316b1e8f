#pragma once
// The ED-137 dialect of the radio controllers: receives the R2S extensions of one RTP
// session, reports accepted ones to the call controller as radio requests, and sends the
// controller's radio status and commands as extensions. The gateway side
// (ED137RadioGWControl) supplies what it accepts, stores and sends, the periodic receive
// report and the keep-alive watch.
#include <cstdint>

#include "radio/ED137RadioState.h"
#include "radio/R2SProto.h"
#include "radio/RadioControl.h"

namespace TERM {
class RtpRadioRequest;
}

namespace RTPSignalling {

class ED137RadioControl : public RadioControl {
 public:
  ED137RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit ED137RadioControl(rtp_ext_init_params const& init);
  ED137RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);

  void SetParams(ED137RadioParams const& params) { params_ = params; }
  const ED137RadioParams& params() const { return params_; }

  // Take only the "ed-137" alternative (false otherwise: the slot reports it). A transmit
  // command whose extension does not reach the session of the controller's own now also
  // answers false, and changes nothing: keyed at some later time, the radio would transmit
  // after the controller was told it does not. A receive state is carried by the periodic
  // report. A transmit PTT taken is held: every session made later gets it at its start.
  bool SendASNToChan(TERM::RadioStatus const& status) override;
  bool SendASNToChan(TERM::RadioModifier const& modifier) override;
  bool GetSQU() override { return radioState.squ > 0; }

  virtual int PutProtoFromRadioToChan(ED137RadioState const&) { return 0; }
  virtual int PutProtoFromChanToRadio(ED137RadioState const&) { return 0; }
  virtual int AccessFormChanToRadio(ED137RadioState const&) { return 1; }
  virtual int EncodeProto(ED137RadioState const&, r2s_proto&) { return 0; }

  // The request for the controller: the radio's status from `old`, the command from `now`.
  static void EncodeASN(ED137RadioState const& old, ED137RadioState const& now, TERM::RtpRadioRequest& request);
  // Sends a state from the controller when it is new (or the device sends no keep-alives) and
  // makes it the radio's; false, with the radio's state and filter as they were, when a
  // transmit state did not reach the device.
  bool SendRadioStateToChan(ED137RadioState const& state);
  bool NeedSendProto(ED137RadioState const& state) const;
  // One received extension, the last of its run.
  void OnRtpProtoRXEvent(r2s_proto const& record);
  int SendProtoToChan(r2s_proto const& record);

  const ED137RadioState& chan_state() const { return chanState; }
  const ED137RadioState& radio_state() const { return radioState; }
  uint32_t last_tx() const { return last_tx_; }
  uint32_t last_rx() const { return last_rx_; }
  uint32_t last_report() const { return last_report_; }

 protected:
  void OnRtpExtEvent(int fd, short revents) override;
  // A held transmit PTT, to a new session.
  bool WriteHeldState() override;
  void Init();

  ED137RadioParams params_;
  r2s_proto received_{};  // the extension being received
  r2s_proto previous_{};  // the previous extension of the current run
  uint32_t last_tx_ = 0;      // last rx extension sent
  uint32_t last_report_ = 0;  // last request passed to the controller
  uint32_t last_rx_ = 0;      // last extension decoded
  ED137RadioState chanState;   // the last state accepted from the IP side
  ED137RadioState radioState;  // the radio's state as the controller set it
};

}  // namespace RTPSignalling
