#include "radio/ED137RadioState.h"

#include "asn1/schemas/TERM.h"
#include "foundation/INet4.h"

namespace RTPSignalling {

void ED137RadioParams::Init(TERM::ED137RadioResponse const& r) {
  if (r.has_transmission_depend_on_squ()) transmission_depend_on_squ = r.get_transmission_depend_on_squ() ? 1 : 0;
  if (r.has_sigtime()) sigtime = r.get_sigtime().getValue();
  if (r.has_r2s_keepalive_period()) keepalive_period = r.get_r2s_keepalive_period().getValue();
  if (r.has_r2s_keepalive_multiplier()) keepalive_multiplier = r.get_r2s_keepalive_multiplier().getValue();
  radio_type = static_cast<uint32_t>(r.get_type().getValue());
  txrx_mode = static_cast<uint32_t>(r.get_txrxmode().getValue());
}

bool ED137RadioState::IsEqual(ED137RadioState const& o) const {
  return content == o.content && ptt == o.ptt && squ == o.squ && ptt_id == o.ptt_id && ptt_mute == o.ptt_mute &&
         ptt_summation == o.ptt_summation && sct == o.sct && bss_method == o.bss_method &&
         bss_quality == o.bss_quality && session_addr == o.session_addr && ssrc == o.ssrc;
}

namespace {

void DecodeHeader(TERM::ED137RadioHeader const& h, ED137RadioState& s) {
  s.ptt = static_cast<uint32_t>(h.get_ptt().getValue());
  s.squ = static_cast<uint32_t>(h.get_squ().getValue());
  s.ptt_id = h.get_ptt_id().getValue();
  s.ptt_mute = h.get_ptt_mute() ? 1 : 0;
  s.ptt_summation = h.get_ptt_summation() ? 1 : 0;
  s.sct = h.get_sct() ? 1 : 0;
}

void EncodeHeader(ED137RadioState const& s, TERM::ED137RadioHeader& h) {
  h.get_ptt().setValue(static_cast<int>(s.ptt));
  h.get_squ().setValue(static_cast<int>(s.squ));
  h.set_ptt_id(s.ptt_id & 0x3F);
  h.set_ptt_mute(s.ptt_mute != 0);
  h.set_ptt_summation(s.ptt_summation != 0);
  h.set_sct(s.sct != 0);
}

void DecodeSqi(TERM::ED137RadioExtensionSQI const& q, ED137RadioState& s) {
  s.content |= kED137RxSqi;
  s.bss_method = static_cast<uint32_t>(q.get_bss_method().getValue());
  s.bss_quality = q.get_bss_quality().getValue();
}

void EncodeSqi(ED137RadioState const& s, TERM::ED137RadioExtensionSQI& q) {
  q.get_bss_method().setValue(static_cast<int>(s.bss_method));
  q.set_bss_quality(s.bss_quality & 0x1F);
}

}  // namespace

int ED137RadioState::DecodeProto(r2s_proto const& r) {
  if (r.type != kR2SProtoTx && r.type != kR2SProtoRx) return -1;
  session_addr = r.src_addr;
  ssrc = r.src_ssrc;
  if (r.type == kR2SProtoTx) {
    content |= kED137TxState;
    ptt = r.header.tx.ptt;
    ptt_id = r.header.tx.ptt_id;
    ptt_mute = r.header.tx.ptt_mute;
    ptt_summation = r.header.tx.ptt_summation;
    return 0;
  }
  content |= kED137RxState;
  ptt = r.header.rx.ptt;
  squ = r.header.rx.squ;
  ptt_id = r.header.rx.ptt_id;
  ptt_mute = r.header.rx.ptt_mute;
  ptt_summation = r.header.rx.ptt_summation;
  sct = r.header.rx.sct;
  const uint32_t count = r.count < kR2SProtoMaxAdditionals ? r.count : kR2SProtoMaxAdditionals;
  for (uint32_t i = 0; i < count; ++i) {
    if (r.additional[i].type != kR2SFeatureSqi) continue;
    content |= kED137RxSqi;
    // Quality in the 5-bit index, method in the 3-bit one, as this gateway sends them.
    bss_quality = r.additional[i].rx_sqi.qidx;
    bss_method = r.additional[i].rx_sqi.qidx_ml;
  }
  return 0;
}

int ED137RadioState::EncodeProto(r2s_proto& r) const {
  if (IsRx()) {
    r2s_proto_init(&r, kR2SProtoRx);
    r2s_proto_set_rx_header(&r, ptt, squ, ptt_id, ptt_mute, ptt_summation, sct);
    if (HasSqi()) r2s_proto_add_rx_sqi(&r, bss_quality, bss_method);
    return 0;
  }
  if (IsTx()) {
    r2s_proto_init(&r, kR2SProtoTx);
    r2s_proto_set_tx_header(&r, ptt, ptt_id, ptt_mute, ptt_summation);
    return 0;
  }
  return -1;
}

void ED137RadioState::DecodeASN(TERM::ED137RadioStatus const& status) {
  content = kED137RxState;
  DecodeHeader(status.get_header(), *this);
  if (status.has_sqi()) DecodeSqi(status.get_sqi(), *this);
}

const std::string* ED137RadioState::DecodeASN(TERM::ED137RadioModifier const& m) {
  content = 0;
  if (!INet4::ParseAddress(m.get_addr().get_session_addr(), session_addr)) return &m.get_addr().get_session_addr();
  ssrc = m.get_addr().get_session_ssrc().getValue();
  const TERM::ED137RadioModifierParams& p = m.get_params();
  if (p.is_rx()) {
    content |= kED137RxState;
    DecodeHeader(p.get_rx().get_header(), *this);
    if (p.get_rx().has_sqi()) DecodeSqi(p.get_rx().get_sqi(), *this);
  } else if (p.is_tx()) {
    content |= kED137TxState;
    DecodeHeader(p.get_tx().get_header(), *this);
  }
  return nullptr;
}

void ED137RadioState::EncodeStatusASN(TERM::ED137RadioStatus& status) const {
  EncodeHeader(*this, status.get_header());
  EncodeSqi(*this, status.include_sqi());
}

bool ED137RadioState::EncodeASN(TERM::ED137RadioModifierParams& params) const {
  if (IsRx()) {
    TERM::ED137RadioRxCommand& rx = params.select_rx();
    EncodeHeader(*this, rx.get_header());
    if (HasSqi()) EncodeSqi(*this, rx.include_sqi());
    return true;
  }
  if (IsTx()) {
    EncodeHeader(*this, params.select_tx().get_header());
    return true;
  }
  return false;
}

}  // namespace RTPSignalling
