#include "radio/ED137RadioGWControl.h"

namespace RTPSignalling {

rtp_ext_init_params ED137RadioGWControl::ExtInit(uint32_t keepalive_period, uint32_t sigtime) {
  rtp_ext_init_params init{};
  init.etype = board::rtp_ext::kEtypeEd137;
  init.mode = 1;
  init.keepalive_pt = 123;
  init.keepalive_period = keepalive_period;
  init.keepalive_sigtime = sigtime;
  return init;
}

void ED137RadioGWControl::Store(ED137RadioState& to, ED137RadioState const& from) {
  to.session_addr = from.session_addr;
  to.ssrc = from.ssrc;
  to.content = from.content;
  to.ptt = from.ptt;
  to.squ = from.squ;
  to.ptt_id = from.ptt_id;
  to.ptt_mute = from.ptt_mute;
  to.ptt_summation = from.ptt_summation;
  to.sct = from.sct;
  if (from.HasSqi()) {
    to.bss_method = from.bss_method;
    to.bss_quality = from.bss_quality;
  }
}

int ED137RadioGWControl::PutProtoFromRadioToChan(ED137RadioState const& state) {
  Store(radioState, state);
  if (!radioState.IsTx()) rxReport_ = radioState;
  return 0;
}

int ED137RadioGWControl::PutProtoFromChanToRadio(ED137RadioState const& state) {
  Store(chanState, state);
  return 0;
}

int ED137RadioGWControl::AccessFormChanToRadio(ED137RadioState const&) {
  const bool transmits = params_.radio_type == 2 || params_.radio_type == 3 || params_.radio_type == 4;
  return transmits && (params_.txrx_mode == 0 || params_.txrx_mode == 2);
}

unsigned long ED137RadioGWControl::ProcessRadioStatus(unsigned long now_ms, unsigned long interval_ms) {
  const auto now = static_cast<uint32_t>(now_ms);
  auto age = [now](uint32_t stamp) -> uint32_t {
    const auto d = static_cast<int32_t>(now - stamp);
    return d > 0 ? static_cast<uint32_t>(d) : 0;
  };
  const uint32_t limit = params_.keepalive_period * params_.keepalive_multiplier;
  if (limit != 0 && static_cast<int32_t>(now - last_rx_) >= static_cast<int32_t>(limit) && notify_) {
    notify_->RadioControlNotify(kKeepAliveLost);  // again on every tick until an extension comes
  }
  if (age(last_tx_) >= interval_ms) {
    // After a transmit command the receive report goes on with the last receive state.
    ED137RadioState& report = radioState.IsTx() ? rxReport_ : radioState;
    report.content |= kED137RxState;
    if (&report == &radioState) rxReport_ = radioState;
    r2s_proto record;
    if (EncodeProto(report, record) == 0) {
      SendProtoToChan(record);
      last_tx_ = now;
    }
  }
  const uint32_t since = age(last_tx_);
  if (since > 0 && since < interval_ms) return interval_ms - since + 10;
  return interval_ms;
}

}  // namespace RTPSignalling
