#pragma once
// The LEMZ radio signalling packet carried in the RTP header extension: the host-form record
// `sig_proto`, its packer and unpacker, the packet-type name table, setters and a text dump.
// Plain functions over a plain record: integer result codes, no allocation, no logging.
#include <cstddef>
#include <cstdint>

// Shared result codes of the radio codecs.
inline constexpr int kRadioCodecNullArgument = -7;
inline constexpr int kRadioCodecUnknownType = -8;
inline constexpr int kRadioCodecShort = -9;

// Packet types: workstation to gateway 1..13, gateway to workstation 129..135.
enum sig_proto_type : uint32_t {
  GW_FLAG = 1,
  GW_ADJUST_CHAN = 2,
  GW_FLAG_PTT = 3,
  GW_FLAG_BSS = 4,
  GW_FLAG_RV = 5,
  GW_FLAG_SH = 6,
  GW_FLAG_PW = 7,
  GW_FLAG_RS = 8,
  GW_SEL_CALL = 9,
  GW_SELECT_RC_CHAN = 10,
  GW_ADJUST_SQUELSHE = 11,
  GW_ADJUST_RTE = 12,
  GW_ADJUST_STANDBY = 13,
  WM_FLAG = 129,
  WM_TRANS = 130,
  WM_RADIO_QUALITY = 131,
  WM_CHAN = 132,
  WM_SEL_CALL_TRANS = 133,
  WM_SELECT_RC_CHAN = 134,
  WM_STANDBY = 135,
};

inline constexpr size_t kSigProtoCallerIdSize = 256;  // at most 255 used, always terminated

struct sig_proto {
  uint32_t src_addr;  // sender's IPv4 address, network order; set by the receiver
  uint32_t src_ssrc;  // sender's RTP SSRC; set by the receiver
  uint32_t type;
  uint32_t priority;  // 4 bits; lower is more urgent
  uint32_t flag_t;
  uint32_t flag_p;  // push-to-talk
  uint32_t flag_r;
  uint32_t flag_s;  // squelch
  uint32_t flag_b;  // BSS
  uint32_t flag_rv;
  uint32_t flag_sh;
  uint32_t flag_rs;
  uint32_t flag_pw;  // power
  uint32_t flag_c;   // 2 bits
  uint32_t status;   // 9 bits
  union {
    struct {
      uint32_t id;
      float freq;
    } gw_adjust_chan;
    struct {
      uint8_t callerID_length;
      uint8_t callerID[kSigProtoCallerIdSize];
    } gw_sel_call;
    struct {
      uint8_t interface;
      uint8_t channel;
    } gw_select_rc_chan;
    struct {
      uint8_t squelsh;
    } gw_adjust_squelsh;
    struct {
      uint8_t rte;
    } gw_adjust_rte;
    struct {
      uint8_t state;
    } gw_adjust_standby;
    struct {
      uint32_t session_addr;  // network order
      uint32_t ssrc;
    } wm_trans;
    struct {
      float radio_quality;
    } wm_radio_quality;
    struct {
      uint32_t id;
      float freq;
      uint8_t squelsh;
      uint8_t rte;
    } wm_chan;
    struct {
      uint32_t session_addr;  // network order
      uint32_t ssrc;
      uint8_t callerID_length;
      uint8_t callerID[kSigProtoCallerIdSize];
    } wm_sel_call_trans;
    struct {
      uint8_t interface;
      uint8_t channel;
    } wm_select_rc_chan;
    struct {
      uint8_t state;
      uint8_t group;
      uint8_t receiver_state;
    } wm_standby;
    uint8_t raw[268];
  } body;
};
static_assert(sizeof(sig_proto) == 328);
static_assert(offsetof(sig_proto, type) == 8 && offsetof(sig_proto, status) == 56 && offsetof(sig_proto, body) == 60);
static_assert(sizeof(sig_proto::body) == 268);

// One row of a packet-type name table; a row with a negative id ends the table.
struct sig_proto_packet_name {
  long id;
  const char* name;
};
// The 20 packet types in table order, then the terminator {-1, ""}.
extern const sig_proto_packet_name sig_proto_packet_const_name[21];

