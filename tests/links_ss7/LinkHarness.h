#pragma once
// Test rig for the SS7 link: a link under a recording owner, a wire end that keeps what the
// link sends (and can refuse or drop units), two links joined back to back, and the loop's
// clock under test control.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "control/ProtocolsFamily.h"
#include "foundation/Multiplexer.h"
#include "foundation/Packet.h"
#include "links/SS7SLC.h"
#include "tests/support/LoopTest.h"

namespace ss7test {

using Bytes = std::vector<uint8_t>;

inline Packet packet_of(const Bytes& b, unsigned head = SS7::SLC::kHeaderOctets) {
  Packet p;
  p.reserve_head(head);
  for (uint8_t x : b) p.put8(x);
  return p;
}

inline Bytes bytes_of(const Packet& p) { return Bytes(p.data(), p.data() + p.length()); }

// A header octet pair and LI as they go on the wire.
inline Bytes unit(unsigned bsn, bool bib, unsigned fsn, bool fib, const Bytes& payload = {}) {
  Bytes u{static_cast<uint8_t>((bib ? 0x80 : 0) | bsn), static_cast<uint8_t>((fib ? 0x80 : 0) | fsn),
          static_cast<uint8_t>(payload.size() < 63 ? payload.size() : 63)};
  u.insert(u.end(), payload.begin(), payload.end());
  return u;
}

// The sending side of a channel: records every unit, queues it for the far end unless the
// drop filter takes it, refuses everything while `refuse` is set.
struct WireEnd : GenericHDLC {
  std::vector<Bytes> sent;
  std::deque<Bytes>* far = nullptr;
  std::function<bool(const Bytes&)> drop;
  bool refuse = false;

  bool hdlc_transmit(Packet& frame) override {
    if (refuse) return false;
    Bytes b = bytes_of(frame);
    sent.push_back(b);
    if (far && !(drop && drop(b))) far->push_back(b);
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

// A level 3 message with the stack's head room, handed down to the link as the slot does.
inline void send_down(Upper& up, SS7::SLC* link, const Bytes& msu) {
  Packet p;
  up.prepare_head(p);
  for (uint8_t x : msu) p.put8(x);
  link->message(p);
}

// One link with its owner and wire end.
struct End {
  Upper up;
  SS7::SLC* link = new SS7::SLC;  // owned by up
  WireEnd wire;
  std::deque<Bytes> inbox;  // units on their way to this link

  End() {
    up.add_protocol_tail(link);
    link->hdlc = &wire;
  }
  void send(const Bytes& msu) { send_down(up, link, msu); }
  void deliver(const Bytes& u) {
    Packet p = packet_of(u, 0);
    link->receive(p);
  }
  // Activated, SIN from the far end takes the link to proving, a FISU to worked; what it sent
  // on the way is forgotten.
  void in_service() {
    link->local_activate();
    deliver({0xFF, 0xFF, 0x01, SS7::SLC::SIN});
    deliver(unit(127, true, 127, true));
    ASSERT_EQ(link->state(), SS7::SLC::State::worked);
    wire.sent.clear();
  }
  // Units of one kind sent since `from`: 0 FISU, 1 LSSU, 2 MSU.
  std::vector<Bytes> sent_of_kind(int kind, size_t from = 0) const {
    std::vector<Bytes> r;
    for (size_t i = from; i < wire.sent.size(); ++i) {
      size_t n = wire.sent[i].size() - 3;
      if ((n == 0 ? 0 : n <= 2 ? 1 : 2) == kind) r.push_back(wire.sent[i]);
    }
    return r;
  }
};

// The fake clock, the loop driven pass by pass and the captured streams.
using LinkTest = vxtest::LoopTest;

// Two links back to back. Units travel when pump() runs, so that no link is re-entered from
// its own send.
class PairTest : public LinkTest {
 protected:
  void SetUp() override {
    a.wire.far = &b.inbox;
    b.wire.far = &a.inbox;
  }
  void pump() {
    for (int guard = 0; guard < 1000000 && (!a.inbox.empty() || !b.inbox.empty()); ++guard) {
      if (!a.inbox.empty()) {
        Bytes u = a.inbox.front();
        a.inbox.pop_front();
        a.deliver(u);
      }
      if (!b.inbox.empty()) {
        Bytes u = b.inbox.front();
        b.inbox.pop_front();
        b.deliver(u);
      }
    }
  }
  void run(uint32_t ms) {
    advance(ms);
    pump();
  }
  // Activates a (b answers its SIO) and proves; both links end in service.
  void bring_up(bool emergency = false) {
    a.link->emergency = b.link->emergency = emergency;
    a.link->local_activate();
    pump();
    ASSERT_EQ(a.link->state(), SS7::SLC::State::proving);
    ASSERT_EQ(b.link->state(), SS7::SLC::State::proving);
    run(emergency ? 500 : 8200);
    ASSERT_EQ(a.link->state(), SS7::SLC::State::worked);
    ASSERT_EQ(b.link->state(), SS7::SLC::State::worked);
  }

  End a, b;
};

inline bool has_line(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (l == line) return true;
  return false;
}
#define EXPECT_LINE(text, line) EXPECT_TRUE(ss7test::has_line(text, line)) << (text)

}  // namespace ss7test
