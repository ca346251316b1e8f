#include "radio/LemzRadioWSControl.h"

namespace RTPSignalling {

int LemzRadioWSControl::PutProtoFromRadioToChan(LemzRadioState const& state) {
  return StoreCommandFields(radioState, state);
}

int LemzRadioWSControl::PutProtoFromChanToRadio(LemzRadioState const& state) {
  chanState.session_addr = state.src_addr;
  chanState.ssrc = state.src_ssrc;
  return StoreStatusFields(chanState, state, false);
}

int LemzRadioWSControl::EncodeProto(LemzRadioState const& state, sig_proto& packet) {
  if (state.command < int32_t{GW_FLAG} || state.command > int32_t{GW_ADJUST_STANDBY}) return -1;
  sig_proto_init(&packet);
  state.EncodeProto(packet);
  return 0;
}

}  // namespace RTPSignalling
