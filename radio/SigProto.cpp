#include "radio/SigProto.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <limits>

const sig_proto_packet_name sig_proto_packet_const_name[21] = {
    {GW_FLAG, "GW_FLAG"},
    {GW_ADJUST_CHAN, "GW_ADJUST_CHAN"},
    {GW_FLAG_PTT, "GW_FLAG_PTT"},
    {GW_FLAG_BSS, "GW_FLAG_BSS"},
    {GW_FLAG_RV, "GW_FLAG_RV"},
    {GW_FLAG_SH, "GW_FLAG_SH"},
    {GW_FLAG_PW, "GW_FLAG_PW"},
    {GW_FLAG_RS, "GW_FLAG_RS"},
    {GW_SEL_CALL, "GW_SEL_CALL"},
    {GW_SELECT_RC_CHAN, "GW_SELECT_RC_CHAN"},
    {GW_ADJUST_SQUELSHE, "GW_ADJUST_SQUELSHE"},
    {GW_ADJUST_RTE, "GW_ADJUST_RTE"},
    {GW_ADJUST_STANDBY, "GW_ADJUST_STANDBY"},
    {WM_FLAG, "WM_FLAG"},
    {WM_TRANS, "WM_TRANS"},
    {WM_RADIO_QUALITY, "WM_RADIO_QUALITY"},
    {WM_CHAN, "WM_CHAN"},
    {WM_SEL_CALL_TRANS, "WM_SEL_CALL_TRANS"},
    {WM_SELECT_RC_CHAN, "WM_SELECT_RC_CHAN"},
    {WM_STANDBY, "WM_STANDBY"},
    {-1, ""},
};

const long init_sig_proto_type[kSigProtoQueueSize] = {
    1, 3, 4, 5, 6, 7, 8, 2, 9, 10, 13, 129, 130, 132, 131, 133, 135,
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
};

namespace {

bool known_type(uint32_t type) { return (type >= GW_FLAG && type <= GW_ADJUST_STANDBY) || (type >= WM_FLAG && type <= WM_STANDBY); }

void put32(uint8_t* b, uint32_t v) {
  b[0] = static_cast<uint8_t>(v >> 24);
  b[1] = static_cast<uint8_t>(v >> 16);
  b[2] = static_cast<uint8_t>(v >> 8);
  b[3] = static_cast<uint8_t>(v);
}
uint32_t get32(const uint8_t* b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}
void putf(uint8_t* b, float f) { put32(b, std::bit_cast<uint32_t>(f)); }
float getf(const uint8_t* b) { return std::bit_cast<float>(get32(b)); }

// The session address travels with its octets last-first: the in-memory (network order)
// bytes a.b.c.d go out as d, c, b, a whatever the host's byte order.
void put_reversed_addr(uint8_t* b, uint32_t addr) {
  uint8_t octets[4];
  std::memcpy(octets, &addr, 4);
  for (int i = 0; i < 4; ++i) b[i] = octets[3 - i];
}
uint32_t get_reversed_addr(const uint8_t* b) {
  uint8_t octets[4];
  for (int i = 0; i < 4; ++i) octets[i] = b[3 - i];
  uint32_t addr;
  std::memcpy(&addr, octets, 4);
  return addr;
}

size_t round4(size_t n) { return (n + 3) & ~size_t{3}; }

// Length of a body-carrying type's packet, or 4 for the others; the caller-identity types
// are sized by their callers.
size_t fixed_length(uint32_t type) {
  switch (type) {
    case GW_ADJUST_CHAN:
    case WM_TRANS: return 12;
    case WM_CHAN: return 16;
    case GW_SELECT_RC_CHAN:
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY:
    case WM_RADIO_QUALITY:
    case WM_SELECT_RC_CHAN:
    case WM_STANDBY: return 8;
  }
  return 4;
}

// Buffer room the packer asks for (more than the wire length for the caller-identity types,
// which reserve room for the longest padding).
size_t pack_need(const sig_proto& p) {
  if (p.type == GW_SEL_CALL) return size_t{p.body.gw_sel_call.callerID_length} + 12;
  if (p.type == WM_SEL_CALL_TRANS) return size_t{p.body.wm_sel_call_trans.callerID_length} + 20;
  return fixed_length(p.type);
}

// Bytes a received packet must hold; for the caller-identity types the length byte must be
// there first (SIZE_MAX when it is missing).
size_t unpack_need(uint32_t type, const uint8_t* data, size_t size) {
  if (type == GW_SEL_CALL) return size < 5 ? SIZE_MAX : 5 + size_t{data[4]};
  if (type == WM_SEL_CALL_TRANS) return size < 13 ? SIZE_MAX : 13 + size_t{data[12]};
  return fixed_length(type);
}

}  // namespace

