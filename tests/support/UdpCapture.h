#pragma once
// A capture file of UDP datagrams, made with text2pcap, for an oracle such as tshark to read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace vxtest {

// Writes the datagrams, each from and to `port`, into the capture file `pcap` (a text dump
// beside it is the tool's input); false when text2pcap fails.
inline bool write_udp_capture(const std::string& pcap, const std::vector<std::vector<uint8_t>>& datagrams,
                              uint16_t port) {
  const std::string txt = pcap + ".txt";
  {
    std::ofstream f(txt);
    char hex[8];
    for (const auto& d : datagrams) {
      f << "000000";
      for (uint8_t b : d) {
        std::snprintf(hex, sizeof hex, " %02x", b);
        f << hex;
      }
      f << "\n";
    }
  }
  const std::string ports = std::to_string(port) + "," + std::to_string(port);
  return std::system(("text2pcap -q -u " + ports + " " + txt + " " + pcap + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace vxtest
