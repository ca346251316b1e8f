#include "radio/ED137RadioControl.h"

#include <poll.h>

#include <iostream>

#include "asn1/schemas/TERM.h"
#include "foundation/Mux.h"
#include "radio/RadioText.h"

namespace RTPSignalling {

ED137RadioControl::ED137RadioControl(int id, rtp_ext_attach_session_params const& attach,
                                     rtp_ext_init_params const& init)
    : RadioControl(id, attach, init) {
  Init();
}

ED137RadioControl::ED137RadioControl(rtp_ext_init_params const& init) : RadioControl(init) { Init(); }

ED137RadioControl::ED137RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(id, std::move(rtp), attach) {
  Init();
}

void ED137RadioControl::Init() {
  time_stamp_ = Mux::milliseconds();
  last_tx_ = last_report_ = last_rx_ = time_stamp_;
  r2s_proto_init(&received_, 0);
  r2s_proto_init(&previous_, 0);
}

bool ED137RadioControl::SendASNToChan(TERM::RadioStatus const& status) {
  if (!status.is_ed_137()) return false;
  ED137RadioState state = radioState;
  state.DecodeASN(status.get_ed_137());
  SendRadioStateToChan(state);
  return true;
}

bool ED137RadioControl::SendASNToChan(TERM::RadioModifier const& modifier) {
  if (!modifier.is_ed_137()) return false;
  ED137RadioState state = radioState;
  if (const std::string* refused = state.DecodeASN(modifier.get_ed_137())) return RefuseAddress(*refused);
  return SendRadioStateToChan(state);
}

void ED137RadioControl::EncodeASN(ED137RadioState const& old, ED137RadioState const& now,
                                  TERM::RtpRadioRequest& request) {
  old.EncodeStatusASN(request.get_status().select_ed_137());
  TERM::ED137RadioModifier& m = request.include_request().select_ed_137();
  m.get_addr().set_session_addr(DottedText(now.session_addr));
  m.get_addr().set_session_ssrc(now.ssrc);
  if (!now.EncodeASN(m.get_params())) request.omit_request();
}

int ED137RadioControl::SendProtoToChan(r2s_proto const& record) {
  return SendRecord(record, [](const r2s_proto* r, uint8_t* buf, size_t size) { return r2s_proto_pack(r, buf, size); });
}

bool ED137RadioControl::NeedSendProto(ED137RadioState const& state) const {
  // Without the device's own keep-alives every state is sent, repeats included.
  if (uint32_t{init_params_.keepalive_period} < 1 || uint32_t{init_params_.keepalive_sigtime} < 1) return true;
  return !state.IsEqual(radioState);
}

bool ED137RadioControl::SendRadioStateToChan(ED137RadioState const& state) {
  // A transmit state repeated while no session of ours holds the radio's (none is open, or a
  // new one has not taken the held PTT yet) is written all the same: the answer must say
  // whether the session has it.
  const bool lacking = state.IsTx() && owns_session() && (!ext_fd_ || held_owed_);
  if (!lacking && !NeedSendProto(state)) return true;
  r2s_proto record{};
  const bool encoded = EncodeProto(state, record) == 0;
  // Nothing else carries a transmit state (the periodic report is a receive state): one that
  // does not reach the session now is refused, and not taken for the radio's.
  const int sent = encoded ? SendProtoToChan(record) : 0;
  if (state.IsTx() && encoded && Undelivered(sent)) {
    std::cerr << GetPrefix() << "send tx extension fail !!!" << std::endl;
    return false;
  }
  if (state.IsTx() && sent > 0) held_owed_ = false;  // the session has the newest one
  PutProtoFromRadioToChan(state);
  if (encoded) {
    time_stamp_ = Mux::milliseconds();
    if (state.IsRx()) last_tx_ = time_stamp_;
  }
  if (trace_) {
    TERM::RtpRadioRequest request;
    EncodeASN(radioState, radioState, request);
    std::clog << GetPrefix() << "command=0x" << std::hex << state.content << std::dec
              << " receive extension from controller: " << request << std::endl;
  }
  in_addr holder{radioState.session_addr};
  UpdateAccess(radioState.ptt != 0, holder);
  return true;
}

bool ED137RadioControl::WriteHeldState() {
  // Only a keyed radio needs telling: a new session starts unkeyed.
  if (!radioState.IsTx() || radioState.ptt == 0) return true;
  r2s_proto record{};
  if (EncodeProto(radioState, record) != 0 || SendProtoToChan(record) < 1) return false;
  time_stamp_ = Mux::milliseconds();
  return true;
}

void ED137RadioControl::OnRtpProtoRXEvent(r2s_proto const& record) {
  ED137RadioState state;
  state.DecodeProto(record);
  if (!AccessFormChanToRadio(state)) return;
  const auto since = static_cast<int32_t>(time_stamp_ - last_report_);
  const uint32_t age = since > 0 ? static_cast<uint32_t>(since) : 0;
  if (state.IsEqual(chanState) && age < interval_) return;
  TERM::RtpRadioRequest request;
  EncodeASN(radioState, state, request);
  if (trace_) {
    std::clog << GetPrefix() << " command=0x" << std::hex << state.content << std::dec
              << " send extension to controller: " << request << std::endl;
  }
  // Only a report that went out counts: one that did not leaves the next extension to report.
  if (!notify_ || !notify_->RadioControlNotify(request)) return;
  PutProtoFromChanToRadio(state);
  last_report_ = time_stamp_;
}

void ED137RadioControl::OnRtpExtEvent(int, short revents) {
  if (revents & POLLIN) {
    if (trace_) std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
    time_stamp_ = Mux::milliseconds();
    ReceiveRuns(
        received_, previous_,
        [this](r2s_proto* r, const uint8_t* data, size_t size) {
          const int result = r2s_proto_unpack_tx(r, data, size);
          if (result == 0) last_rx_ = time_stamp_;
          return result;
        },
        [](const r2s_proto* a, const r2s_proto* b) { return cmp_r2s_proto_source(a, b); },
        [this](const r2s_proto& r) { OnRtpProtoRXEvent(r); });
  }
  DropHungUpSession(revents);
}

}  // namespace RTPSignalling