int sig_proto_init(sig_proto* p) {
  if (p) std::memset(p, 0, sizeof *p);
  return 0;
}

int sig_proto_pack(const sig_proto* p, uint8_t* buf, size_t size) {
  if (!p || !buf) return 0;
  if (size < 4) return kRadioCodecShort;
  std::memset(buf, 0, size);
  buf[0] = static_cast<uint8_t>(p->type);
  buf[1] = static_cast<uint8_t>(((p->priority & 0xF) << 4) | ((p->flag_t & 1) << 3) | ((p->flag_p & 1) << 2) |
                                ((p->flag_r & 1) << 1) | (p->flag_s & 1));
  uint32_t status = p->status & 0x1FF;
  buf[2] = static_cast<uint8_t>(((p->flag_b & 1) << 7) | ((p->flag_rv & 1) << 6) | ((p->flag_sh & 1) << 5) |
                                ((p->flag_pw & 1) << 4) | (status >> 5));
  buf[3] = static_cast<uint8_t>(((status & 0x1F) << 3) | ((p->flag_c & 3) << 1) | (p->flag_rs & 1));
  if (size < pack_need(*p)) return kRadioCodecShort;
  const auto& b = p->body;
  switch (p->type) {
    case GW_ADJUST_CHAN:
      put32(buf + 4, b.gw_adjust_chan.id);
      putf(buf + 8, b.gw_adjust_chan.freq);
      return 12;
    case GW_SEL_CALL: {
      size_t n = b.gw_sel_call.callerID_length;
      buf[4] = static_cast<uint8_t>(n);
      std::memcpy(buf + 5, b.gw_sel_call.callerID, n);
      return static_cast<int>(round4(5 + n));
    }
    case GW_SELECT_RC_CHAN:
      buf[4] = b.gw_select_rc_chan.interface;
      buf[5] = b.gw_select_rc_chan.channel;
      return 8;
    case GW_ADJUST_SQUELSHE: buf[4] = b.gw_adjust_squelsh.squelsh; return 8;
    case GW_ADJUST_RTE: buf[4] = b.gw_adjust_rte.rte; return 8;
    case GW_ADJUST_STANDBY: buf[4] = b.gw_adjust_standby.state; return 8;
    case WM_TRANS:
      put_reversed_addr(buf + 4, b.wm_trans.session_addr);
      put32(buf + 8, b.wm_trans.ssrc);
      return 12;
    case WM_RADIO_QUALITY: putf(buf + 4, b.wm_radio_quality.radio_quality); return 8;
    case WM_CHAN:
      put32(buf + 4, b.wm_chan.id);
      putf(buf + 8, b.wm_chan.freq);
      buf[12] = b.wm_chan.squelsh;
      buf[13] = b.wm_chan.rte;
      return 16;
    case WM_SEL_CALL_TRANS: {
      size_t n = b.wm_sel_call_trans.callerID_length;
      put_reversed_addr(buf + 4, b.wm_sel_call_trans.session_addr);
      put32(buf + 8, b.wm_sel_call_trans.ssrc);
      buf[12] = static_cast<uint8_t>(n);
      std::memcpy(buf + 13, b.wm_sel_call_trans.callerID, n);
      return static_cast<int>(round4(13 + n));
    }
    case WM_SELECT_RC_CHAN:
      buf[4] = b.wm_select_rc_chan.interface;
      buf[5] = b.wm_select_rc_chan.channel;
      return 8;
    case WM_STANDBY:
      buf[4] = b.wm_standby.state;
      buf[5] = b.wm_standby.group;
      buf[6] = b.wm_standby.receiver_state;
      return 8;
  }
  return 4;
}

