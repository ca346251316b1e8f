#include "radio/LemzRadioState.h"

#include <algorithm>
#include <cstring>

#include "asn1/schemas/TERM.h"
#include "foundation/INet4.h"
#include "radio/RadioText.h"

namespace RTPSignalling {

bool isPTTCommand(int command) { return command > 0 && sig_proto_is_ptt_type(static_cast<uint32_t>(command)) != 0; }

bool isDefaultInitCommand(int command) { return command <= 0; }

namespace {

// A value of a constrained field, or `fallback` when the state holds one the field cannot
// carry (the state's "unknown" values), so that the report always encodes.
unsigned InRange(int32_t value, int32_t low, int32_t high, int32_t fallback) {
  return static_cast<unsigned>(value >= low && value <= high ? value : fallback);
}

// Unknown or unnamed squelch and RTE values are reported as "no-config".
TERM::RadioSquelshe::NamedNumber Squelshe(int32_t v) {
  return static_cast<TERM::RadioSquelshe::NamedNumber>(InRange(v, 0, TERM::RadioSquelshe::on, 0));
}
TERM::RadioRTE::NamedNumber Rte(int32_t v) {
  return static_cast<TERM::RadioRTE::NamedNumber>(InRange(v, 0, TERM::RadioRTE::j3e, 0));
}
// The control link's coder sends an enumeration's value in 0 to its largest value, so
// "not-use" (-1) cannot travel: an unknown or unnamed standby state goes as "active" (0).
TERM::RadioStandby::NamedNumber Standby(int32_t v) {
  return static_cast<TERM::RadioStandby::NamedNumber>(InRange(v, 0, TERM::RadioStandby::standby, 0));
}
// An unknown standby group is reported as group 0.
unsigned Group(int32_t v) { return InRange(v, 0, 255, 0); }

void EncodeFlags(const LemzRadioState& s, TERM::RadioFlags& f) {
  f.set_prio(s.priority);
  f.set_ptt(s.ptt != 0);
  f.set_bss(s.bss != 0);
  f.set_vad_rx(s.vad_rx != 0);
  f.set_vad_tx(s.vad_tx != 0);
  f.set_sql(s.sql != 0);
  f.set_sh(s.sh != 0);
  f.set_pwr(s.pwr != 0);
  f.set_rv(s.rv != 0);
  f.set_resv(s.resv != 0);
  f.set_selcall(InRange(s.selcall, 0, 3, 0));
  f.set_li(InRange(s.li, 0, 511, 0));
}

void DecodeFlags(const TERM::RadioFlags& f, LemzRadioState& s) {
  s.priority = f.get_prio().getValue();
  s.ptt = f.get_ptt();
  s.bss = f.get_bss();
  s.vad_rx = f.get_vad_rx();
  s.vad_tx = f.get_vad_tx();
  s.sql = f.get_sql();
  s.sh = f.get_sh();
  s.pwr = f.get_pwr();
  s.rv = f.get_rv();
  s.resv = f.get_resv();
  s.selcall = static_cast<int32_t>(f.get_selcall().getValue());
  s.li = static_cast<int32_t>(f.get_li().getValue());
}

void EncodeFrequency(const LemzRadioState& s, TERM::RadioFrequency& f) {
  f.set_channel(s.chan_id);
  f.set_frequency(DecimalText(s.freq));
}

void DecodeFrequency(const TERM::RadioFrequency& f, LemzRadioState& s) {
  s.chan_id = f.get_channel().getValue();
  s.freq = ParseDecimal(f.get_frequency());
}

void EncodeRemote(const LemzRadioState& s, TERM::RadioRemote& r) {
  r.set_no(InRange(s.remote_no, 0, 255, 0));
  r.set_ch(InRange(s.remote_ch, 0, 255, 0));
}

void DecodeRemote(const TERM::RadioRemote& r, LemzRadioState& s) {
  s.remote_no = static_cast<int32_t>(r.get_no().getValue());
  s.remote_ch = static_cast<int32_t>(r.get_ch().getValue());
}

std::string CallerText(const LemzRadioState& s) { return IA5Text(s.callerID, sizeof s.callerID); }

// The selective-call and transmit commands share flags, address and SSRC.
template <class Command>
void EncodeSession(const LemzRadioState& s, Command& c) {
  EncodeFlags(s, c.get_flags());
  c.set_ip(DottedText(s.session_addr));
  c.set_ssrc(s.ssrc);
}

// False when the "ip" names no address: the holder is then not known.
template <class Command>
bool DecodeSession(const Command& c, LemzRadioState& s) {
  DecodeFlags(c.get_flags(), s);
  s.ssrc = c.get_ssrc().getValue();
  return INet4::ParseAddress(c.get_ip(), s.session_addr);
}

}  // namespace

void LemzRadioState::SetCallerID(const char* text, size_t length) {
  std::memset(callerID, 0, sizeof callerID);
  std::memcpy(callerID, text, std::min(length, sizeof callerID - 1));
}

int LemzRadioState::DecodeProto(const sig_proto& p) {
  switch (p.type) {
    case GW_FLAG ... GW_ADJUST_STANDBY:
    case WM_FLAG ... WM_STANDBY: break;
    default: return -1;
  }
  command = static_cast<int32_t>(p.type);
  src_addr = p.src_addr;
  src_ssrc = p.src_ssrc;
  priority = static_cast<int32_t>(p.priority);
  ptt = static_cast<int32_t>(p.flag_p);
  vad_tx = static_cast<int32_t>(p.flag_t);
  vad_rx = static_cast<int32_t>(p.flag_r);
  sql = static_cast<int32_t>(p.flag_s);
  bss = static_cast<int32_t>(p.flag_b);
  rv = static_cast<int32_t>(p.flag_rv);
  sh = static_cast<int32_t>(p.flag_sh);
  resv = static_cast<int32_t>(p.flag_rs);
  pwr = static_cast<int32_t>(p.flag_pw);
  selcall = static_cast<int32_t>(p.flag_c);
  li = static_cast<int32_t>(p.status);
  const auto& b = p.body;
  switch (p.type) {
    case GW_ADJUST_CHAN:
      chan_id = static_cast<int32_t>(b.gw_adjust_chan.id);
      freq = b.gw_adjust_chan.freq;
      break;
    case GW_SEL_CALL:
      SetCallerID(reinterpret_cast<const char*>(b.gw_sel_call.callerID), b.gw_sel_call.callerID_length);
      break;
    case GW_SELECT_RC_CHAN:
      remote_no = b.gw_select_rc_chan.interface;
      remote_ch = b.gw_select_rc_chan.channel;
      break;
    case WM_SELECT_RC_CHAN:
      remote_no = b.wm_select_rc_chan.interface;
      remote_ch = b.wm_select_rc_chan.channel;
      break;
    case GW_ADJUST_SQUELSHE: squelshe = b.gw_adjust_squelsh.squelsh; break;
    case GW_ADJUST_RTE: rte = b.gw_adjust_rte.rte; break;
    case GW_ADJUST_STANDBY: standby_state_channel = b.gw_adjust_standby.state; break;
    case WM_TRANS:
      session_addr = b.wm_trans.session_addr;
      ssrc = b.wm_trans.ssrc;
      break;
    case WM_RADIO_QUALITY: quality = b.wm_radio_quality.radio_quality; break;
    case WM_CHAN:
      chan_id = static_cast<int32_t>(b.wm_chan.id);
      freq = b.wm_chan.freq;
      squelshe = b.wm_chan.squelsh;
      rte = b.wm_chan.rte;
      break;
    case WM_SEL_CALL_TRANS:
      session_addr = b.wm_sel_call_trans.session_addr;
      ssrc = b.wm_sel_call_trans.ssrc;
      SetCallerID(reinterpret_cast<const char*>(b.wm_sel_call_trans.callerID), b.wm_sel_call_trans.callerID_length);
      break;
    case WM_STANDBY:
      standby_state_channel = b.wm_standby.state;
      standby_group = b.wm_standby.group;
      standby_state_receiver = b.wm_standby.receiver_state;
      break;
  }
  return 0;
}

void LemzRadioState::EncodeProto(sig_proto& p) const {
  p.type = static_cast<uint32_t>(command);
  sig_proto_set_base(&p, priority, vad_tx, ptt, vad_rx, sql, bss, rv, sh, pwr, resv, selcall, li);
  switch (command) {
    case GW_ADJUST_CHAN: sig_proto_set_gw_adjust_chan(&p, static_cast<uint32_t>(chan_id), freq); break;
    case GW_SEL_CALL: sig_proto_set_gw_selcall(&p, callerID, std::strlen(callerID)); break;
    case GW_SELECT_RC_CHAN:
      sig_proto_set_gw_select_rc_chan(&p, static_cast<uint8_t>(remote_no), static_cast<uint8_t>(remote_ch));
      break;
    case GW_ADJUST_SQUELSHE: sig_proto_set_gw_adjust_squelsh(&p, static_cast<uint8_t>(squelshe)); break;
    case GW_ADJUST_RTE: sig_proto_set_gw_adjust_rte(&p, static_cast<uint8_t>(rte)); break;
    case GW_ADJUST_STANDBY: sig_proto_set_gw_adjust_standby(&p, static_cast<uint8_t>(standby_state_channel)); break;
    case WM_TRANS: sig_proto_set_wm_transmite(&p, session_addr, ssrc); break;
    case WM_RADIO_QUALITY: sig_proto_set_wm_radio_quality(&p, quality); break;
    case WM_CHAN:
      sig_proto_set_wm_chan(&p, static_cast<uint32_t>(chan_id), freq, static_cast<uint8_t>(squelshe),
                            static_cast<uint8_t>(rte));
      break;
    case WM_SEL_CALL_TRANS:
      sig_proto_set_wm_selcall_transmite(&p, session_addr, ssrc, callerID, std::strlen(callerID));
      break;
    case WM_SELECT_RC_CHAN:
      sig_proto_set_wm_select_rc_chan(&p, static_cast<uint8_t>(remote_no), static_cast<uint8_t>(remote_ch));
      break;
    case WM_STANDBY:
      sig_proto_set_wm_standby(&p, static_cast<uint8_t>(standby_state_channel), static_cast<uint8_t>(standby_group),
                               static_cast<uint8_t>(standby_state_receiver));
      break;
  }
}

void LemzRadioState::DecodeASN(TERM::LemzRadioStatus const& s) {
  command = 0;
  DecodeFlags(s.get_flags(), *this);
  DecodeFrequency(s.get_freq(), *this);
  DecodeRemote(s.get_remote(), *this);
  squelshe = s.get_squelshe().getValue();
  rte = s.get_rte().getValue();
  standby_state_channel = s.get_standby_state_channel().getValue();
  standby_group = static_cast<int32_t>(s.get_standby_group().getValue());
  standby_state_receiver = s.get_standby_state_receiver().getValue();
}

const std::string* LemzRadioState::DecodeASN(TERM::LemzRadioModifier const& m) {
  // Only addresses the command in the controller's words; nothing sends or filters on it.
  src_addr = 0;
  INet4::ParseAddress(m.get_addr().get_session_addr(), src_addr);
  src_ssrc = m.get_addr().get_session_ssrc().getValue();
  using P = TERM::LemzRadioModifierParams;
  const P& p = m.get_params();
  switch (p.getID()) {
    case P::e_gw_set_flags: command = GW_FLAG; DecodeFlags(p.get_gw_set_flags().get_flags(), *this); break;
    case P::e_gw_set_freq: command = GW_ADJUST_CHAN; DecodeFrequency(p.get_gw_set_freq().get_freq(), *this); break;
    case P::e_gw_set_ptt: command = GW_FLAG_PTT; DecodeFlags(p.get_gw_set_ptt().get_flags(), *this); break;
    case P::e_gw_set_bss: command = GW_FLAG_BSS; DecodeFlags(p.get_gw_set_bss().get_flags(), *this); break;
    case P::e_gw_set_sh: command = GW_FLAG_SH; DecodeFlags(p.get_gw_set_sh().get_flags(), *this); break;
    case P::e_gw_set_pwr: command = GW_FLAG_PW; DecodeFlags(p.get_gw_set_pwr().get_flags(), *this); break;
    case P::e_gw_set_rv: command = GW_FLAG_RV; DecodeFlags(p.get_gw_set_rv().get_flags(), *this); break;
    case P::e_gw_set_resv: command = GW_FLAG_RS; DecodeFlags(p.get_gw_set_resv().get_flags(), *this); break;
    case P::e_gw_set_selcall: {
      const auto& c = p.get_gw_set_selcall();
      command = GW_SEL_CALL;
      if (!DecodeSession(c, *this)) return &c.get_ip();
      SetCallerID(c.get_cid().data(), c.get_cid().size());
      break;
    }
    case P::e_gw_set_remote: command = GW_SELECT_RC_CHAN; DecodeRemote(p.get_gw_set_remote().get_remote(), *this); break;
    case P::e_gw_set_squelshe:
      command = GW_ADJUST_SQUELSHE;
      squelshe = p.get_gw_set_squelshe().get_squelshe().getValue();
      break;
    case P::e_gw_set_rte: command = GW_ADJUST_RTE; rte = p.get_gw_set_rte().get_rte().getValue(); break;
    case P::e_gw_set_standby:
      command = GW_ADJUST_STANDBY;
      standby_state_channel = p.get_gw_set_standby().get_state().getValue();
      break;
    case P::e_wm_flags: command = WM_FLAG; DecodeFlags(p.get_wm_flags().get_flags(), *this); break;
    case P::e_wm_trans:
      command = WM_TRANS;
      if (!DecodeSession(p.get_wm_trans(), *this)) return &p.get_wm_trans().get_ip();
      break;
    case P::e_wm_quality: command = WM_RADIO_QUALITY; quality = ParseDecimal(p.get_wm_quality().get_bss_val()); break;
    case P::e_wm_chan: {
      const auto& c = p.get_wm_chan();
      command = WM_CHAN;
      DecodeFrequency(c.get_freq(), *this);
      squelshe = c.get_squelshe().getValue();
      rte = c.get_rte().getValue();
      break;
    }
    case P::e_wm_selcall: {
      const auto& c = p.get_wm_selcall();
      command = WM_SEL_CALL_TRANS;
      if (!DecodeSession(c, *this)) return &c.get_ip();
      SetCallerID(c.get_cid().data(), c.get_cid().size());
      break;
    }
    case P::e_wm_remote: command = WM_SELECT_RC_CHAN; DecodeRemote(p.get_wm_remote().get_remote(), *this); break;
    case P::e_wm_standby: {
      const auto& c = p.get_wm_standby();
      command = WM_STANDBY;
      standby_state_channel = c.get_state_channel().getValue();
      standby_group = static_cast<int32_t>(c.get_group().getValue());
      standby_state_receiver = c.get_state_receiver().getValue();
      break;
    }
    default:
      // An alternative this side does not know: a command no packet carries.
      command = -1;
      break;
  }
  return nullptr;
}

void LemzRadioState::EncodeStatusASN(TERM::LemzRadioStatus& s) const {
  EncodeFlags(*this, s.get_flags());
  EncodeFrequency(*this, s.get_freq());
  EncodeRemote(*this, s.get_remote());
  s.set_squelshe(Squelshe(squelshe));
  s.set_rte(Rte(rte));
  s.set_standby_state_channel(Standby(standby_state_channel));
  s.set_standby_group(Group(standby_group));
  s.set_standby_state_receiver(Standby(standby_state_receiver));
}

bool LemzRadioState::EncodeParamsASN(TERM::LemzRadioModifierParams& p) const {
  switch (command) {
    case GW_FLAG: EncodeFlags(*this, p.select_gw_set_flags().get_flags()); break;
    case GW_ADJUST_CHAN: EncodeFrequency(*this, p.select_gw_set_freq().get_freq()); break;
    case GW_FLAG_PTT: EncodeFlags(*this, p.select_gw_set_ptt().get_flags()); break;
    case GW_FLAG_BSS: EncodeFlags(*this, p.select_gw_set_bss().get_flags()); break;
    case GW_FLAG_RV: EncodeFlags(*this, p.select_gw_set_rv().get_flags()); break;
    case GW_FLAG_SH: EncodeFlags(*this, p.select_gw_set_sh().get_flags()); break;
    case GW_FLAG_PW: EncodeFlags(*this, p.select_gw_set_pwr().get_flags()); break;
    case GW_FLAG_RS: EncodeFlags(*this, p.select_gw_set_resv().get_flags()); break;
    case GW_SEL_CALL: {
      auto& c = p.select_gw_set_selcall();
      EncodeSession(*this, c);
      c.set_cid(CallerText(*this));
      break;
    }
    case GW_SELECT_RC_CHAN: EncodeRemote(*this, p.select_gw_set_remote().get_remote()); break;
    case GW_ADJUST_SQUELSHE: p.select_gw_set_squelshe().set_squelshe(Squelshe(squelshe)); break;
    case GW_ADJUST_RTE: p.select_gw_set_rte().set_rte(Rte(rte)); break;
    case GW_ADJUST_STANDBY: p.select_gw_set_standby().set_state(Standby(standby_state_channel)); break;
    case WM_FLAG: EncodeFlags(*this, p.select_wm_flags().get_flags()); break;
    case WM_TRANS: EncodeSession(*this, p.select_wm_trans()); break;
    case WM_RADIO_QUALITY: p.select_wm_quality().set_bss_val(DecimalText(quality)); break;
    case WM_CHAN: {
      auto& c = p.select_wm_chan();
      EncodeFrequency(*this, c.get_freq());
      c.set_squelshe(Squelshe(squelshe));
      c.set_rte(Rte(rte));
      break;
    }
    case WM_SEL_CALL_TRANS: {
      auto& c = p.select_wm_selcall();
      EncodeSession(*this, c);
      c.set_cid(CallerText(*this));
      break;
    }
    case WM_SELECT_RC_CHAN: EncodeRemote(*this, p.select_wm_remote().get_remote()); break;
    case WM_STANDBY: {
      auto& c = p.select_wm_standby();
      c.set_state_channel(Standby(standby_state_channel));
      c.set_group(Group(standby_group));
      c.set_state_receiver(Standby(standby_state_receiver));
      break;
    }
    default: return false;
  }
  return true;
}

}  // namespace RTPSignalling
