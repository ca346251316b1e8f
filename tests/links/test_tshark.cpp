// tshark's LAPD dissector as an independent reader of the frames our links send: address
// (SAPI, C/R, TEI), sequence numbers and P/F, and no expert complaint about any frame.
#include <gtest/gtest.h>

#include <sstream>

#include "LinkTest.h"
#include "links/LAPD.h"
#include "links/LAPD_NT.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpCapture.h"

namespace {

using namespace linktest;
using ISDN::LAPD;
using ISDN::Side;

struct Expect {
  int sapi, cr, tei, ns, nr, pf;  // -1: the field is not in this frame
};

using vxtest::run;

class TsharkTest : public LoopTest {
 protected:
  void frame(const Bytes& f, Expect e) {
    frames_.push_back(f);
    expected_.push_back(e);
  }
  std::vector<Bytes> frames_;
  std::vector<Expect> expected_;
};

TEST_F(TsharkTest, DissectsWhatOurLinksSend) {
  if (run("command -v tshark && command -v text2pcap").find("text2pcap") == std::string::npos)
    GTEST_SKIP() << "no tshark";
  const Bytes enquiry_pri{0x08, 0x02, 0x00, 0x01, 0x75};

  // A link of one side in its own stack, writing to its own channel.
  struct End {
    Channel ch;
    Owner owner;
    LAPD* l;
    explicit End(Side::type side) : l(new LAPD(side, 0)) {
      l->device = &ch;
      owner.add_protocol_tail(l);
    }
  };
  // User side, primary rate.
  {
    End end(Side::user);
    auto& [ch, owner, l] = end;
    l->activate();
    frame(ch.last(), {0, 0, 0, -1, -1, 1});  // SABME command, P
    Packet ua = packet_of({0x00, 0x01, 0x73});
    l->receive(ua);
    Packet m = packet_of(enquiry_pri);
    l->message(m);
    frame(ch.last(), {0, 0, 0, 0, 0, 0});  // I frame
    Packet i0 = packet_of({0x02, 0x01, 0x00, 0x03, 0x08, 0x02, 0x80, 0x01, 0x7D});
    l->receive(i0);
    frame(ch.last(), {0, 1, 0, -1, 1, 1});  // RR response, F
    Packet i2 = packet_of({0x02, 0x01, 0x04, 0x02, 0x08, 0x02, 0x80, 0x01, 0x7D});
    l->receive(i2);
    frame(ch.last(), {0, 1, 0, -1, 1, 0});  // REJ response
    advance(LAPD::kT203);
    frame(ch.last(), {0, 0, 0, -1, 1, 1});  // RR command, P (the idle link's enquiry)
    l->deactivate();
    frame(ch.last(), {0, 0, 0, -1, -1, 1});  // DISC command, P
  }
  // Network side, primary rate.
  {
    End end(Side::network);
    auto& [ch, owner, l] = end;
    Packet sabme = packet_of({0x00, 0x01, 0x7F});
    l->receive(sabme);
    frame(ch.last(), {0, 0, 0, -1, -1, 1});  // UA response, F
    Packet m = packet_of(enquiry_pri);
    l->message(m);
    frame(ch.last(), {0, 1, 0, 0, 0, 0});  // I frame command
  }
  // User side, basic rate: the identity request.
  {
    End end(Side::user);
    auto& [ch, owner, l] = end;
    l->change_to_bri();
    l->mdl_remove();
    l->activate();
    frame(ch.last(), {63, 0, 127, -1, -1, 0});
  }
  // Network side of a basic-rate port.
  {
    Owner owner;
    auto* nt = new ISDN::LAPD_NT;
    owner.add_protocol_tail(nt);
    Packet req = packet_of({0xFC, 0xFF, 0x03, 0x0F, 0x34, 0x12, 0x01, 0xFF});
    nt->receive(req);
    ASSERT_EQ(owner.sent.size(), 2u);
    frame(owner.sent[0], {63, 1, 127, -1, -1, 0});  // identity assigned
    frame(owner.sent[1], {0, 1, 64, -1, -1, 1});    // SABME to TEI 64
    Packet i = packet_of({0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x01, 0x75});
    nt->receive(i);
    frame(owner.sent.back(), {0, 0, 64, -1, 1, 0});  // RR response
    Packet reply = packet_of({0x08, 0x01, 0x81, 0x7D, 0x14, 0x01, 0x00});
    nt->message(reply);
    frame(owner.sent.back(), {0, 1, 64, 0, 1, 1});  // I frame, P
    Packet setup = packet_of({0x08, 0x01, 0x02, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3});
    nt->message(setup);
    frame(owner.sent.back(), {0, 1, 127, -1, -1, 0});  // broadcast UI
  }

  vxtest::TempDir dir("vx_tshark");
  std::string pcap = dir.path() + "/frames.pcap";
  vxtest::write_capture(pcap, frames_, "-l 203");
  std::string out = run("tshark -r " + pcap +
                        " -T fields -E separator=, -e lapd.sapi -e lapd.cr -e lapd.tei -e lapd.control.n_s"
                        " -e lapd.control.n_r -e lapd.control.p -e lapd.control.f -e _ws.expert 2>/dev/null");
  std::istringstream lines(out);
  std::string line;
  size_t i = 0;
  for (; std::getline(lines, line) && i < expected_.size(); ++i) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string v; std::getline(fields, v, ',');) f.push_back(v);
    f.resize(8);
    const Expect& e = expected_[i];
    auto s = [](int v) { return v < 0 ? std::string() : std::to_string(v); };
    std::string got = f[0] + "," + f[1] + "," + f[2] + "," + f[3] + "," + f[4];
    EXPECT_EQ(got, s(e.sapi) + "," + s(e.cr) + "," + s(e.tei) + "," + s(e.ns) + "," + s(e.nr)) << "frame " << i;
    // tshark shows the poll/final bit as P or as F by its own guess of command or response.
    EXPECT_EQ(f[5] == "1" || f[6] == "1", e.pf == 1) << "frame " << i << ": " << line;
    EXPECT_EQ(f[7], "") << "frame " << i;
  }
  EXPECT_EQ(i, expected_.size()) << out;
}

}  // namespace
