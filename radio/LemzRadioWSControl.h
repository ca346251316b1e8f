#pragma once
// The workstation side of a LEMZ radio session: sends the controller's commands (types 1 to
// 13) and reports every gateway packet it receives.
#include "radio/LemzRadioControl.h"

namespace RTPSignalling {

class LemzRadioWSControl : public LemzRadioControl {
 public:
  using LemzRadioControl::LemzRadioControl;

  int PutProtoFromRadioToChan(LemzRadioState const& state) override;
  int PutProtoFromChanToRadio(LemzRadioState const& state) override;
  int EncodeProto(LemzRadioState const& state, sig_proto& packet) override;
};

}  // namespace RTPSignalling
