#include "radio/R2SProto.h"

#include <cstring>

namespace {

// Feature bytes: type in the high nibble, data length in the low nibble.
constexpr uint8_t kRxSqi = 0x11;
constexpr uint8_t kRrcShort = 0x31;
constexpr uint8_t kRxRrcLong = 0x34;
constexpr uint8_t kRxMam = 0x4C;
constexpr uint8_t kTxClimaxDelay = 0x21;
constexpr uint8_t kTxRrm = 0x43;

constexpr size_t kHeaderSize = 2;
constexpr size_t kBareSize = 4;  // a header without features is padded to a full word

uint32_t bit(const uint8_t b, int n) { return (b >> n) & 1u; }

// The eight remote-control switches share one byte, the first in bit 7.
template <typename Rrc>
uint8_t rrc_byte(const Rrc& r) {
  return static_cast<uint8_t>(((r.mstxf1 & 1) << 7) | ((r.msrxf1 & 1) << 6) | ((r.mstxf2 & 1) << 5) |
                              ((r.msrxf2 & 1) << 4) | ((r.seltxf1 & 1) << 3) | ((r.seltxf2 & 1) << 2) |
                              ((r.murxf1 & 1) << 1) | (r.murxf2 & 1));
}
template <typename Rrc>
void rrc_from(Rrc& r, uint8_t b) {
  r.mstxf1 = bit(b, 7);
  r.msrxf1 = bit(b, 6);
  r.mstxf2 = bit(b, 5);
  r.msrxf2 = bit(b, 4);
  r.seltxf1 = bit(b, 3);
  r.seltxf2 = bit(b, 2);
  r.murxf1 = bit(b, 1);
  r.murxf2 = bit(b, 0);
}

// A 1-bit flag and a 23-bit value in three bytes.
void put_flag23(uint8_t* b, uint32_t flag, uint32_t value) {
  b[0] = static_cast<uint8_t>(((flag & 1) << 7) | ((value >> 16) & 0x7F));
  b[1] = static_cast<uint8_t>(value >> 8);
  b[2] = static_cast<uint8_t>(value);
}
void get_flag23(const uint8_t* b, uint32_t& flag, uint32_t& value) {
  flag = b[0] >> 7;
  value = (uint32_t{b[0] & 0x7Fu} << 16) | (uint32_t{b[1]} << 8) | b[2];
}
void put16(uint8_t* b, uint32_t v) {
  b[0] = static_cast<uint8_t>(v >> 8);
  b[1] = static_cast<uint8_t>(v);
}
uint32_t get16(const uint8_t* b) { return (uint32_t{b[0]} << 8) | b[1]; }

uint8_t header_byte0(uint32_t ptt, uint32_t squ, uint32_t ptt_id) {
  return static_cast<uint8_t>(((ptt & 7) << 5) | ((squ & 1) << 4) | ((ptt_id >> 2) & 0xF));
}
uint8_t header_byte1(uint32_t ptt_id, uint32_t mute, uint32_t summation, uint32_t sct, bool features) {
  return static_cast<uint8_t>(((ptt_id & 3) << 6) | ((mute & 1) << 5) | ((summation & 1) << 4) | ((sct & 1) << 3) |
                              (features ? 1 : 0));
}

// Feature byte for one stored feature of a direction; 0 when it does not belong there, -8
// for a remote-control feature of unknown form.
int feature_byte(uint32_t direction, const r2s_proto_additional& f) {
  if (direction == kR2SProtoRx) {
    switch (f.type) {
      case kR2SFeatureSqi: return kRxSqi;
      case kR2SFeatureRrc:
        if (f.rx_rrc.form == 0) return kRrcShort;
        if (f.rx_rrc.form == 1) return kRxRrcLong;
        return kRadioCodecUnknownType;
      case kR2SFeatureClimaxDdc: return kRxMam;
    }
    return 0;
  }
  switch (f.type) {
    case kR2SFeatureClimaxDelay: return kTxClimaxDelay;
    case kR2SFeatureRrc: return kRrcShort;
    case kR2SFeatureClimaxDdc: return kTxRrm;
  }
  return 0;
}

void write_feature(uint8_t* b, uint8_t byte, const r2s_proto_additional& f) {
  b[0] = byte;
  uint8_t* d = b + 1;
  switch (byte) {
    case kRxSqi: d[0] = static_cast<uint8_t>(((f.rx_sqi.qidx & 0x1F) << 3) | (f.rx_sqi.qidx_ml & 7)); break;
    case kRrcShort: d[0] = rrc_byte(f.tx_rrc); break;  // the same switch layout in both directions
    case kRxRrcLong:
      d[0] = rrc_byte(f.rx_rrc);
      d[1] = static_cast<uint8_t>(((f.rx_rrc.ext_bit[0] & 1) << 7) | ((f.rx_rrc.ext_bit[1] & 1) << 6));
      d[2] = static_cast<uint8_t>(f.rx_rrc.ext_octet[0]);
      d[3] = static_cast<uint8_t>(f.rx_rrc.ext_octet[1]);
      break;
    case kRxMam:
      put_flag23(d, f.rx_mam.tqg, f.rx_mam.t1);
      put_flag23(d + 3, f.rx_mam.nmr, f.rx_mam.t2);
      put16(d + 6, f.rx_mam.tsd);
      put16(d + 8, f.rx_mam.tj1);
      put16(d + 10, f.rx_mam.tid);
      break;
    case kTxClimaxDelay: d[0] = static_cast<uint8_t>(f.tx_time_delay.delay); break;
    case kTxRrm: put_flag23(d, f.tx_rrm.tqv, f.tx_rrm.t1); break;
  }
}

int pack(uint32_t direction, const r2s_proto* p, uint8_t* buf, size_t size) {
  if (!p) return kRadioCodecNullArgument;
  if (!buf) return 0;
  if (size < kHeaderSize) return kRadioCodecShort;
  std::memset(buf, 0, size);
  uint32_t count = p->count < kR2SProtoMaxAdditionals ? p->count : kR2SProtoMaxAdditionals;
  if (direction == kR2SProtoRx) {
    const auto& h = p->header.rx;
    buf[0] = header_byte0(h.ptt, h.squ, h.ptt_id);
    buf[1] = header_byte1(h.ptt_id, h.ptt_mute, h.ptt_summation, h.sct, count != 0);
  } else {
    const auto& h = p->header.tx;
    buf[0] = header_byte0(h.ptt, 0, h.ptt_id);
    buf[1] = header_byte1(h.ptt_id, h.ptt_mute, h.ptt_summation, 0, count != 0);
  }
  if (count == 0) return size < kBareSize ? kRadioCodecShort : static_cast<int>(kBareSize);
  size_t used = kHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    int byte = feature_byte(direction, p->additional[i]);
    if (byte < 0) return byte;
    if (byte == 0) continue;
    size_t need = 1 + (static_cast<size_t>(byte) & 0xF);
    if (size - used < need) return kRadioCodecShort;
    write_feature(buf + used, static_cast<uint8_t>(byte), p->additional[i]);
    used += need;
  }
  return static_cast<int>(used);
}

