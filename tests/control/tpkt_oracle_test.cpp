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
#include "tests/support/TempDir.h"

namespace {

class Service : public Control::ServiceUnix {
 public:
  bool ImplActivate() override { return true; }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}
  void Take(int fd) { Connected(Fd(fd), "oracle"); }
};

bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

TEST(TpktOracle, TsharkDissectsTheWrittenFrames) {
  if (!have("tshark") || !have("text2pcap")) GTEST_SKIP() << "tshark or text2pcap not installed";

  int sp[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sp), 0);
  int big = 1 << 20;
  setsockopt(sp[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  Service svc;
  ASSERT_TRUE(svc.Activate());
  svc.Take(sp[0]);

  const std::vector<int> sizes = {0, 1, 10, 300, 1456, 4000, 65531};
  // What each Send wrote; one write, one TCP segment (split where IP could not carry it).
  std::vector<std::vector<uint8_t>> segments;
  for (int n : sizes) {
    svc.Send(std::string(n, 'p').data(), n);
    const auto bytes = vxtest::drain(sp[1]);
    for (std::size_t at = 0; at < bytes.size(); at += 60000)
      segments.emplace_back(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + 60000));
  }
  ::close(sp[1]);

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
  std::vector<std::string> versions, reserved, lengths;
  std::istringstream lines(fields);
  std::string row;
  auto split = [](const std::string& s, std::vector<std::string>& out) {
    std::istringstream in(s);
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(item);
  };
  while (std::getline(lines, row)) {
    std::istringstream cols(row);
    std::string v, r, l;
    std::getline(cols, v, '\t');
    std::getline(cols, r, '\t');
    std::getline(cols, l, '\t');
    split(v, versions);
    split(r, reserved);
    split(l, lengths);
  }
  ASSERT_EQ(lengths.size(), sizes.size()) << fields;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    EXPECT_EQ(versions[i], "3");
    EXPECT_EQ(reserved[i], "0");
    EXPECT_EQ(lengths[i], std::to_string(sizes[i] + 4));
  }
}

}  // namespace
