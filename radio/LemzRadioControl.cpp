#include "radio/LemzRadioControl.h"

#include <poll.h>

#include <initializer_list>
#include <iostream>

#include "asn1/schemas/TERM.h"
#include "foundation/Mux.h"
#include "radio/RadioText.h"

namespace RTPSignalling {

LemzRadioControl::LemzRadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init)
    : RadioControl(id, attach, init) {
  Init();
}

LemzRadioControl::LemzRadioControl(rtp_ext_init_params const& init) : RadioControl(init) { Init(); }

LemzRadioControl::LemzRadioControl(int id, Fd rtp, rtp_attach_session_params const& attach)
    : RadioControl(id, std::move(rtp), attach) {
  Init();
}

void LemzRadioControl::Init() {
  time_stamp_ = Mux::milliseconds();
  for (auto& stamp : groupStamp) stamp = time_stamp_;
  sig_proto_init(&received_);
  sig_proto_init(&previous_);
}

bool LemzRadioControl::SendASNToChan(TERM::RadioStatus const& status) {
  if (!status.is_lemz()) return false;
  LemzRadioState state = radioState;
  state.DecodeASN(status.get_lemz());
  SendRadioStateToChan(state);
  return true;
}

bool LemzRadioControl::SendASNToChan(TERM::RadioModifier const& modifier) {
  if (!modifier.is_lemz()) return false;
  LemzRadioState state = radioState;
  if (const std::string* refused = state.DecodeASN(modifier.get_lemz())) return RefuseAddress(*refused);
  return SendRadioStateToChan(state, true);
}

void LemzRadioControl::EncodeASN(LemzRadioState const& old, LemzRadioState const& now, TERM::RtpRadioRequest& request) {
  old.EncodeStatusASN(request.get_status().select_lemz());
  TERM::LemzRadioModifier& m = request.include_request().select_lemz();
  m.get_addr().set_session_addr(DottedText(now.src_addr));
  m.get_addr().set_session_ssrc(now.src_ssrc);
  // A full state carries no command.
  if (!now.EncodeParamsASN(m.get_params())) request.omit_request();
}

int LemzRadioControl::GroupOf(uint32_t type) {
  switch (type) {
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS: return 0;
    case WM_CHAN: return 1;
    case WM_SELECT_RC_CHAN: return 2;
    case WM_STANDBY: return 3;
  }
  return -1;
}

int LemzRadioControl::SendProtoToChan(sig_proto const& packet) {
  return SendRecord(packet, [](const sig_proto* p, uint8_t* buf, size_t size) { return sig_proto_pack(p, buf, size); });
}

void LemzRadioControl::Trace(const char* what, int32_t command, TERM::RtpRadioRequest const& request) {
  std::clog << GetPrefix() << "command=0x" << std::hex << static_cast<uint32_t>(command) << std::dec << what << request
            << std::endl;
}

bool LemzRadioControl::SendRadioStateToChan(LemzRadioState const& state, bool command) {
  const LemzRadioState before = radioState;
  if (PutProtoFromRadioToChan(state) != -1) {
    sig_proto packet;
    sig_proto_init(&packet);
    if (EncodeProto(state, packet) == 0) {
      if (Undelivered(SendProtoToChan(packet)) && command) {
        // Taken later, a refused command (a PTT among them) would key the radio at a time the
        // controller does not know. The only-rtp form sends through another process's session
        // and keeps what it is told.
        radioState = before;
        std::cerr << GetPrefix() << "send command fail !!!" << std::endl;
        return false;
      }
      time_stamp_ = Mux::milliseconds();
      if (int g = GroupOf(packet.type); g >= 0) groupStamp[g] = time_stamp_;
    }
  }
  if (trace_) {
    TERM::RtpRadioRequest request;
    EncodeASN(radioState, radioState, request);
    Trace(" receive extension from controller: ", state.command, request);
  }
  in_addr holder{radioState.session_addr};
  UpdateAccess(radioState.ptt != 0, holder);
  return true;
}