// Stores the feature when this direction knows its byte; false for one to skip.
bool read_feature(uint32_t direction, uint8_t byte, const uint8_t* d, r2s_proto_additional& f) {
  f = {};
  if (direction == kR2SProtoRx) {
    switch (byte) {
      case kRxSqi:
        f.type = kR2SFeatureSqi;
        f.rx_sqi.qidx = d[0] >> 3;
        f.rx_sqi.qidx_ml = d[0] & 7u;
        return true;
      case kRrcShort:
      case kRxRrcLong:
        f.type = kR2SFeatureRrc;
        rrc_from(f.rx_rrc, d[0]);
        if (byte == kRxRrcLong) {
          f.rx_rrc.form = 1;
          f.rx_rrc.ext_bit[0] = bit(d[1], 7);
          f.rx_rrc.ext_bit[1] = bit(d[1], 6);
          f.rx_rrc.ext_octet[0] = d[2];
          f.rx_rrc.ext_octet[1] = d[3];
        }
        return true;
      case kRxMam:
        f.type = kR2SFeatureClimaxDdc;
        get_flag23(d, f.rx_mam.tqg, f.rx_mam.t1);
        get_flag23(d + 3, f.rx_mam.nmr, f.rx_mam.t2);
        f.rx_mam.tsd = get16(d + 6);
        f.rx_mam.tj1 = get16(d + 8);
        f.rx_mam.tid = get16(d + 10);
        return true;
    }
    return false;
  }
  switch (byte) {
    case kTxClimaxDelay:
      f.type = kR2SFeatureClimaxDelay;
      f.tx_time_delay.delay = d[0];
      return true;
    case kRrcShort:
      f.type = kR2SFeatureRrc;
      rrc_from(f.tx_rrc, d[0]);
      return true;
    case kTxRrm:
      f.type = kR2SFeatureClimaxDdc;
      get_flag23(d, f.tx_rrm.tqv, f.tx_rrm.t1);
      return true;
  }
  return false;
}

