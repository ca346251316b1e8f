// The LEMZ packet codec against hand-computed wire images, and round trips of every type.
#include <cstring>
#include <functional>

#include "tests/radio/PackedRecord.h"
#include "tests/radio/RadioControllerFixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using radiotest::addr;
using radiotest::pack;

sig_proto record(uint32_t type) {
  sig_proto p;
  sig_proto_init(&p);
  p.type = type;
  return p;
}

TEST(SigProto, PacksToHandComputedBytes) {
  sig_proto p = record(WM_FLAG);
  sig_proto_set_base(&p, 0xA, 1, 1, 0, 1, 1, 0, 1, 1, 1, 3, 0x1FF);
  // byte 1: priority 1010, t 1, p 1, r 0, s 1; byte 2: b 1, rv 0, sh 1, pw 1, status 8-5 1111;
  // byte 3: status 4-0 11111, c 11, rs 1.
  EXPECT_EQ(pack(p), (Bytes{0x81, 0xAD, 0xBF, 0xFF}));
  sig_proto q = record(GW_FLAG);
  q.flag_c = 7;  // masked to its two bits
  q.priority = 0x1F;
  EXPECT_EQ(pack(q), (Bytes{0x01, 0xF0, 0x00, 0x06}));

  // Each body; caller identities are padded to whole words.
  const std::pair<std::function<void(sig_proto*)>, Bytes> bodies[] = {
      {[](sig_proto* r) { sig_proto_set_gw_adjust_chan(r, 0x01020304, 1.0f); },
       {GW_ADJUST_CHAN, 0, 0, 0, 1, 2, 3, 4, 0x3F, 0x80, 0, 0}},
      {[](sig_proto* r) { sig_proto_set_wm_chan(r, 7, -2.5f, 9, 4); },
       {WM_CHAN, 0, 0, 0, 0, 0, 0, 7, 0xC0, 0x20, 0, 0, 9, 4, 0, 0}},
      {[](sig_proto* r) { sig_proto_set_wm_transmite(r, addr("10.1.2.3"), 0xDEADBEEF); },
       {WM_TRANS, 0, 0, 0, 3, 2, 1, 10, 0xDE, 0xAD, 0xBE, 0xEF}},
      {[](sig_proto* r) { sig_proto_set_wm_radio_quality(r, 0.5f); }, {WM_RADIO_QUALITY, 0, 0, 0, 0x3F, 0, 0, 0}},
      {[](sig_proto* r) { sig_proto_set_wm_standby(r, 1, 2, 3); }, {WM_STANDBY, 0, 0, 0, 1, 2, 3, 0}},
      {[](sig_proto* r) { sig_proto_set_gw_select_rc_chan(r, 5, 6); }, {GW_SELECT_RC_CHAN, 0, 0, 0, 5, 6, 0, 0}},
      {[](sig_proto* r) { sig_proto_set_gw_adjust_squelsh(r, 0x42); }, {GW_ADJUST_SQUELSHE, 0, 0, 0, 0x42, 0, 0, 0}},
      {[](sig_proto* r) { sig_proto_set_gw_selcall(r, "ABC", 3); }, {GW_SEL_CALL, 0, 0, 0, 3, 'A', 'B', 'C'}},
      {[](sig_proto* r) { sig_proto_set_gw_selcall(r, "ABCD", 4); },
       {GW_SEL_CALL, 0, 0, 0, 4, 'A', 'B', 'C', 'D', 0, 0, 0}},
      {[](sig_proto* r) { sig_proto_set_wm_selcall_transmite(r, addr("192.168.0.1"), 0x11223344, "12", 2); },
       {WM_SEL_CALL_TRANS, 0, 0, 0, 1, 0, 168, 192, 0x11, 0x22, 0x33, 0x44, 2, '1', '2', 0}},
  };
  for (auto const& [set, wire] : bodies) {
    p = record(wire[0]);
    set(&p);
    EXPECT_EQ(pack(p), wire) << int(wire[0]);
  }
}