void LemzRadioControl::OnRtpProtoRXEvent(sig_proto const& packet) {
  LemzRadioState state;
  state.DecodeProto(packet);
  if (AccessFormChanToRadio(state)) {
    PutProtoFromChanToRadio(state);
    TERM::RtpRadioRequest request;
    EncodeASN(radioState, state, request);
    if (trace_) Trace(" send extension to controller: ", state.command, request);
    if (notify_) notify_->RadioControlNotify(request);
  }
  in_addr holder{radioState.session_addr};
  UpdateAccess(radioState.ptt != 0, holder);
}

void LemzRadioControl::OnRtpExtEvent(int, short revents) {
  if (revents & POLLIN) {
    if (trace_) std::clog << GetPrefix() << "receive extension packet(s)!" << std::endl;
    ReceiveRuns(
        received_, previous_, [](sig_proto* p, const uint8_t* data, size_t size) { return sig_proto_unpack(p, data, size); },
        [](const sig_proto* a, const sig_proto* b) { return cmp_sig_proto_header(a, b); },
        [this](const sig_proto& p) { OnRtpProtoRXEvent(p); });
  }
  DropHungUpSession(revents);
}

namespace {

bool Among(int32_t command, std::initializer_list<int32_t> types) {
  if (isDefaultInitCommand(command)) return true;
  for (int32_t t : types)
    if (t == command) return true;
  return false;
}

}  // namespace

int LemzRadioControl::StoreCommandFields(LemzRadioState& to, LemzRadioState const& from) {
  const int32_t c = from.command;
  to.command = c;
  to.priority = from.priority;
  if (Among(c, {GW_FLAG, GW_FLAG_PTT})) to.ptt = from.ptt;
  if (Among(c, {GW_FLAG, GW_FLAG_BSS})) to.bss = from.bss;
  if (Among(c, {GW_FLAG, GW_FLAG_RV})) to.rv = from.rv;
  if (Among(c, {GW_FLAG, GW_FLAG_SH})) to.sh = from.sh;
  if (Among(c, {GW_FLAG, GW_FLAG_PW})) to.pwr = from.pwr;
  if (Among(c, {GW_FLAG, GW_FLAG_RS})) to.resv = from.resv;
  if (Among(c, {GW_ADJUST_CHAN})) {
    to.chan_id = from.chan_id;
    to.freq = from.freq;
  }
  if (Among(c, {GW_SEL_CALL})) to.SetCallerID(from.callerID, sizeof from.callerID);
  if (Among(c, {GW_SELECT_RC_CHAN})) {
    to.remote_no = from.remote_no;
    to.remote_ch = from.remote_ch;
  }
  if (Among(c, {GW_ADJUST_SQUELSHE})) to.squelshe = from.squelshe;
  if (Among(c, {GW_ADJUST_RTE})) to.rte = from.rte;
  if (Among(c, {GW_ADJUST_STANDBY})) to.standby_state_channel = from.standby_state_channel;
  return isDefaultInitCommand(c) ? -1 : 0;
}

int LemzRadioControl::StoreStatusFields(LemzRadioState& to, LemzRadioState const& from, bool trans_session) {
  const int32_t c = from.command;
  to.command = c;
  to.priority = from.priority;
  to.li = from.li;
  to.ptt = from.ptt;
  to.bss = from.bss;
  to.vad_rx = from.vad_rx;
  to.vad_tx = from.vad_tx;
  to.sql = from.sql;
  to.sh = from.sh;
  to.pwr = from.pwr;
  to.rv = from.rv;
  to.resv = from.resv;
  to.selcall = from.selcall;
  if (Among(c, {WM_CHAN})) {
    to.chan_id = from.chan_id;
    to.freq = from.freq;
    to.squelshe = from.squelshe;
    to.rte = from.rte;
  }
  if (Among(c, {WM_SELECT_RC_CHAN})) {
    to.remote_no = from.remote_no;
    to.remote_ch = from.remote_ch;
  }
  if (Among(c, {WM_SEL_CALL_TRANS}) || (trans_session && c == WM_TRANS)) {
    to.session_addr = from.session_addr;
    to.ssrc = from.ssrc;
  }
  if (Among(c, {WM_RADIO_QUALITY})) to.quality = from.quality;
  if (Among(c, {WM_STANDBY})) {
    to.standby_state_channel = from.standby_state_channel;
    to.standby_group = from.standby_group;
    to.standby_state_receiver = from.standby_state_receiver;
  }
  return isDefaultInitCommand(c) ? -1 : 0;
}

}  // namespace RTPSignalling
