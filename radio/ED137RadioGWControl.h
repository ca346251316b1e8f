#pragma once
// The gateway side of an ED-137 radio session: reports the voice system's tx extensions to the
// call controller, sends the radio's state as rx extensions on each change and periodically,
// and reports a silent voice system (no extension within the keep-alive limit) to its slot.
#include "radio/ED137RadioControl.h"

namespace RTPSignalling {

class ED137RadioGWControl : public ED137RadioControl {
 public:
  // The abort code of a missing keep-alive.
  static constexpr int kKeepAliveLost = 151;

  using ED137RadioControl::ED137RadioControl;

  // The extension device's set-up for a gateway session: ED-137 extensions, keep-alives of
  // payload type 123 every `keepalive_period` packet times, `sigtime` of them a signal.
  static rtp_ext_init_params ExtInit(uint32_t keepalive_period, uint32_t sigtime);

  int PutProtoFromRadioToChan(ED137RadioState const& state) override;
  int PutProtoFromChanToRadio(ED137RadioState const& state) override;
  // Only a radio that transmits takes commands: type txrx, radio or coupling in tx or txrx mode.
  int AccessFormChanToRadio(ED137RadioState const& state) override;
  int EncodeProto(ED137RadioState const& state, r2s_proto& record) override { return state.EncodeProto(record); }

  // What the periodic receive report sends.
  const ED137RadioState& rx_report() const { return rxReport_; }

 protected:
  unsigned long ProcessRadioStatus(unsigned long now_ms, unsigned long interval_ms) override;

 private:
  static void Store(ED137RadioState& to, ED137RadioState const& from);
  // The last receive state the controller gave: a transmit command in between does not
  // silence the periodic receive report.
  ED137RadioState rxReport_;
};

}  // namespace RTPSignalling