int unpack(uint32_t direction, r2s_proto* p, const uint8_t* data, size_t size) {
  if (!p || !data) return kRadioCodecNullArgument;
  if (size < kHeaderSize) return kRadioCodecShort;
  p->type = direction;
  std::memset(&p->header, 0, sizeof p->header);
  uint8_t b0 = data[0];
  uint8_t b1 = data[1];
  uint32_t ptt = b0 >> 5;
  uint32_t ptt_id = (uint32_t{b0 & 0xFu} << 2) | (b1 >> 6);
  if (direction == kR2SProtoRx) {
    p->header.rx = {ptt, bit(b0, 4), ptt_id, bit(b1, 5), bit(b1, 4), bit(b1, 3)};
  } else {
    p->header.tx = {ptt, ptt_id, bit(b1, 5), bit(b1, 4), {0, 0}};
  }
  p->count = 0;
  if (!(b1 & 1)) return 0;
  size_t pos = kHeaderSize;
  while (pos < size && p->count < kR2SProtoMaxAdditionals) {
    uint8_t byte = data[pos];
    size_t length = byte & 0xFu;
    if (size - pos - 1 < length) return kRadioCodecShort;
    if (read_feature(direction, byte, data + pos + 1, p->additional[p->count])) ++p->count;
    pos += 1 + length;
  }
  return 0;
}

}  // namespace

int r2s_proto_init(r2s_proto* p, uint32_t type) {
  if (!p) return kRadioCodecNullArgument;
  std::memset(p, 0, sizeof *p);
  p->type = type;
  return 0;
}

int r2s_proto_pack(const r2s_proto* p, uint8_t* buf, size_t size) {
  if (!p) return kRadioCodecNullArgument;
  if (p->type != kR2SProtoTx && p->type != kR2SProtoRx) return kRadioCodecUnknownType;
  return pack(p->type, p, buf, size);
}

int r2s_proto_pack_tx(const r2s_proto* p, uint8_t* buf, size_t size) { return pack(kR2SProtoTx, p, buf, size); }
int r2s_proto_pack_rx(const r2s_proto* p, uint8_t* buf, size_t size) { return pack(kR2SProtoRx, p, buf, size); }

int r2s_proto_unpack_tx(r2s_proto* p, const uint8_t* data, size_t size) { return unpack(kR2SProtoTx, p, data, size); }
int r2s_proto_unpack_rx(r2s_proto* p, const uint8_t* data, size_t size) { return unpack(kR2SProtoRx, p, data, size); }

long cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b) {
  if (!a || !b) return -1;
  if (long d = radio_codec_word_difference(a->type, b->type)) return d;
  if (long d = radio_codec_word_difference(a->src_ssrc, b->src_ssrc)) return d;
  return radio_codec_word_difference(a->src_addr, b->src_addr);
}

int r2s_proto_set_type(r2s_proto* p, uint32_t type) {
  if (!p) return kRadioCodecNullArgument;
  p->type = type;
  return 0;
}

int r2s_proto_set_tx_header(r2s_proto* p, uint32_t ptt, uint32_t ptt_id, uint32_t ptt_mute, uint32_t ptt_summation) {
  if (!p) return kRadioCodecNullArgument;
  p->type = kR2SProtoTx;
  p->header.tx.ptt = ptt;
  p->header.tx.ptt_id = ptt_id;
  p->header.tx.ptt_mute = ptt_mute;
  p->header.tx.ptt_summation = ptt_summation;
  return 0;
}

int r2s_proto_set_rx_header(r2s_proto* p, uint32_t ptt, uint32_t squ, uint32_t ptt_id, uint32_t ptt_mute,
                            uint32_t ptt_summation, uint32_t sct) {
  if (!p) return kRadioCodecNullArgument;
  p->type = kR2SProtoRx;
  p->header.rx = {ptt, squ, ptt_id, ptt_mute, ptt_summation, sct};
  return 0;
}

int r2s_proto_reset_additionals(r2s_proto* p) {
  if (!p) return kRadioCodecNullArgument;
  p->count = 0;
  return 0;
}

namespace {
// The next free feature entry, or null when the record is full (a seventeenth is refused).
r2s_proto_additional* next(r2s_proto* p, uint32_t type) {
  if (!p || p->count >= kR2SProtoMaxAdditionals) return nullptr;
  r2s_proto_additional* f = &p->additional[p->count++];
  *f = {};
  f->type = type;
  return f;
}
}  // namespace

int r2s_proto_add_rx_sqi(r2s_proto* p, const r2s_proto_rx_additional_sqi* sqi) {
  if (!sqi) return 0;
  if (auto* f = next(p, kR2SFeatureSqi)) f->rx_sqi = *sqi;
  return 0;
}

int r2s_proto_add_rx_sqi(r2s_proto* p, uint32_t qidx, uint32_t qidx_ml) {
  r2s_proto_rx_additional_sqi sqi{qidx, qidx_ml};
  return r2s_proto_add_rx_sqi(p, &sqi);
}

int r2s_proto_add_rx_rrc(r2s_proto* p, const r2s_proto_rx_additional_rrc* rrc) {
  if (!rrc) return 0;
  if (auto* f = next(p, kR2SFeatureRrc)) f->rx_rrc = *rrc;
  return 0;
}

int r2s_proto_add_rx_mam(r2s_proto* p, const r2s_proto_rx_additional_mam* mam) {
  if (!mam) return 0;
  if (auto* f = next(p, kR2SFeatureClimaxDdc)) f->rx_mam = *mam;
  return 0;
}

int r2s_proto_add_tx_time_delay(r2s_proto* p, const r2s_proto_tx_additional_climax_time_delay* delay) {
  if (!delay) return 0;
  if (auto* f = next(p, kR2SFeatureClimaxDelay)) f->tx_time_delay = *delay;
  return 0;
}

int r2s_proto_add_tx_rrc(r2s_proto* p, const r2s_proto_tx_additional_rrc* rrc) {
  if (!rrc) return 0;
  if (auto* f = next(p, kR2SFeatureRrc)) f->tx_rrc = *rrc;
  return 0;
}

int r2s_proto_add_tx_rrm(r2s_proto* p, const r2s_proto_tx_additional_rrm* rrm) {
  if (!rrm) return 0;
  if (auto* f = next(p, kR2SFeatureClimaxDdc)) f->tx_rrm = *rrm;
  return 0;
}
