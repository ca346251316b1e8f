#include "radio/LemzRadioGWControl.h"

#include <algorithm>

namespace RTPSignalling {

int LemzRadioGWControl::PutProtoFromRadioToChan(LemzRadioState const& state) {
  return StoreStatusFields(radioState, state, true);
}

int LemzRadioGWControl::PutProtoFromChanToRadio(LemzRadioState const& state) {
  chanState.session_addr = state.src_addr;
  chanState.ssrc = state.src_ssrc;
  return StoreCommandFields(chanState, state);
}

int LemzRadioGWControl::AccessFormChanToRadio(LemzRadioState const& state) {
  if (radioState.ptt == 0 || radioState.session_addr == local_addr_.sin_addr.s_addr) return 1;
  if (isPTTCommand(state.command) && state.priority < radioState.priority && state.ptt) return 1;
  return state.src_addr == radioState.session_addr;
}

int LemzRadioGWControl::EncodeProto(LemzRadioState const& state, sig_proto& packet) {
  if (state.command < int32_t{WM_FLAG} || state.command > int32_t{WM_STANDBY}) return -1;
  sig_proto_init(&packet);
  state.EncodeProto(packet);
  return 0;
}

void LemzRadioGWControl::Announce(int32_t type, uint32_t now) {
  radioState.command = type;
  sig_proto packet;
  if (EncodeProto(radioState, packet) != 0) return;
  SendProtoToChan(packet);
  time_stamp_ = now;
  groupStamp[GroupOf(static_cast<uint32_t>(type))] = now;
}

unsigned long LemzRadioGWControl::ProcessRadioStatus(unsigned long now_ms, unsigned long interval_ms) {
  const auto now = static_cast<uint32_t>(now_ms);
  // Ages on the wrapping clock; a stamp ahead of now counts as new.
  auto age = [now](uint32_t stamp) -> uint32_t {
    const auto d = static_cast<int32_t>(now - stamp);
    return d > 0 ? static_cast<uint32_t>(d) : 0;
  };
  const LemzRadioState& s = radioState;
  if (age(groupStamp[0]) >= kResendAge) {
    // The stored state keeps no caller identity (a selective call is announced once, when
    // the controller orders it), so this is WM_FLAG or WM_TRANS.
    Announce(s.ptt == 0 ? WM_FLAG : (s.callerID[0] ? WM_SEL_CALL_TRANS : WM_TRANS), now);
  }
  if (age(groupStamp[1]) >= kResendAge && s.chan_id >= 0 && s.freq >= 0.0f) Announce(WM_CHAN, now);
  if (age(groupStamp[2]) >= kResendAge && s.remote_no >= 0 && s.remote_ch >= 0) Announce(WM_SELECT_RC_CHAN, now);
  if (age(groupStamp[3]) >= kResendAge && s.standby_state_channel >= 0 && s.standby_group >= 0 &&
      s.standby_state_receiver >= 0)
    Announce(WM_STANDBY, now);
  uint32_t oldest = 0;
  for (uint32_t stamp : groupStamp) oldest = std::max(oldest, age(stamp));
  if (oldest > 0 && oldest < interval_ms) return interval_ms - oldest + 10;
  return interval_ms;
}

}  // namespace RTPSignalling