int sig_proto_unpack(sig_proto* p, const uint8_t* data, size_t size) {
  if (!p || !data) return kRadioCodecNullArgument;
  if (size < 4) return kRadioCodecShort;
  uint32_t type = data[0];
  if (!known_type(type)) {
    p->type = type;
    return kRadioCodecUnknownType;
  }
  // Every length is checked before anything is written, so that a short packet leaves the
  // record as it was.
  if (size < unpack_need(type, data, size)) return kRadioCodecShort;
  auto& body = p->body;
  switch (type) {
    case GW_ADJUST_CHAN:
      body.gw_adjust_chan.id = get32(data + 4);
      body.gw_adjust_chan.freq = getf(data + 8);
      break;
    case GW_SEL_CALL:
      body.gw_sel_call.callerID_length = data[4];
      std::memcpy(body.gw_sel_call.callerID, data + 5, data[4]);
      break;
    case GW_SELECT_RC_CHAN:
      body.gw_select_rc_chan.interface = data[4];
      body.gw_select_rc_chan.channel = data[5];
      break;
    case GW_ADJUST_SQUELSHE: body.gw_adjust_squelsh.squelsh = data[4]; break;
    case GW_ADJUST_RTE: body.gw_adjust_rte.rte = data[4]; break;
    case GW_ADJUST_STANDBY: body.gw_adjust_standby.state = data[4]; break;
    case WM_RADIO_QUALITY: body.wm_radio_quality.radio_quality = getf(data + 4); break;
    case WM_SELECT_RC_CHAN:
      body.wm_select_rc_chan.interface = data[4];
      body.wm_select_rc_chan.channel = data[5];
      break;
    case WM_STANDBY:
      body.wm_standby.state = data[4];
      body.wm_standby.group = data[5];
      body.wm_standby.receiver_state = data[6];
      break;
    case WM_TRANS:
      body.wm_trans.session_addr = get_reversed_addr(data + 4);
      body.wm_trans.ssrc = get32(data + 8);
      break;
    case WM_CHAN:
      body.wm_chan.id = get32(data + 4);
      body.wm_chan.freq = getf(data + 8);
      body.wm_chan.squelsh = data[12];
      body.wm_chan.rte = data[13];
      break;
    case WM_SEL_CALL_TRANS:
      body.wm_sel_call_trans.session_addr = get_reversed_addr(data + 4);
      body.wm_sel_call_trans.ssrc = get32(data + 8);
      body.wm_sel_call_trans.callerID_length = data[12];
      std::memcpy(body.wm_sel_call_trans.callerID, data + 13, data[12]);
      break;
    default: break;  // the flag-only types carry no body
  }
  p->type = type;
  p->priority = data[1] >> 4;
  p->flag_t = (data[1] >> 3) & 1;
  p->flag_p = (data[1] >> 2) & 1;
  p->flag_r = (data[1] >> 1) & 1;
  p->flag_s = data[1] & 1;
  p->flag_b = data[2] >> 7;
  p->flag_rv = (data[2] >> 6) & 1;
  p->flag_sh = (data[2] >> 5) & 1;
  p->flag_pw = (data[2] >> 4) & 1;
  p->status = (uint32_t{data[2] & 0xFu} << 5) | (data[3] >> 3);
  p->flag_c = (data[3] >> 1) & 3;
  p->flag_rs = data[3] & 1;
  return 0;
}

long radio_codec_word_difference(uint32_t a, uint32_t b) {
  const int64_t d = int64_t{b} - int64_t{a};
  return static_cast<long>(std::clamp<int64_t>(d, std::numeric_limits<long>::min(), std::numeric_limits<long>::max()));
}

long cmp_sig_proto_header(const sig_proto* a, const sig_proto* b) {
  if (!a || !b) return -1;
  if (long d = radio_codec_word_difference(a->type, b->type)) return d;
  if (long d = radio_codec_word_difference(a->src_ssrc, b->src_ssrc)) return d;
  return radio_codec_word_difference(a->src_addr, b->src_addr);
}

namespace {
// Both lookups stop at the terminator or after this many rows.
constexpr int kMaxNameRows = 128;
}  // namespace

