#pragma once
// tshark as an independent reader of RTCP packets: the packets are written as UDP datagrams to
// port 4001 with text2pcap and dissected as RTCP.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace vxtest {

inline bool have_rtcp_oracle() {
  return std::system("command -v tshark >/dev/null 2>&1 && command -v text2pcap >/dev/null 2>&1") == 0;
}

// The given tshark fields ("-e rtcp.pt -e ...") of each packet, one line per packet.
inline std::string dissect_rtcp(const std::vector<std::vector<uint8_t>>& packets, const std::string& fields) {
  TempDir tmp("vxrtcp");
  const std::string txt = tmp.path() + "/rtcp.txt", pcap = tmp.path() + "/rtcp.pcap";
  {
    std::ofstream f(txt);
    char word[8];
    for (const auto& p : packets) {
      f << "000000";
      for (uint8_t b : p) {
        std::snprintf(word, sizeof word, " %02x", b);
        f << word;
      }
      f << "\n";
    }
  }
  if (std::system(("text2pcap -q -u 4001,4001 " + txt + " " + pcap + " >/dev/null 2>&1").c_str()) != 0) return "";
  std::string out;
  FILE* p = ::popen(("tshark -r " + pcap + " -d udp.port==4001,rtcp -T fields -E occurrence=a -E aggregator=, " + fields +
                     " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

}  // namespace vxtest
