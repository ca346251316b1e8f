#pragma once
// A capture file of packets (UDP datagrams, or frames of a given link type), made with
// text2pcap, for an oracle such as tshark to read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace vxtest {

// Writes the packets into the capture file `pcap` with text2pcap and its `options` (such as
// "-l 140" for the link type); a text dump beside it is the tool's input. False when text2pcap
// fails.
inline bool write_capture(const std::string& pcap, const std::vector<std::vector<uint8_t>>& packets,
                          const std::string& options) {
  const std::string txt = pcap + ".txt";
  {
    std::ofstream f(txt);
    char hex[8];
    for (const auto& d : packets) {
      f << "000000";
      for (uint8_t b : d) {
        std::snprintf(hex, sizeof hex, " %02x", b);
        f << hex;
      }
      f << "\n";
    }
  }
  return std::system(("text2pcap -q " + options + " " + txt + " " + pcap + " >/dev/null 2>&1").c_str()) == 0;
}

// Writes the datagrams, each from and to `port`, into the capture file `pcap`.
inline bool write_udp_capture(const std::string& pcap, const std::vector<std::vector<uint8_t>>& datagrams,
                              uint16_t port) {
  return write_capture(pcap, datagrams, "-u " + std::to_string(port) + "," + std::to_string(port));
}

}  // namespace vxtest
