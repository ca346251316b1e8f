// tshark's LAPD dissector as an independent reader of the frames our links send: address
// (SAPI, C/R, TEI), sequence numbers and P/F, and no expert complaint about any frame.
#include "LinkTest.h"
#include "links/LAPD.h"
#include "links/LAPD_NT.h"

namespace {

using namespace linktest;
using ISDN::LAPD;
using ISDN::Side;

using Tshark = LoopTest;

TEST_F(Tshark, DissectsWhatOurLinksSend) {
  if (!vxtest::have("tshark") || !vxtest::have("text2pcap")) GTEST_SKIP() << "no tshark";
  Frames frames;
  std::vector<std::string> expected;  // sapi,cr,tei,n_s,n_r,p/f as tshark gives them
  auto expect = [&](const Bytes& f, const char* fields) {
    frames.push_back(f);
    expected.push_back(fields);
  };
  auto rx = [](Protocol* l, const Bytes& f) { Packet p = packet_of(f); l->receive(p); };
  auto down = [](Protocol* l, const Bytes& m) { Packet p = packet_of(m); l->message(p); };
  struct Link {
    Channel ch;
    Owner owner;
    LAPD* l;
    explicit Link(Side::type side) : l(new LAPD(side, 0)) {
      l->device = &ch;
      owner.add_protocol_tail(l);
    }
  };
  const Bytes enquiry{0x08, 0x02, 0x00, 0x01, 0x75};
  Link user(Side::user), network(Side::network), bri(Side::user);
  user.l->activate();
  expect(user.ch.last(), "0,0,0,,,1");  // SABME command, P
  rx(user.l, {0x00, 0x01, 0x73});
  down(user.l, enquiry);
  expect(user.ch.last(), "0,0,0,0,0,0");  // I frame
  rx(user.l, {0x02, 0x01, 0x00, 0x03, 0x08, 0x02, 0x80, 0x01, 0x7D});
  expect(user.ch.last(), "0,1,0,,1,1");  // RR response, F
  rx(user.l, {0x02, 0x01, 0x04, 0x02, 0x08, 0x02, 0x80, 0x01, 0x7D});
  expect(user.ch.last(), "0,1,0,,1,0");  // REJ response
  advance(LAPD::kT203);
  expect(user.ch.last(), "0,0,0,,1,1");  // RR command, P: the idle link's enquiry
  user.l->deactivate();
  expect(user.ch.last(), "0,0,0,,,1");  // DISC command, P
  rx(network.l, {0x00, 0x01, 0x7F});
  expect(network.ch.last(), "0,0,0,,,1");  // UA response, F
  down(network.l, enquiry);
  expect(network.ch.last(), "0,1,0,0,0,0");  // I frame command
  bri.l->change_to_bri();
  bri.l->mdl_remove();
  bri.l->activate();
  expect(bri.ch.last(), "63,0,127,,,0");  // identity request
  Owner owner;
  auto* nt = new ISDN::LAPD_NT;
  owner.add_protocol_tail(nt);
  rx(nt, {0xFC, 0xFF, 0x03, 0x0F, 0x34, 0x12, 0x01, 0xFF});
  ASSERT_EQ(owner.sent.size(), 2u);
  expect(owner.sent[0], "63,1,127,,,0");  // identity assigned
  expect(owner.sent[1], "0,1,64,,,1");    // SABME to TEI 64
  rx(nt, {0x00, 0x81, 0x00, 0x00, 0x08, 0x01, 0x01, 0x75});
  expect(owner.sent.back(), "0,0,64,,1,0");  // RR response
  down(nt, {0x08, 0x01, 0x81, 0x7D, 0x14, 0x01, 0x00});
  expect(owner.sent.back(), "0,1,64,0,1,1");  // I frame, P
  down(nt, {0x08, 0x01, 0x02, 0x05, 0x04, 0x03, 0x80, 0x90, 0xA3});
  expect(owner.sent.back(), "0,1,127,,,0");  // broadcast UI
  std::vector<std::string> got;
  for (const std::string& line : tshark_lines(frames, "-l 203", "-e lapd.sapi -e lapd.cr -e lapd.tei -e lapd.control.n_s"
                                              " -e lapd.control.n_r -e lapd.control.p -e lapd.control.f -e _ws.expert")) {
    std::vector<std::string> f(8);
    std::istringstream fields(line);
    for (size_t i = 0; i < f.size() && std::getline(fields, f[i], ',');) ++i;
    // tshark shows the poll/final bit as P or as F by its own guess of command or response;
    // an expert complaint shows as a seventh field.
    std::string pf = f[5] == "1" || f[6] == "1" ? "1" : "0";
    got.push_back(f[0] + "," + f[1] + "," + f[2] + "," + f[3] + "," + f[4] + "," + pf + (f[7].empty() ? "" : "," + f[7]));
  }
  EXPECT_EQ(got, expected);
}

}  // namespace
