// Independent check of the frames on the wire: what a control connection writes is put in a
// capture file and dissected by tshark as TPKT (version, reserved octet and length).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "control/ServiceUnix.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace {

using vxtest::have;
using vxtest::run;

TEST(TpktOracle, TsharkDissectsTheWrittenFrames) {
  if (!have("tshark") || !have("text2pcap")) GTEST_SKIP() << "tshark or text2pcap not installed";

  vxtest::SocketPair sp;
  int big = 1 << 20;
  setsockopt(sp.fd[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  vxtest::TakenService svc;
  ASSERT_TRUE(svc.Activate());
  svc.Take(::dup(sp.fd[0]), "oracle");

  const std::vector<int> sizes = {0, 1, 10, 300, 1456, 4000, 65531};
  // What each Send wrote; one write, one TCP segment (split where IP could not carry it).
  std::vector<std::vector<uint8_t>> segments;
  for (int n : sizes) {
    svc.Send(std::string(n, 'p').data(), n);
    const auto bytes = vxtest::drain(sp.fd[1]);
    for (std::size_t at = 0; at < bytes.size(); at += 60000)
      segments.emplace_back(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + 60000));
  }

  vxtest::TempDir tmp("vxtpkt");
  ASSERT_FALSE(tmp.path().empty());
  const std::string dir = tmp.path();
  const std::string txt = std::string(dir) + "/frames.txt";
  const std::string pcap = std::string(dir) + "/frames.pcap";
  {
    // text2pcap's hex dump: one packet per segment, 16 bytes per offset line.
    std::ofstream f(txt);
    char line[32];
    for (const auto& seg : segments) {
      for (std::size_t i = 0; i < seg.size(); ++i) {
        if (i % 16 == 0) {
          std::snprintf(line, sizeof line, "%s%06zx", i == 0 ? "" : "\n", i);
          f << line;
        }
        std::snprintf(line, sizeof line, " %02x", seg[i]);
        f << line;
      }
      f << "\n";
    }
  }
  const std::string convert = "text2pcap -q -T 40000,20001 " + txt + " " + pcap + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(convert.c_str()), 0);
  const std::string fields = run("tshark -r " + pcap +
                                 " -d tcp.port==20001,tpkt"
                                 " -Y tpkt -T fields -E occurrence=a -E aggregator=, -e tpkt.version"
                                 " -e tpkt.reserved -e tpkt.length 2>/dev/null");

  // Each output line: versions, reserved octets and lengths of the frames that packet completes.
  std::string versions, reserved, lengths, want_lengths;
  std::istringstream rows(fields);
  for (std::string v, r, l; std::getline(rows, v, '\t') && std::getline(rows, r, '\t') &&
                            std::getline(rows, l);) {
    versions += v + ",";
    reserved += r + ",";
    lengths += l + ",";
  }
  for (int n : sizes) want_lengths += std::to_string(n + 4) + ",";
  EXPECT_EQ(lengths, want_lengths) << fields;
  EXPECT_EQ(versions, "3,3,3,3,3,3,3,");
  EXPECT_EQ(reserved, "0,0,0,0,0,0,0,");
}

}  // namespace
