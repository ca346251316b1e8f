#pragma once
// The SS7 link under the links' recording owner and channel: signal units written by hand and
// one link with its owner and wire end.
#include <gmock/gmock.h>

#include "links/SS7SLC.h"
#include "tests/links/LinkTest.h"

namespace ss7test {

using namespace linktest;
using SS7::SLC;

// A unit as it goes on the wire: BSN/BIB, FSN/FIB, LI, payload.
inline Bytes unit(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& payload = {}) {
  Bytes u{uint8_t((bib ? 0x80 : 0) | bsn), uint8_t((fib ? 0x80 : 0) | fsn), uint8_t(std::min<size_t>(payload.size(), 63))};
  u.insert(u.end(), payload.begin(), payload.end());
  return u;
}
inline Bytes lssu(uint8_t status) { return {0xFF, 0xFF, 0x01, status}; }

// A level 3 message with the stack's head room, handed down as the slot does.
inline void send_down(Owner& up, SLC* link, const Bytes& msu) {
  Packet p;
  up.prepare_head(p);
  for (uint8_t x : msu) p.put8(x);
  link->message(p);
}

// One link with its owner and wire end.
struct End {
  Owner up;
  SLC* link = new SLC;  // owned by up
  Channel wire;
  End() {
    up.add_protocol_tail(link);
    link->hdlc = &wire;
  }
  void send(const Bytes& msu) { send_down(up, link, msu); }
  void deliver(const Bytes& u) { Packet p = packet_of(u, 0); link->receive(p); }
  // Activated, SIN from the far end takes it to proving, a FISU to worked; what it sent on
  // the way is forgotten.
  void in_service() {
    link->local_activate();
    deliver(lssu(SLC::SIN));
    deliver(unit(127, true, 127, true));
    ASSERT_EQ(link->state(), SLC::State::worked);
    wire.frames.clear();
  }
  // The MSUs sent since `from`.
  Frames msus(size_t from = 0) const {
    Frames r;
    for (size_t i = from; i < wire.frames.size(); ++i)
      if (wire.frames[i].size() > 5) r.push_back(wire.frames[i]);
    return r;
  }
};

using LinkTest = vxtest::LoopTest;

// One link on the fake clock, with the trace header of its default address.
struct SlcTest : LinkTest {
  void in_service() {
    e.in_service();
    clear_output();
  }
  // FISU from the far end.
  void fisu(unsigned bsn, bool bib = true, unsigned fsn = 127, bool fib = true) { e.deliver(unit(bsn, bib, fsn, fib)); }
  End e;
  const std::string H = "SS7/L2 [dpc=0, slc=0, trunk=0] ";
};

// A whole line of a trace text (the trace lines end in a newline).
#define EXPECT_LINE(text, line) EXPECT_THAT(text, ::testing::HasSubstr(std::string(line) + "\n"))

}  // namespace ss7test
