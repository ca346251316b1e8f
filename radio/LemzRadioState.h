#pragma once
// One LEMZ radio state in host form, and its translations: to and from the signalling packet
// record (`sig_proto`) and to and from the `TERM` radio values of the control link.
#include <cstdint>
#include <string>

#include "radio/SigProto.h"

namespace TERM {
class LemzRadioStatus;
class LemzRadioModifier;
class LemzRadioModifierParams;
class RadioFlags;
}  // namespace TERM

namespace RTPSignalling {

// Push-to-talk packet types: 1, 3, 9, 129, 130, 133.
bool isPTTCommand(int command);
// A command of 0 or less names a full state rather than one packet.
bool isDefaultInitCommand(int command);

struct LemzRadioState {
  int32_t command = 0;  // packet type carrying the state; 0 or less: a full state
  int32_t priority = 15;  // lower is more urgent
  int32_t ptt = 0;  // non-zero: the session holds transmit access
  uint32_t session_addr = 0;  // network order; the session that holds access
  uint32_t ssrc = 0;
  char callerID[kSigProtoCallerIdSize] = {};  // always terminated
  int32_t bss = 0;
  int32_t vad_rx = 0;
  int32_t vad_tx = 0;
  int32_t sql = 0;  // squelch open (SQU)
  int32_t sh = 0;
  int32_t pwr = 0;
  int32_t rv = 0;
  int32_t resv = 0;
  int32_t selcall = 0;  // 0..3
  int32_t li = 0;  // 0..511
  int32_t remote_no = 0;
  int32_t remote_ch = 0;
  int32_t chan_id = 0;
  float freq = 0.0f;
  // Negative: unknown.
  int32_t squelshe = -1;
  int32_t rte = -1;
  int32_t standby_state_channel = -1;
  int32_t standby_group = -1;
  int32_t standby_state_receiver = -1;
  float quality = 0.0f;
  uint32_t src_addr = 0;  // network order; the session a received packet came from
  uint32_t src_ssrc = 0;

  // From a received packet of any of the 20 types; -1 for another type.
  int DecodeProto(const sig_proto& p);
  // Header and the body of `command` into a zeroed record (the caller decides which types its
  // side may send).
  void EncodeProto(sig_proto& p) const;

  // A full state from the controller's status (command 0).
  void DecodeASN(TERM::LemzRadioStatus const& status);
  // One command from the controller: its type, its fields and the addressed session. The
  // holder address text ("ip") that names no IPv4 address, or null when the command decoded.
  const std::string* DecodeASN(TERM::LemzRadioModifier const& modifier);
  void EncodeStatusASN(TERM::LemzRadioStatus& status) const;
  // The alternative for `command` with its fields; false when no alternative carries it.
  bool EncodeParamsASN(TERM::LemzRadioModifierParams& params) const;

  void SetCallerID(const char* text, size_t length);
};

}  // namespace RTPSignalling
