#pragma once
// The gateway side of a LEMZ radio session: takes the workstations' commands (types 1 to 13)
// from the session that may control the radio, and announces the radio's state with the
// gateway packets (types 129 to 135) on each change and again every second per group.
#include "radio/LemzRadioControl.h"

namespace RTPSignalling {

class LemzRadioGWControl : public LemzRadioControl {
 public:
  using LemzRadioControl::LemzRadioControl;

  int PutProtoFromRadioToChan(LemzRadioState const& state) override;
  int PutProtoFromChanToRadio(LemzRadioState const& state) override;
  // Free radio, this gateway's own session, a pre-empting push-to-talk of higher priority,
  // or the session holding access.
  int AccessFormChanToRadio(LemzRadioState const& state) override;
  int EncodeProto(LemzRadioState const& state, sig_proto& packet) override;

  // A group is announced again once it is this old.
  static constexpr uint32_t kResendAge = 1000;  // ms

 protected:
  unsigned long ProcessRadioStatus(unsigned long now_ms, unsigned long interval_ms) override;

 private:
  void Announce(int32_t type, uint32_t now);
};

}  // namespace RTPSignalling
