// The ED-137 R2S codec against hand-computed extensions, round trips of each feature kind,
// and the bounds of packing and unpacking.
#include <cstring>

#include "tests/radio/PackedRecord.h"

namespace {

using Bytes = std::vector<uint8_t>;
using radiotest::pack;

// Unpacks `wire` into a fresh record and compares it with `p` field for field.
void round_trip(const r2s_proto& p, const Bytes& wire, bool tx) {
  r2s_proto back;
  r2s_proto_init(&back, 0);
  ASSERT_EQ((tx ? r2s_proto_unpack_tx : r2s_proto_unpack_rx)(&back, wire.data(), wire.size()), 0);
  EXPECT_EQ(std::memcmp(&back, &p, sizeof p), 0);
}

r2s_proto rx(uint32_t ptt, uint32_t squ, uint32_t id) {
  r2s_proto p;
  r2s_proto_init(&p, kR2SProtoRx);
  r2s_proto_set_rx_header(&p, ptt, squ, id, 0, 0, 0);
  return p;
}

TEST(R2SProto, PacksToHandComputedBytesAndBack) {
  r2s_proto p = rx(1, 1, 5);
  EXPECT_EQ(pack(p), (Bytes{0x31, 0x40, 0x00, 0x00}));
  // Quality index 3 in the five high bits, method 2 in the three low bits.
  r2s_proto_add_rx_sqi(&p, 3, 2);
  EXPECT_EQ(pack(p), (Bytes{0x31, 0x41, 0x11, 0x1A}));
  r2s_proto q = rx(7, 1, 63);  // every header field at its widest
  q.header.rx.ptt_mute = q.header.rx.ptt_summation = q.header.rx.sct = 1;
  EXPECT_EQ(pack(q), (Bytes{0xFF, 0xF8, 0, 0}));
  p = rx(0, 1, 0);
  r2s_proto_add_rx_sqi(&p, 31, 1);  // a quality above 7 survives
  EXPECT_EQ(pack(p), (Bytes{0x10, 0x01, 0x11, 0xF9}));
  round_trip(p, pack(p), false);

  // Every receive feature kind, the remote-control one in both its forms.
  p = rx(2, 1, 17);
  p.header.rx.sct = 1;
  r2s_proto_add_rx_sqi(&p, 20, 3);
  r2s_proto_rx_additional_rrc rrc{1, 0, 1, 0, 0, 1, 1, 0, 0, {0, 0}, {0, 0}};
  r2s_proto_add_rx_rrc(&p, &rrc);
  r2s_proto_rx_additional_rrc rrc_long{0, 1, 0, 1, 1, 0, 0, 1, 1, {1, 0}, {0xAB, 0x12}};
  r2s_proto_add_rx_rrc(&p, &rrc_long);
  r2s_proto_rx_additional_mam mam{1, 0x7FFFFF, 0, 0x123456, 0xFFFF, 0x0102, 0x8000};
  r2s_proto_add_rx_mam(&p, &mam);
  const Bytes rx_wire{0x54, 0x49, 0x11, 0xA3, 0x31, 0xA6, 0x34, 0x59, 0x80, 0xAB, 0x12, 0x4C,
                      0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x56, 0xFF, 0xFF, 0x01, 0x02, 0x80, 0x00};
  EXPECT_EQ(pack(p), rx_wire);
  round_trip(p, rx_wire, false);

  // Every transmit feature kind.
  r2s_proto_init(&p, kR2SProtoTx);
  r2s_proto_set_tx_header(&p, 1, 0, 0, 0);
  r2s_proto_tx_additional_climax_time_delay delay{5};
  r2s_proto_add_tx_time_delay(&p, &delay);
  EXPECT_EQ(pack(p), (Bytes{0x20, 0x01, 0x21, 0x05}));
  r2s_proto_tx_additional_rrc tx_rrc{1, 1, 0, 0, 0, 0, 0, 1};
  r2s_proto_add_tx_rrc(&p, &tx_rrc);
  r2s_proto_tx_additional_rrm rrm{1, 0x010203};
  r2s_proto_add_tx_rrm(&p, &rrm);
  const Bytes tx_wire{0x20, 0x01, 0x21, 0x05, 0x31, 0xC1, 0x43, 0x81, 0x02, 0x03};
  EXPECT_EQ(pack(p), tx_wire);
  round_trip(p, tx_wire, true);
}

TEST(R2SProto, TxUnpackEdgeCases) {
  r2s_proto p;
  r2s_proto_init(&p, 0);
  // An unknown feature is skipped by its length.
  const uint8_t skip[] = {0x20, 0x01, 0x52, 0x99, 0x98, 0x21, 0x07};
  ASSERT_EQ(r2s_proto_unpack_tx(&p, skip, sizeof skip), 0);
  ASSERT_EQ(p.count, 1u);
  EXPECT_EQ(p.additional[0].tx_time_delay.delay, 7u);

  const uint8_t cut[] = {0x20, 0x01, 0x43, 0x80};
  EXPECT_EQ(r2s_proto_unpack_tx(&p, cut, sizeof cut), kRadioCodecShort);
  EXPECT_EQ(p.count, 0u);
  const uint8_t cut_after_one[] = {0x20, 0x01, 0x21, 0x05, 0x43, 0x80};
  EXPECT_EQ(r2s_proto_unpack_tx(&p, cut_after_one, sizeof cut_after_one), kRadioCodecShort);
  EXPECT_EQ(p.count, 1u);

  // The rx-only bits of the header are ignored on a tx extension; without the X bit nothing follows.
  const uint8_t bits[] = {0x1F, 0xFE, 0x21, 0x05};
  ASSERT_EQ(r2s_proto_unpack_tx(&p, bits, sizeof bits), 0);
  EXPECT_EQ(p.header.tx.ptt_id, 63u);
  EXPECT_EQ(p.header.tx.ptt_mute, 1u);
  EXPECT_EQ(p.count, 0u);
  EXPECT_EQ(r2s_proto_unpack_tx(&p, bits, 1), kRadioCodecShort);
}

TEST(R2SProto, SixteenFeaturesAtMost) {
  r2s_proto p = rx(0, 0, 0);
  for (int i = 0; i < 17; ++i) r2s_proto_add_rx_sqi(&p, static_cast<uint32_t>(i), 0);
  EXPECT_EQ(p.count, 16u);
  EXPECT_EQ(p.additional[15].rx_sqi.qidx, 15u);
  r2s_proto_reset_additionals(&p);
  EXPECT_EQ(p.count, 0u);
  // Unpacking stops storing after sixteen features and ignores the rest.
  Bytes wire{0x00, 0x01};
  for (int i = 0; i < 20; ++i) wire.insert(wire.end(), {0x11, static_cast<uint8_t>(i << 3)});
  ASSERT_EQ(r2s_proto_unpack_rx(&p, wire.data(), wire.size()), 0);
  EXPECT_EQ(p.count, 16u);
  EXPECT_EQ(p.additional[15].rx_sqi.qidx, 15u);
}

TEST(R2SProto, PackBoundsAndRefusals) {
  r2s_proto p = rx(1, 0, 0);
  uint8_t buf[8];
  std::memset(buf, 0xEE, sizeof buf);
  EXPECT_EQ(r2s_proto_pack(&p, buf, 1), kRadioCodecShort);
  EXPECT_EQ(r2s_proto_pack(&p, buf, 3), kRadioCodecShort);
  r2s_proto_add_rx_sqi(&p, 1, 1);
  r2s_proto_add_rx_sqi(&p, 2, 2);
  EXPECT_EQ(r2s_proto_pack(&p, buf, 5), kRadioCodecShort);
  EXPECT_EQ(buf[5], 0xEE);
  EXPECT_EQ(r2s_proto_pack(&p, buf, 6), 6);

  p.additional[1].type = kR2SFeatureRrc;
  p.additional[1].rx_rrc.form = 2;
  EXPECT_EQ(r2s_proto_pack(&p, buf, sizeof buf), kRadioCodecUnknownType);
  // A feature of the other direction is skipped.
  p.additional[1].type = kR2SFeatureClimaxDelay;
  EXPECT_EQ(r2s_proto_pack(&p, buf, sizeof buf), 4);
  p.type = 3;
  EXPECT_EQ(r2s_proto_pack(&p, buf, sizeof buf), kRadioCodecUnknownType);
}

TEST(R2SProto, SourceCompare) {
  r2s_proto a = rx(0, 0, 0), b = rx(1, 1, 1);
  a.src_addr = b.src_addr = 0x0100000A;
  a.src_ssrc = b.src_ssrc = 10;
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 0);
  b.type = kR2SProtoTx;
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), -1);
  b.type = kR2SProtoRx;
  b.src_addr = 0x0200000A;
  EXPECT_EQ(cmp_r2s_proto_source(&a, &b), 0x01000000);
  // All 32 bits of an SSRC or address count: b - a keeps its sign in a 32-bit long too.
  b.src_addr = 0xC800000A;
  EXPECT_GT(cmp_r2s_proto_source(&a, &b), 0);
  a.src_ssrc = 0xFFFFFFFF;
  EXPECT_LT(cmp_r2s_proto_source(&a, &b), 0);
}

}  // namespace
