// Independent check of the signal units on the wire: what one link sends through alignment,
// acknowledgement, negative acknowledgement and retransmission goes into a capture file of
// link type MTP2 and is dissected by tshark.
#include "tests/links/LinkTest.h"

namespace {

using namespace ss7test;

// A signalling link test message from point code 2 to 1 with a test pattern of n octets.
Bytes sltm(unsigned n) {
  Bytes b{0x81, 0x01, 0x80, 0x00, 0x00, 0x11, static_cast<uint8_t>(n << 4)};
  b.insert(b.end(), n, 0x5A);
  return b;
}

TEST_F(LinkTest, UnitsDissectAsFisuLssuAndMsuWithTheirSequenceFields) {
  if (!vxtest::have("tshark") || !vxtest::have("text2pcap")) GTEST_SKIP() << "tshark or text2pcap not installed";
  End e;
  e.link->local_activate();                      // SIO
  e.deliver(lssu(SLC::SIN));                     // SIN
  e.deliver(unit(127, true, 127, true));         // two FISUs
  e.send(sltm(2));
  e.send(sltm(15));
  Bytes user(75, 0x33);                          // a spare service indicator: 63 and more
  user[0] = 0x8A;
  e.send(user);
  e.deliver(unit(127, true, 0, true, sltm(1)));  // acknowledged by a FISU
  e.deliver(unit(127, true, 2, true, sltm(1)));  // FSN 1 missing: negative acknowledgement
  e.deliver(unit(127, false, 0, false));         // the far end asks again: 3 MSUs resent
  e.link->local_deactivate();                    // SIOS
  std::vector<std::string> rows = tshark_lines(e.wire.frames, "-l 140", "-e _ws.col.Info -e mtp2.bsn -e mtp2.bib"
                                                                    " -e mtp2.fsn -e mtp2.fib -e mtp2.li -e _ws.expert");
  for (std::string& l : rows) std::erase(l, ' ');  // names may end in a blank
  const std::vector<std::string> expected = {
      "SIO,127,1,127,1,1,",  "SIN,127,1,127,1,1,",  "FISU,127,1,127,1,0,", "FISU,127,1,127,1,0,",
      "SLTM,127,1,0,1,9,",   "SLTM,127,1,1,1,22,",  "DATA,127,1,2,1,63,",  "FISU,0,1,2,1,0,",
      "FISU,0,0,2,1,0,",     "SLTM,0,0,0,0,9,",     "SLTM,0,0,1,0,22,",    "DATA,0,0,2,0,63,",
      "SIOS,127,1,127,1,1,",
  };
  EXPECT_EQ(rows, expected);
}

}  // namespace