TEST(SigProto, PackRefusesSmallBuffersAndWritesNothingPast) {
  sig_proto p = record(WM_CHAN);
  uint8_t buf[32];
  std::memset(buf, 0xEE, sizeof buf);
  EXPECT_EQ(sig_proto_pack(&p, buf, 3), kRadioCodecShort);
  EXPECT_EQ(sig_proto_pack(&p, buf, 15), kRadioCodecShort);
  EXPECT_EQ(buf[15], 0xEE);
  EXPECT_EQ(sig_proto_pack(&p, buf, 16), 16);
  // The caller-identity types reserve room for the identity plus a full header and padding.
  p = record(GW_SEL_CALL);
  sig_proto_set_gw_selcall(&p, "ABCD", 4);
  EXPECT_EQ(sig_proto_pack(&p, buf, 15), kRadioCodecShort);
  EXPECT_EQ(sig_proto_pack(&p, buf, 16), 12);
  // A type outside the table is its header alone.
  p = record(200);
  EXPECT_EQ(sig_proto_pack(&p, buf, sizeof buf), 4);
  EXPECT_EQ(buf[0], 200);
}

TEST(SigProto, RoundTripOfEveryType) {
  for (const auto* row = sig_proto_packet_const_name; row->id >= 0; ++row) {
    sig_proto p = record(static_cast<uint32_t>(row->id));
    sig_proto_set_base(&p, 5, 1, 0, 1, 0, 1, 0, 1, 0, 1, 2, 0x155);
    sig_proto_set_gw_adjust_chan(&p, 0, 0);  // clear the body of the types below
    switch (row->id) {
      case GW_ADJUST_CHAN: sig_proto_set_gw_adjust_chan(&p, 123456, 118.125f); break;
      case GW_SEL_CALL: sig_proto_set_gw_selcall(&p, "SELCALL-7", 9); break;
      case GW_SELECT_RC_CHAN: sig_proto_set_gw_select_rc_chan(&p, 3, 250); break;
      case GW_ADJUST_SQUELSHE: sig_proto_set_gw_adjust_squelsh(&p, 77); break;
      case GW_ADJUST_RTE: sig_proto_set_gw_adjust_rte(&p, 88); break;
      case GW_ADJUST_STANDBY: sig_proto_set_gw_adjust_standby(&p, 2); break;
      case WM_TRANS: sig_proto_set_wm_transmite(&p, addr("172.16.5.9"), 0xCAFEBABE); break;
      case WM_RADIO_QUALITY: sig_proto_set_wm_radio_quality(&p, 0.875f); break;
      case WM_CHAN: sig_proto_set_wm_chan(&p, 42, 121.5f, 12, 13); break;
      case WM_SEL_CALL_TRANS: sig_proto_set_wm_selcall_transmite(&p, addr("10.0.0.200"), 7, "XY", 2); break;
      case WM_SELECT_RC_CHAN: sig_proto_set_wm_select_rc_chan(&p, 1, 2); break;
      case WM_STANDBY: sig_proto_set_wm_standby(&p, 1, 4, 1); break;
    }
    Bytes wire = pack(p);
    EXPECT_EQ(wire.size() % 4, 0u) << row->name;
    sig_proto back = record(0);
    ASSERT_EQ(sig_proto_unpack(&back, wire.data(), wire.size()), 0) << row->name;
    EXPECT_EQ(cmp_sig_proto(&p, &back), 0) << row->name;
    EXPECT_EQ(std::memcmp(&p, &back, sizeof p), 0) << row->name;
  }
}

