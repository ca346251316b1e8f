#pragma once
// Test rig for the SS7 link: a link under a recording owner, a wire end that keeps what the
// link sends (or refuses it), the fake clock.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "control/ProtocolsFamily.h"
#include "foundation/Packet.h"
#include "links/SS7SLC.h"
#include "tests/support/LoopTest.h"

namespace ss7test {

using Bytes = std::vector<uint8_t>;
using SS7::SLC;

inline Packet packet_of(const Bytes& b, unsigned head = SLC::kHeaderOctets) {
  Packet p;
  p.reserve_head(head);
  for (uint8_t x : b) p.put8(x);
  return p;
}
inline Bytes bytes_of(const Packet& p) { return Bytes(p.data(), p.data() + p.length()); }

// A unit as it goes on the wire: BSN/BIB, FSN/FIB, LI, payload.
inline Bytes unit(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& payload = {}) {
  Bytes u{static_cast<uint8_t>((bib ? 0x80 : 0) | bsn), static_cast<uint8_t>((fib ? 0x80 : 0) | fsn),
          static_cast<uint8_t>(payload.size() < 63 ? payload.size() : 63)};
  u.insert(u.end(), payload.begin(), payload.end());
  return u;
}
inline Bytes lssu(uint8_t status) { return {0xFF, 0xFF, 0x01, status}; }

// The sending side of a channel: records every unit, refuses everything while `refuse` is set.
struct WireEnd : GenericHDLC {
  std::vector<Bytes> sent;
  bool refuse = false;
  bool hdlc_transmit(Packet& frame) override {
    if (refuse) return false;
    sent.push_back(bytes_of(frame));
    return true;
  }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !refuse; }
};

// The owner of one link: records what the link reports upwards.
struct Upper : ProtocolsFamily {
  int activated = 0;
  std::vector<std::string> deactivated;  // status texts
  std::vector<Bytes> received;
  void on_activated(Protocol*) override { ++activated; }
  void on_deactivated(Protocol*, Protocol_status s) override { deactivated.push_back(s->message()); }
  void on_message(Packet& p) override { received.push_back(bytes_of(p)); }
};

// A level 3 message with the stack's head room, handed down as the slot does.
inline void send_down(Upper& up, SLC* link, const Bytes& msu) {
  Packet p;
  up.prepare_head(p);
  for (uint8_t x : msu) p.put8(x);
  link->message(p);
}

// One link with its owner and wire end.
struct End {
  Upper up;
  SLC* link = new SLC;  // owned by up
  WireEnd wire;
  End() {
    up.add_protocol_tail(link);
    link->hdlc = &wire;
  }
  void send(const Bytes& msu) { send_down(up, link, msu); }
  void deliver(const Bytes& u) {
    Packet p = packet_of(u, 0);
    link->receive(p);
  }
  // Activated, SIN from the far end takes it to proving, a FISU to worked; what it sent on
  // the way is forgotten.
  void in_service() {
    link->local_activate();
    deliver(lssu(SLC::SIN));
    deliver(unit(127, true, 127, true));
    ASSERT_EQ(link->state(), SLC::State::worked);
    wire.sent.clear();
  }
  // The MSUs sent since `from`.
  std::vector<Bytes> msus(size_t from = 0) const {
    std::vector<Bytes> r;
    for (size_t i = from; i < wire.sent.size(); ++i)
      if (wire.sent[i].size() > 5) r.push_back(wire.sent[i]);
    return r;
  }
};

using LinkTest = vxtest::LoopTest;

inline bool has_line(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (l == line) return true;
  return false;
}
#define EXPECT_LINE(text, line) EXPECT_TRUE(ss7test::has_line(text, line)) << (text)

}  // namespace ss7test
