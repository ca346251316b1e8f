// Independent check of the ED-137 extensions we pack: each is put in the header extension of
// an RTP packet (profile 0x0167), written to a capture with text2pcap and dissected by tshark.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "radio/R2SProto.h"
#include "tests/radio/PackedRecord.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpCapture.h"

namespace {

using vxtest::have;
using vxtest::run;

// An RTP packet (PCMA, 20 bytes of payload) whose header extension is `ext`, padded to words.
std::vector<uint8_t> rtp_packet(const std::vector<uint8_t>& ext, uint16_t seq) {
  std::vector<uint8_t> words = ext;
  while (words.size() % 4) words.push_back(0);
  std::vector<uint8_t> p = {0x90, 0x08, static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq), 0, 0, 0, 0xA0,
                            0x12, 0x34, 0x56, 0x78, 0x01, 0x67, 0, static_cast<uint8_t>(words.size() / 4)};
  p.insert(p.end(), words.begin(), words.end());
  p.insert(p.end(), 20, 0xD5);
  return p;
}

TEST(R2SOracle, TsharkReadsWhatWePack) {
  if (!have("tshark") || !have("text2pcap")) GTEST_SKIP() << "tshark or text2pcap not installed";

  std::vector<r2s_proto> records(4);
  // 1: rx, PTT on, squelch open, id 5, signal quality 3 by method 2.
  r2s_proto_init(&records[0], kR2SProtoRx);
  r2s_proto_set_rx_header(&records[0], 1, 1, 5, 0, 0, 0);
  r2s_proto_add_rx_sqi(&records[0], 3, 2);
  // 2: rx with every header bit and a quality above 7, then a remote-control feature.
  r2s_proto_init(&records[1], kR2SProtoRx);
  r2s_proto_set_rx_header(&records[1], 4, 0, 63, 1, 1, 1);
  r2s_proto_add_rx_sqi(&records[1], 31, 1);
  r2s_proto_rx_additional_rrc rrc{1, 0, 0, 0, 0, 0, 0, 1, 0, {0, 0}, {0, 0}};
  r2s_proto_add_rx_rrc(&records[1], &rrc);
  // 3: tx, PTT on, id 2, CLIMAX time delay 5.
  r2s_proto_init(&records[2], kR2SProtoTx);
  r2s_proto_set_tx_header(&records[2], 1, 2, 0, 0);
  r2s_proto_tx_additional_climax_time_delay delay{5};
  r2s_proto_add_tx_time_delay(&records[2], &delay);
  // 4: rx without features: squelch only.
  r2s_proto_init(&records[3], kR2SProtoRx);
  r2s_proto_set_rx_header(&records[3], 0, 1, 9, 0, 0, 0);

  vxtest::TempDir tmp("vxr2s");
  ASSERT_FALSE(tmp.path().empty());
  const std::string pcap = tmp.path() + "/r2s.pcap";
  std::vector<std::vector<uint8_t>> packets;
  uint16_t seq = 1;
  for (const auto& r : records) packets.push_back(rtp_packet(radiotest::pack(r), seq++));
  ASSERT_TRUE(vxtest::write_udp_capture(pcap, packets, 5004));
  const char* fields[] = {"rtp.ext.ed137a.ptt_type", "rtp.ext.ed137a.squ",    "rtp.ext.ed137a.ptt_id",
                          "rtp.ext.ed137a.pm",       "rtp.ext.ed137a.ptts",   "rtp.ext.ed137a.sct",
                          "rtp.ext.ed137a.x",        "rtp.ext.ed137a.ft.type", "rtp.ext.ed137a.ft.sqi.qidx",
                          "rtp.ext.ed137a.ft.sqi.qidx-ml", "rtp.ext.ed137b.ft.rrc.mstxf1", "rtp.ext.ed137b.ft.rrc.murxf2",
                          "rtp.ext.ed137b.ft.rrc.msrxf1", "rtp.ext.ed137a.ft.climax_delay.relative_value"};
  std::string cmd = "tshark -r " + pcap + " -d udp.port==5004,rtp -T fields -E 'separator=;'";
  for (const char* field : fields) cmd += std::string(" -e ") + field;
  std::istringstream lines(run(cmd + " 2>/dev/null"));
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_EQ(got.size(), 4u);
  //            ptt squ id pm ptts sct x ft.type sqi ml mstxf1 murxf2 msrxf1 climax
  EXPECT_EQ(got[0], "1;1;5;0;0;0;1;0x01;3;2;;;;");
  EXPECT_EQ(got[1], "4;0;63;1;1;1;1;0x01,0x03;31;1;1;1;0;");
  EXPECT_EQ(got[2], "1;0;2;0;0;0;1;0x02;;;;;;5");
  EXPECT_EQ(got[3], "0;1;9;0;0;0;0;;;;;;;");
}

}  // namespace