TEST(SigProto, UnpackFailuresLeaveTheRecord) {
  sig_proto p = record(0);
  p.flag_p = 1;
  const sig_proto before = p;
  const uint8_t short_chan[] = {2, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(sig_proto_unpack(&p, short_chan, sizeof short_chan), kRadioCodecShort);
  EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);
  const uint8_t tiny[] = {1, 0, 0};
  EXPECT_EQ(sig_proto_unpack(&p, tiny, sizeof tiny), kRadioCodecShort);
  // A caller identity longer than the packet.
  const uint8_t cut_id[] = {9, 0, 0, 0, 5, 'A', 'B', 'C'};
  EXPECT_EQ(sig_proto_unpack(&p, cut_id, sizeof cut_id), kRadioCodecShort);
  const uint8_t cut_trans[] = {133, 0, 0, 0, 1, 2, 3, 4, 0, 0, 0, 1, 4, 'A'};
  EXPECT_EQ(sig_proto_unpack(&p, cut_trans, sizeof cut_trans), kRadioCodecShort);
  EXPECT_EQ(std::memcmp(&p, &before, sizeof p), 0);

  const uint8_t unknown[] = {14, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4};
  EXPECT_EQ(sig_proto_unpack(&p, unknown, sizeof unknown), kRadioCodecUnknownType);
  EXPECT_EQ(p.type, 14u);
  EXPECT_EQ(p.flag_p, 1u);
  EXPECT_EQ(p.priority, 0u);
  // Trailing bytes are ignored; the source stays.
  p.src_addr = 0x01020304;
  p.src_ssrc = 99;
  const uint8_t wire[] = {135, 0x04, 0, 0, 1, 2, 3, 0xFF, 0xAA, 0xBB};
  ASSERT_EQ(sig_proto_unpack(&p, wire, sizeof wire), 0);
  EXPECT_EQ(p.body.wm_standby.receiver_state, 3);
  EXPECT_EQ(p.src_addr, 0x01020304u);
  EXPECT_EQ(p.src_ssrc, 99u);
}

TEST(SigProto, HeaderComparePttTypesAndSetBase) {
  sig_proto a = record(WM_CHAN), b = record(WM_CHAN);
  a.src_addr = b.src_addr = addr("10.0.0.1");
  a.src_ssrc = b.src_ssrc = 5;
  a.flag_p = 1;
  sig_proto_set_wm_chan(&b, 1, 2, 3, 4);
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), 0);
  b.type = WM_STANDBY;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), 3);
  b.type = WM_CHAN;
  b.src_ssrc = 3;
  EXPECT_EQ(cmp_sig_proto_header(&a, &b), -2);
  // SSRCs and addresses use all 32 bits: the sign of b - a holds where a long has 32 bits too.
  b.src_ssrc = 0x80000005;
  EXPECT_GT(cmp_sig_proto_header(&a, &b), 0);
  b.src_ssrc = a.src_ssrc;
  b.src_addr = addr("200.0.0.1");
  EXPECT_GT(cmp_sig_proto_header(&a, &b), 0);

  std::vector<uint32_t> ptt;
  for (uint32_t t = 0; t < 256; ++t) {
    sig_proto p = record(t);
    if (sig_proto_is_ptt_command(&p)) ptt.push_back(t);
  }
  EXPECT_EQ(ptt, (std::vector<uint32_t>{1, 3, 9, 129, 130, 133}));
  sig_proto_queue q;
  init_sig_proto_queue(&q);
  EXPECT_EQ((std::vector<uint32_t>{q.entry[0].type, q.entry[16].type, q.entry[17].type}),
            (std::vector<uint32_t>{1, 135, 0xFFFFFFFFu}));

  // Fields given negative keep their value.
  sig_proto p = record(GW_FLAG);
  sig_proto_set_base(&p, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 100);
  sig_proto_set_base(&p, -1, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  EXPECT_EQ((std::vector<uint32_t>{p.priority, p.flag_t, p.status}), (std::vector<uint32_t>{3, 0, 100}));
  sig_proto_set_ptt(&p, -1);
  EXPECT_EQ(p.flag_p, 1u);
}

// A caller identity longer than the record holds is cut to 255 bytes, terminated.
TEST(SigProto, CallerIdIsClampedAndTerminated) {
  std::string id(300, 'Z');
  sig_proto p = record(GW_SEL_CALL);
  sig_proto_set_gw_selcall(&p, id.c_str(), id.size());
  EXPECT_EQ(p.body.gw_sel_call.callerID_length, 255);
  EXPECT_EQ(p.body.gw_sel_call.callerID[254], 'Z');
  EXPECT_EQ(p.body.gw_sel_call.callerID[255], 0);
  Bytes wire = pack(p);
  EXPECT_EQ(wire.size(), 260u);
  sig_proto back = record(0);
  ASSERT_EQ(sig_proto_unpack(&back, wire.data(), wire.size()), 0);
  EXPECT_EQ(back.body.gw_sel_call.callerID_length, 255);

  sig_proto_set_gw_selcall(&p, nullptr, 9);
  EXPECT_EQ(p.body.gw_sel_call.callerID_length, 0);
  EXPECT_EQ(p.body.gw_sel_call.callerID[0], 0);
}

}  // namespace