const char* sig_proto_find_name_by_id(const sig_proto_packet_name* table, long id) {
  if (!table) return nullptr;
  for (int i = 0; i < kMaxNameRows && table[i].id >= 0; ++i) {
    if (table[i].id == id) return table[i].name;
  }
  return nullptr;
}

long sig_proto_find_id_by_name(const sig_proto_packet_name* table, const char* name) {
  if (!table || !name) return -1;
  for (int i = 0; i < kMaxNameRows && table[i].id >= 0; ++i) {
    if (table[i].name && std::strcmp(table[i].name, name) == 0) return table[i].id;
  }
  return -1;
}

int sig_proto_is_ptt_type(uint32_t type) {
  switch (type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_SEL_CALL:
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS: return 1;
  }
  return 0;
}

int sig_proto_is_ptt_command(const sig_proto* p) { return p ? sig_proto_is_ptt_type(p->type) : 0; }

int is_little_endian() { return std::endian::native == std::endian::little ? 1 : 0; }

int init_sig_proto_queue(sig_proto_queue* q) {
  if (!q) return 0;
  std::memset(q, 0, sizeof *q);
  for (int i = 0; i < kSigProtoQueueSize; ++i) q->entry[i].type = static_cast<uint32_t>(init_sig_proto_type[i]);
  return 0;
}

// ---------------------------------------------------------------- setters

int sig_proto_set_base(sig_proto* p, long priority, long flag_t, long flag_p, long flag_r, long flag_s, long flag_b,
                       long flag_rv, long flag_sh, long flag_pw, long flag_rs, long flag_c, long status) {
  if (!p) return 0;
  auto set = [](uint32_t& field, long v) {
    if (v >= 0) field = static_cast<uint32_t>(v);
  };
  set(p->priority, priority);
  set(p->flag_t, flag_t);
  set(p->flag_p, flag_p);
  set(p->flag_r, flag_r);
  set(p->flag_s, flag_s);
  set(p->flag_b, flag_b);
  set(p->flag_rv, flag_rv);
  set(p->flag_sh, flag_sh);
  set(p->flag_pw, flag_pw);
  set(p->flag_rs, flag_rs);
  set(p->flag_c, flag_c);
  set(p->status, status);
  return 0;
}

int sig_proto_set_ptt(sig_proto* p, long flag_p) {
  if (p && flag_p >= 0) p->flag_p = static_cast<uint32_t>(flag_p);
  return 0;
}

int sig_proto_set_gw_adjust_chan(sig_proto* p, uint32_t id, float freq) {
  if (!p) return 0;
  p->body.gw_adjust_chan.id = id;
  p->body.gw_adjust_chan.freq = freq;
  return 0;
}

int sig_proto_set_wm_chan(sig_proto* p, uint32_t id, float freq, uint8_t squelsh, uint8_t rte) {
  if (!p) return 0;
  p->body.wm_chan.id = id;
  p->body.wm_chan.freq = freq;
  p->body.wm_chan.squelsh = squelsh;
  p->body.wm_chan.rte = rte;
  return 0;
}

int sig_proto_set_gw_adjust_squelsh(sig_proto* p, uint8_t squelsh) {
  if (p) p->body.gw_adjust_squelsh.squelsh = squelsh;
  return 0;
}

int sig_proto_set_gw_adjust_rte(sig_proto* p, uint8_t rte) {
  if (p) p->body.gw_adjust_rte.rte = rte;
  return 0;
}

int sig_proto_set_gw_adjust_standby(sig_proto* p, uint8_t state) {
  if (p) p->body.gw_adjust_standby.state = state;
  return 0;
}

int sig_proto_set_gw_select_rc_chan(sig_proto* p, uint8_t interface, uint8_t channel) {
  if (!p) return 0;
  p->body.gw_select_rc_chan.interface = interface;
  p->body.gw_select_rc_chan.channel = channel;
  return 0;
}

int sig_proto_set_wm_select_rc_chan(sig_proto* p, uint8_t interface, uint8_t channel) {
  if (!p) return 0;
  p->body.wm_select_rc_chan.interface = interface;
  p->body.wm_select_rc_chan.channel = channel;
  return 0;
}

