#pragma once
// The ED-137 radio signalling (R2S) carried in the RTP header extension: the host-form record
// `r2s_proto` for both directions (tx: towards the radio, rx: from the radio), packers,
// unpackers and fillers. Plain functions over a plain record: integer result codes (those of
// the LEMZ codec), no allocation, no logging.
#include <cstddef>
#include <cstdint>

#include "radio/SigProto.h"

inline constexpr uint32_t kR2SProtoTx = 1;
inline constexpr uint32_t kR2SProtoRx = 2;
inline constexpr uint32_t kR2SProtoMaxAdditionals = 16;

// Additional-feature types (high nibble of the feature byte).
inline constexpr uint32_t kR2SFeatureSqi = 1;          // rx
inline constexpr uint32_t kR2SFeatureClimaxDelay = 2;  // tx
inline constexpr uint32_t kR2SFeatureRrc = 3;          // both
inline constexpr uint32_t kR2SFeatureClimaxDdc = 4;    // rx: MAM, tx: RRM

// Signal quality: the quality index travels in the 5 high bits and the method in the 3 low
// bits of the data byte, which is where standard peers read them.
struct r2s_proto_rx_additional_sqi {
  uint32_t qidx;     // 5 bits
  uint32_t qidx_ml;  // 3 bits
};
// Radio remote control; the short form carries the eight switches, the long form two more
// switches and two octets.
struct r2s_proto_rx_additional_rrc {
  uint32_t mstxf1, msrxf1, mstxf2, msrxf2, seltxf1, seltxf2, murxf1, murxf2;  // 1 bit each
  uint32_t form;                                                             // 0 short, 1 long
  uint32_t ext_bit[2];                                                       // long form, 1 bit each
  uint32_t ext_octet[2];                                                     // long form, 8 bits each
};
// Delay measurement answer.
struct r2s_proto_rx_additional_mam {
  uint32_t tqg;  // 1 bit
  uint32_t t1;   // 23 bits
  uint32_t nmr;  // 1 bit
  uint32_t t2;   // 23 bits
  uint32_t tsd, tj1, tid;  // 16 bits each
};
struct r2s_proto_tx_additional_climax_time_delay {
  uint32_t delay;  // 8 bits
};
struct r2s_proto_tx_additional_rrc {
  uint32_t mstxf1, msrxf1, mstxf2, msrxf2, seltxf1, seltxf2, murxf1, murxf2;  // 1 bit each
};
// Delay measurement request.
struct r2s_proto_tx_additional_rrm {
  uint32_t tqv;  // 1 bit
  uint32_t t1;   // 23 bits
};

struct r2s_proto_additional {
  uint32_t type;
  union {
    uint32_t data[13];
    r2s_proto_rx_additional_sqi rx_sqi;
    r2s_proto_rx_additional_rrc rx_rrc;
    r2s_proto_rx_additional_mam rx_mam;
    r2s_proto_tx_additional_climax_time_delay tx_time_delay;
    r2s_proto_tx_additional_rrc tx_rrc;
    r2s_proto_tx_additional_rrm tx_rrm;
  };
};
static_assert(sizeof(r2s_proto_additional) == 56);

struct r2s_proto {
  uint32_t src_addr;  // sender's IPv4 address, network order; set by the receiver
  uint32_t src_ssrc;  // sender's RTP SSRC; set by the receiver
  uint32_t type;      // kR2SProtoTx or kR2SProtoRx
  union {
    struct {
      uint32_t ptt, ptt_id, ptt_mute, ptt_summation, unused[2];
    } tx;
    struct {
      uint32_t ptt, squ, ptt_id, ptt_mute, ptt_summation, sct;
    } rx;
    uint32_t words[6];
  } header;
  uint32_t count;  // features in use, 0..16
  r2s_proto_additional additional[kR2SProtoMaxAdditionals];
};
static_assert(sizeof(r2s_proto) == 936);
static_assert(offsetof(r2s_proto, header) == 12 && offsetof(r2s_proto, count) == 36 &&
              offsetof(r2s_proto, additional) == 40);

int r2s_proto_init(r2s_proto* p, uint32_t type);
// -7 null record, -8 neither tx nor rx, else the direction's packer.
int r2s_proto_pack(const r2s_proto* p, uint8_t* buf, size_t size);
// Bytes written; 0 for a null buffer; -9 when the buffer is too small; -8 (rx) for a remote
// control feature of unknown form.
int r2s_proto_pack_tx(const r2s_proto* p, uint8_t* buf, size_t size);
int r2s_proto_pack_rx(const r2s_proto* p, uint8_t* buf, size_t size);
// 0; -7 for null arguments; -9 when shorter than 2 bytes or a feature runs past the end.
int r2s_proto_unpack_tx(r2s_proto* p, const uint8_t* data, size_t size);
int r2s_proto_unpack_rx(r2s_proto* p, const uint8_t* data, size_t size);
// 0 when type, SSRC and address are equal, else the first difference b - a; -1 on null.
long cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b);

int r2s_proto_set_type(r2s_proto* p, uint32_t type);
int r2s_proto_set_tx_header(r2s_proto* p, uint32_t ptt, uint32_t ptt_id, uint32_t ptt_mute, uint32_t ptt_summation);
int r2s_proto_set_rx_header(r2s_proto* p, uint32_t ptt, uint32_t squ, uint32_t ptt_id, uint32_t ptt_mute,
                            uint32_t ptt_summation, uint32_t sct);
int r2s_proto_reset_additionals(r2s_proto* p);

// Each appends one feature while fewer than 16 are in use; always 0.
int r2s_proto_add_rx_sqi(r2s_proto* p, const r2s_proto_rx_additional_sqi* sqi);
int r2s_proto_add_rx_sqi(r2s_proto* p, uint32_t qidx, uint32_t qidx_ml);
int r2s_proto_add_rx_rrc(r2s_proto* p, const r2s_proto_rx_additional_rrc* rrc);
int r2s_proto_add_rx_mam(r2s_proto* p, const r2s_proto_rx_additional_mam* mam);
int r2s_proto_add_tx_time_delay(r2s_proto* p, const r2s_proto_tx_additional_climax_time_delay* delay);
int r2s_proto_add_tx_rrc(r2s_proto* p, const r2s_proto_tx_additional_rrc* rrc);
int r2s_proto_add_tx_rrm(r2s_proto* p, const r2s_proto_tx_additional_rrm* rrm);
