#pragma once
// One ED-137 radio state in host form and the session parameters of an ED-137 radio, with
// their translations to and from the R2S extension record and the `TERM` radio values.
#include <cstdint>
#include <string>

#include "radio/R2SProto.h"

namespace TERM {
class ED137RadioResponse;
class ED137RadioStatus;
class ED137RadioModifier;
class ED137RadioModifierParams;
}  // namespace TERM

namespace RTPSignalling {

struct ED137RadioParams {
  uint32_t transmission_depend_on_squ = 0;
  uint32_t sigtime = 1;
  uint32_t keepalive_period = 200;  // ms
  uint32_t keepalive_multiplier = 10;
  uint32_t radio_type = 2;  // TERM::ED137RadioType, "radio-txrx"
  uint32_t txrx_mode = 2;   // TERM::ED137RadioTxRxMode, "txrx"

  void Init(TERM::ED137RadioResponse const& response);
};

// Bits of ED137RadioState::content.
inline constexpr uint32_t kED137HeaderValid = 0x0001;
inline constexpr uint32_t kED137SqiValid = 0x0002;
inline constexpr uint32_t kED137Rx = 0x1000;
inline constexpr uint32_t kED137Tx = 0x2000;
inline constexpr uint32_t kED137RxState = kED137Rx | kED137HeaderValid;            // 0x1001
inline constexpr uint32_t kED137RxSqi = kED137Rx | kED137SqiValid;                 // 0x1002
inline constexpr uint32_t kED137TxState = kED137Tx | kED137HeaderValid;            // 0x2001

struct ED137RadioState {
  uint32_t content = 0;
  uint32_t ptt = 0;
  uint32_t squ = 0;
  uint32_t ptt_id = 0;
  uint32_t ptt_mute = 0;
  uint32_t ptt_summation = 0;
  uint32_t sct = 0;
  uint32_t bss_method = 0;   // TERM::ED137RadioBSSMethod
  uint32_t bss_quality = 0;  // 0..31
  uint32_t session_addr = 0;  // network order
  uint32_t ssrc = 0;

  bool IsEqual(ED137RadioState const& o) const;
  bool IsRx() const { return (content & (kED137Rx | kED137Tx)) == kED137Rx && (content & kED137HeaderValid); }
  bool IsTx() const { return (content & (kED137Rx | kED137Tx)) == kED137Tx && (content & kED137HeaderValid); }
  bool HasSqi() const { return (content & kED137RxSqi) == kED137RxSqi; }

  // From a received record; -1 (nothing changed) for a record of neither direction.
  int DecodeProto(r2s_proto const& record);
  // The gateway's record for the state: rx with an optional signal quality feature, or tx;
  // -1 for a state of neither direction.
  int EncodeProto(r2s_proto& record) const;
  void DecodeASN(TERM::ED137RadioStatus const& status);
  // The holder address text ("session-addr") when it names no IPv4 address, else null.
  const std::string* DecodeASN(TERM::ED137RadioModifier const& modifier);
  // The header and, always, the signal quality.
  void EncodeStatusASN(TERM::ED137RadioStatus& status) const;
  // The "rx" or "tx" alternative; false for a state of neither direction.
  bool EncodeASN(TERM::ED137RadioModifierParams& params) const;
};

}  // namespace RTPSignalling