namespace {
void set_caller_id(uint8_t& length_field, uint8_t (&field)[kSigProtoCallerIdSize], const char* id, size_t length) {
  std::memset(field, 0, sizeof field);
  if (!id) {
    length_field = 0;
    return;
  }
  // The last byte stays zero, and the length never claims more than the field holds.
  std::strncpy(reinterpret_cast<char*>(field), id, sizeof field - 1);
  length_field = static_cast<uint8_t>(length < sizeof field - 1 ? length : sizeof field - 1);
}
}  // namespace

int sig_proto_set_gw_selcall(sig_proto* p, const char* caller_id, size_t length) {
  if (p) set_caller_id(p->body.gw_sel_call.callerID_length, p->body.gw_sel_call.callerID, caller_id, length);
  return 0;
}

int sig_proto_set_wm_transmite(sig_proto* p, uint32_t session_addr, uint32_t ssrc) {
  if (!p) return 0;
  p->body.wm_trans.session_addr = session_addr;
  p->body.wm_trans.ssrc = ssrc;
  return 0;
}

int sig_proto_set_wm_selcall_transmite(sig_proto* p, uint32_t session_addr, uint32_t ssrc, const char* caller_id,
                                       size_t length) {
  if (!p) return 0;
  auto& b = p->body.wm_sel_call_trans;
  b.session_addr = session_addr;
  b.ssrc = ssrc;
  set_caller_id(b.callerID_length, b.callerID, caller_id, length);
  return 0;
}

int sig_proto_set_wm_radio_quality(sig_proto* p, float quality) {
  if (p) p->body.wm_radio_quality.radio_quality = quality;
  return 0;
}

int sig_proto_set_wm_standby(sig_proto* p, uint8_t state, uint8_t group, uint8_t receiver_state) {
  if (!p) return 0;
  p->body.wm_standby.state = state;
  p->body.wm_standby.group = group;
  p->body.wm_standby.receiver_state = receiver_state;
  return 0;
}

// ---------------------------------------------------------------- text dump

namespace {

// Appends formatted text without ever writing past the end; a cut text stays terminated.
class Dump {
 public:
  Dump(char* text, size_t size) : text_(text), size_(size) {
    if (size_ > 0) text_[0] = '\0';
  }
  template <typename... A>
  void line(const char* format, A... args) {
    if (used_ + 1 >= size_) return;
    int n = std::snprintf(text_ + used_, size_ - used_, format, args...);
    if (n < 0) return;
    used_ += static_cast<size_t>(n) < size_ - used_ ? static_cast<size_t>(n) : size_ - used_ - 1;
  }
  void addr(const char* label, uint32_t a) {
    uint8_t o[4];
    std::memcpy(o, &a, 4);
    line("%s : %u.%u.%u.%u,\n", label, o[0], o[1], o[2], o[3]);
  }
  void caller_id(const char* label, uint8_t length, const uint8_t* id) {
    line("%s.callerID_length : %u,\n", label, length);
    for (int i = 0; i < length; ++i) line("[%d] : 0x%02X,\n", i, id[i]);
  }
  int used() const { return static_cast<int>(used_); }

