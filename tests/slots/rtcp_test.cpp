// The RTCP packets of the RTP slot, byte for byte, at the edges of the room they are given, and
// dissected by tshark as an independent reader of the RFC 3550 layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "slots/Rtcp.h"
#include "tests/slots/RtcpOracle.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(const RTPC::Msg& msg, unsigned size = 1024) {
  std::vector<char> buf(size + 16, '\x55');
  unsigned n = msg.encode(buf.data(), size);
  for (size_t i = size; i < buf.size(); ++i) EXPECT_EQ(buf[i], '\x55') << "written past the room at " << i;
  return Bytes(buf.begin(), buf.begin() + n);
}

RTPC::SDES sdes(uint32_t ssrc, std::vector<std::string> texts) {
  RTPC::SDES m(ssrc);
  const RTPC::SDES::Item::Type types[] = {RTPC::SDES::Item::CNAME, RTPC::SDES::Item::EMAIL, RTPC::SDES::Item::PHONE};
  for (size_t i = 0; i < texts.size(); ++i) m.items.push_back({types[i % 3], texts[i]});
  return m;
}

TEST(Rtcp, SourceDescriptionLayout) {
  // Item lists and their padding are read by tshark below; these are the edges it is not given.
  EXPECT_EQ(encode(sdes(7, {})), (Bytes{0x81, 0xCA, 0, 1, 0, 0, 0, 7}));
  // A text is cut at 255 bytes.
  Bytes long_item = encode(sdes(7, {std::string(300, 'n')}));
  ASSERT_EQ(long_item.size(), 8u + 2 + 255 + 3);
  EXPECT_EQ(long_item[9], 255);
}

TEST(Rtcp, SourceDescriptionKeepsToItsRoom) {
  auto m = sdes(9, {"abcdef", "gh", "ijklmnop"});
  EXPECT_EQ(encode(m, 7), Bytes{}) << "below 8 bytes nothing is written";
  EXPECT_EQ(encode(m, 12).size(), 8u) << "fewer than 8 bytes after the SSRC: no items";
  // 16 bytes of body room hold the first item (12 with its end byte) but not the second.
  Bytes cut = encode(m, 20);
  EXPECT_EQ(cut, (Bytes{0x81, 0xCA, 0, 4, 0, 0, 0, 9, 1, 6, 'a', 'b', 'c', 'd', 'e', 'f', 0, 0, 0, 0}));
  for (unsigned size = 0; size < 48; ++size) {
    Bytes b = encode(m, size);
    EXPECT_EQ(b.size() % 4, 0u);
    if (!b.empty()) {
      EXPECT_EQ((b[2] << 8 | b[3]) + 1, static_cast<int>(b.size() / 4)) << size;
    }
  }
}

TEST(Rtcp, GoodbyeLayout) {
  RTPC::BYE bye(0xA1B2C3D4, "session end");
  EXPECT_EQ(encode(RTPC::BYE(1, "")), (Bytes{0x81, 0xCB, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(encode(RTPC::BYE(1, "x")), (Bytes{0x81, 0xCB, 0, 2, 0, 0, 0, 1, 1, 'x', 0, 0}));
  // The reason is cut to what the room holds, and the padding never runs past it.
  for (unsigned size = 0; size < 24; ++size) {
    Bytes cut = encode(bye, size);
    EXPECT_LE(cut.size(), size);
    if (cut.size() > 8) {
      EXPECT_LE(9u + cut[8], cut.size()) << size;
      EXPECT_GT(9u + cut[8] + 4, cut.size()) << "no more than the padding after the reason";
    }
  }
  EXPECT_EQ(encode(bye, 14), (Bytes{0x81, 0xCB, 0, 2, 0xA1, 0xB2, 0xC3, 0xD4, 3, 's', 'e', 's'}));
}

TEST(Rtcp, TsharkReadsSourceDescriptionAndGoodbye) {
  if (!vxtest::have_rtcp_oracle()) GTEST_SKIP() << "tshark or text2pcap not installed";
  std::vector<Bytes> packets = {encode(sdes(0x01020304, {"Quorvex Tessaline", "ab@c.d", "+1"})),
                                encode(RTPC::BYE(0x01020304, "session end")), encode(sdes(5, {"abcdef"})),
                                encode(RTPC::BYE(5, "x"))};
  std::string out = vxtest::dissect_rtcp(
      packets, "-e rtcp.version -e rtcp.pt -e rtcp.sc -e rtcp.length -e rtcp.ssrc.identifier -e rtcp.sdes.type "
               "-e rtcp.sdes.text -e rtcp.length_check -e _ws.expert");
  EXPECT_EQ(out,
            "2\t202\t1\t9\t0x01020304\t1,3,4,0\tQuorvex Tessaline,ab@c.d,+1\t1\t\n"
            "2\t203\t1\t4\t0x01020304\t\tsession end\t1\t\n"
            "2\t202\t1\t4\t0x00000005\t1,0\tabcdef\t1\t\n"
            "2\t203\t1\t2\t0x00000005\t\tx\t1\t\n")
      << "version, type, count, length, SSRC, SDES items, texts, length check, no expert info";
}

}  // namespace
