#pragma once
// The LEMZ dialect of the radio controllers: receives the signalling packets of one RTP
// session, reports the accepted ones to the call controller as radio requests, and sends the
// controller's radio status and commands as packets. The gateway and workstation sides
// (LemzRadioGWControl, LemzRadioWSControl) supply which packets they accept, store and send.
#include <cstdint>

#include "radio/LemzRadioState.h"
#include "radio/RadioControl.h"
#include "radio/SigProto.h"

namespace TERM {
class RtpRadioRequest;
}

namespace RTPSignalling {

class LemzRadioControl : public RadioControl {
 public:
  // Periodic groups of the gateway's announcements: 129/130/133, 132, 134, 135.
  static constexpr int kGroups = 4;

  LemzRadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  explicit LemzRadioControl(rtp_ext_init_params const& init);
  LemzRadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);

  // Take only the "lemz" alternative (false otherwise: the slot reports it).
  bool SendASNToChan(TERM::RadioStatus const& status) override;
  bool SendASNToChan(TERM::RadioModifier const& modifier) override;
  // The radio's squelch is open.
  bool GetSQU() override { return radioState.sql > 0; }

  // What the sides supply: storing a state from the controller (into radioState) and from the
  // IP side (into chanState), each -1 for a full state; whether a received state may control
  // the radio; the packet for a state (-1: this side does not send that command).
  virtual int PutProtoFromRadioToChan(LemzRadioState const&) { return 0; }
  virtual int PutProtoFromChanToRadio(LemzRadioState const&) { return 0; }
  virtual int AccessFormChanToRadio(LemzRadioState const&) { return 1; }
  virtual int EncodeProto(LemzRadioState const&, sig_proto&) { return 0; }

  // The request for the controller: the radio's status from `old`, the command from `now`.
  static void EncodeASN(LemzRadioState const& old, LemzRadioState const& now, TERM::RtpRadioRequest& request);
  // Makes a state from the controller the radio's and sends its packet; a command (not a
  // status, which the periodic announcements carry) whose packet does not reach the session of
  // the controller's own answers false and leaves the radio's state and filter as they were.
  bool SendRadioStateToChan(LemzRadioState const& state, bool command = false);
  // One received packet, the last of its run.
  void OnRtpProtoRXEvent(sig_proto const& packet);
  int SendProtoToChan(sig_proto const& packet);
  // The periodic group a gateway packet type belongs to; -1 for none.
  static int GroupOf(uint32_t type);

  const LemzRadioState& chan_state() const { return chanState; }
  const LemzRadioState& radio_state() const { return radioState; }
  uint32_t group_stamp(int group) const { return groupStamp[group]; }

 protected:
  void OnRtpExtEvent(int fd, short revents) override;
  void Init();
  // The storing rules shared by the sides: the fields of a workstation command (types 1 to
  // 13) and those of a gateway announcement (types 129 to 135); the session of a WM_TRANS
  // body only with `trans_session`. Both -1 for a full state (which takes every field).
  static int StoreCommandFields(LemzRadioState& to, LemzRadioState const& from);
  static int StoreStatusFields(LemzRadioState& to, LemzRadioState const& from, bool trans_session);
  void Trace(const char* what, int32_t command, TERM::RtpRadioRequest const& request);

  LemzRadioState chanState;   // the last state accepted from the IP side
  LemzRadioState radioState;  // the radio's state as the controller set it
  sig_proto received_{};      // the packet being received
  sig_proto previous_{};      // the previous packet of the current run
  uint32_t groupStamp[kGroups] = {};
};

}  // namespace RTPSignalling
