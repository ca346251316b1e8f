#pragma once
// tshark as an independent reader of RTCP packets: the packets are captured as UDP datagrams on
// port 4001 and dissected as RTCP.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpCapture.h"

namespace vxtest {

inline bool have_rtcp_oracle() { return have("tshark") && have("text2pcap"); }

// The given tshark fields ("-e rtcp.pt -e ...") of each packet, one line per packet.
inline std::string dissect_rtcp(const std::vector<std::vector<uint8_t>>& packets, const std::string& fields) {
  TempDir tmp("vxrtcp");
  const std::string pcap = tmp.path() + "/rtcp.pcap";
  if (!write_udp_capture(pcap, packets, 4001)) return "";
  return run("tshark -r " + pcap + " -d udp.port==4001,rtcp -T fields -E occurrence=a -E aggregator=, " + fields +
             " 2>/dev/null");
}

}  // namespace vxtest