 private:
  char* text_;
  size_t size_;
  size_t used_ = 0;
};

using ul = unsigned long;

void dump_body(Dump& d, const sig_proto& p) {
  const auto& b = p.body;
  switch (p.type) {
    case GW_ADJUST_CHAN:
      d.line("gw_adjust_chan.id : %lu,\n", ul{b.gw_adjust_chan.id});
      d.line("gw_adjust_chan.freq : %4.4f,\n", double{b.gw_adjust_chan.freq});
      break;
    case GW_SEL_CALL: d.caller_id("gw_sel_call", b.gw_sel_call.callerID_length, b.gw_sel_call.callerID); break;
    case GW_SELECT_RC_CHAN:
      d.line("gw_select_rc_chan.interface : %u,\n", b.gw_select_rc_chan.interface);
      d.line("gw_select_rc_chan.channel : %u,\n", b.gw_select_rc_chan.channel);
      break;
    case GW_ADJUST_SQUELSHE: d.line("gw_adjust_squelsh.squelsh : %u,\n", b.gw_adjust_squelsh.squelsh); break;
    case GW_ADJUST_RTE: d.line("gw_adjust_rte.rte : %u,\n", b.gw_adjust_rte.rte); break;
    case GW_ADJUST_STANDBY: d.line("gw_adjust_standby.state : %u,\n", b.gw_adjust_standby.state); break;
    case WM_TRANS:
      d.addr("wm_trans.session_addr ", b.wm_trans.session_addr);
      d.line("wm_trans.ssrc         : 0x%08lX,\n", ul{b.wm_trans.ssrc});
      break;
    case WM_RADIO_QUALITY:
      d.line("wm_radio_quality.radio_quality : %4.4f,\n", double{b.wm_radio_quality.radio_quality});
      break;
    case WM_CHAN:
      d.line("wm_chan.id : %lu,\n", ul{b.wm_chan.id});
      d.line("wm_chan.freq : %4.4f,\n", double{b.wm_chan.freq});
      d.line("wm_chan.squelsh : %u,\n", b.wm_chan.squelsh);
      d.line("wm_chan.rte : %u,\n", b.wm_chan.rte);
      break;
    case WM_SEL_CALL_TRANS:
      d.addr("wm_sel_call_trans.session_addr ", b.wm_sel_call_trans.session_addr);
      d.line("wm_sel_call_trans.ssrc         : 0x%08lX,\n", ul{b.wm_sel_call_trans.ssrc});
      d.caller_id("wm_sel_call_trans", b.wm_sel_call_trans.callerID_length, b.wm_sel_call_trans.callerID);
      break;
    case WM_SELECT_RC_CHAN:
      d.line("wm_select_rc_chan.interface : %u,\n", b.wm_select_rc_chan.interface);
      d.line("wm_select_rc_chan.channel : %u,\n", b.wm_select_rc_chan.channel);
      break;
    case WM_STANDBY:
      d.line("wm_standby.state : %u,\n", b.wm_standby.state);
      d.line("wm_standby.group : %u,\n", b.wm_standby.group);
      d.line("wm_standby.receiver_state : %u,\n", b.wm_standby.receiver_state);
      break;
  }
}

}  // namespace

int sprintf_sig_proto(char* text, size_t size, const sig_proto* p, int mode) {
  if (!text) return 0;
  Dump d(text, size);
  // Type 0 has a printer of its own (header only); other types outside the table print nothing.
  if (!p || (p->type != 0 && !known_type(p->type))) return 0;
  const char* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, p->type);
  if ((mode & kSigProtoDumpTypeName) && name) {
    d.line("type      : %s,\n", name);
  } else if (mode & (kSigProtoDumpTypeName | kSigProtoDumpTypeHex)) {
    d.line("type      : 0x%08lX,\n", ul{p->type});
  }
  d.line("flag_t   : %lu,\n", ul{p->flag_t});
  d.line("flag_p   : %lu,\n", ul{p->flag_p});
  d.line("flag_r   : %lu,\n", ul{p->flag_r});
  d.line("flag_s   : %lu,\n", ul{p->flag_s});
  d.line("flag_b   : %lu,\n", ul{p->flag_b});
  d.line("flag_rv  : %lu,\n", ul{p->flag_rv});
  d.line("flag_sh  : %lu,\n", ul{p->flag_sh});
  d.line("flag_rs  : %lu,\n", ul{p->flag_rs});
  d.line("flag_pw  : %lu,\n", ul{p->flag_pw});
  d.line("flag_c   : %lu,\n", ul{p->flag_c});
  if (mode & kSigProtoDumpFlagsOnly) return d.used();
  d.line("priority : %lu,\n", ul{p->priority});
  d.line("status   : %lu,\n", ul{p->status});
  dump_body(d, *p);
  return d.used();
}

namespace {
int cmp_dumps(const sig_proto* a, const sig_proto* b, int mode) {
  if (!a || !b) return -1;
  char ta[8192];
  char tb[8192];
  int la = sprintf_sig_proto(ta, sizeof ta, a, mode);
  int lb = sprintf_sig_proto(tb, sizeof tb, b, mode);
  if (la != lb) return la - lb;
  return std::strcmp(ta, tb);
}
}  // namespace

int cmp_sig_proto(const sig_proto* a, const sig_proto* b) { return cmp_dumps(a, b, kSigProtoDumpTypeHex); }
int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b) { return cmp_dumps(a, b, kSigProtoDumpFlagsOnly); }