// A queue of records with per-entry state, preset with the types a gateway reports.
inline constexpr int kSigProtoQueueSize = 32;
struct sig_proto_queue {
  sig_proto entry[kSigProtoQueueSize];
  uint8_t state[128];
};
extern const long init_sig_proto_type[kSigProtoQueueSize];

int sig_proto_init(sig_proto* p);
// Bytes written; 0 for a null record or buffer; -9 when the buffer cannot hold the packet.
int sig_proto_pack(const sig_proto* p, uint8_t* buf, size_t size);
// 0; -7 for null arguments; -8 for an unknown type (only `type` is set); -9 for a short packet.
int sig_proto_unpack(sig_proto* p, const uint8_t* data, size_t size);
// 0 when type, SSRC and address are equal, else the first difference b - a; -1 on null.
long cmp_sig_proto_header(const sig_proto* a, const sig_proto* b);
// b - a of two header words for the comparisons of both codecs, held at the bounds of a long
// where it does not fit (a 32-bit long cannot hold the difference of two SSRCs), so that its
// sign and whether it is 0 always hold.
long radio_codec_word_difference(uint32_t a, uint32_t b);
const char* sig_proto_find_name_by_id(const sig_proto_packet_name* table, long id);
long sig_proto_find_id_by_name(const sig_proto_packet_name* table, const char* name);
// Whether a packet type (or a packet's type) is a push-to-talk one: 1, 3, 9, 129, 130, 133.
int sig_proto_is_ptt_type(uint32_t type);
int sig_proto_is_ptt_command(const sig_proto* p);
int is_little_endian();
int init_sig_proto_queue(sig_proto_queue* q);

// Setters: 0, nothing on a null record. A negative argument of set_base/set_ptt keeps the field.
int sig_proto_set_base(sig_proto* p, long priority, long flag_t, long flag_p, long flag_r, long flag_s, long flag_b,
                       long flag_rv, long flag_sh, long flag_pw, long flag_rs, long flag_c, long status);
int sig_proto_set_ptt(sig_proto* p, long flag_p);
int sig_proto_set_gw_adjust_chan(sig_proto* p, uint32_t id, float freq);
int sig_proto_set_wm_chan(sig_proto* p, uint32_t id, float freq, uint8_t squelsh, uint8_t rte);
int sig_proto_set_gw_adjust_squelsh(sig_proto* p, uint8_t squelsh);
int sig_proto_set_gw_adjust_rte(sig_proto* p, uint8_t rte);
int sig_proto_set_gw_adjust_standby(sig_proto* p, uint8_t state);
int sig_proto_set_gw_select_rc_chan(sig_proto* p, uint8_t interface, uint8_t channel);
int sig_proto_set_wm_select_rc_chan(sig_proto* p, uint8_t interface, uint8_t channel);
// Copies at most 255 bytes of the identity (up to its first zero byte); the length is clamped
// to 255 so that it never claims more than the record holds.
int sig_proto_set_gw_selcall(sig_proto* p, const char* caller_id, size_t length);
int sig_proto_set_wm_transmite(sig_proto* p, uint32_t session_addr, uint32_t ssrc);
int sig_proto_set_wm_selcall_transmite(sig_proto* p, uint32_t session_addr, uint32_t ssrc, const char* caller_id,
                                       size_t length);
int sig_proto_set_wm_radio_quality(sig_proto* p, float quality);
int sig_proto_set_wm_standby(sig_proto* p, uint8_t state, uint8_t group, uint8_t receiver_state);

// Dump modes (bits): type line in hex, type line by name, flags only.
inline constexpr int kSigProtoDumpTypeHex = 1;
inline constexpr int kSigProtoDumpTypeName = 2;
inline constexpr int kSigProtoDumpFlagsOnly = 4;
// Readable dump into text (always terminated when size > 0, cut at size); the length written.
int sprintf_sig_proto(char* text, size_t size, const sig_proto* p, int mode);
// Compare the dumps of two records (mode 1, resp. flags only).
int cmp_sig_proto(const sig_proto* a, const sig_proto* b);
int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b);
