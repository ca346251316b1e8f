// Frames from the line into the data links in every state: the first octets choose the side,
// the link kind, the starting state and the trace level; the rest is a series of frames
// (length-prefixed), layer-3 messages and timer expiries.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>

#include "control/ProtocolsFamily.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "foundation/Packet.h"
#include "hardware/HDLC.h"
#include "links/LAPD.h"
#include "links/LAPD_NT.h"

namespace {

struct NullBuf : std::streambuf {
  int overflow(int c) override { return c; }
};

struct Channel : GenericHDLC {
  bool full = false;
  bool hdlc_transmit(Packet&) override { return !full; }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !full; }
};

struct Sink : ProtocolsFamily {
  void transmit(Packet&) override {}
  void on_message(Packet& p) override {
    unsigned sum = 0;
    for (unsigned i = 0; i < p.length(); ++i) sum += p.data()[i];
    (void)sum;
  }
};

Packet packet(const uint8_t* d, size_t n) {
  Packet p;
  p.reserve_head(8);
  for (size_t i = 0; i < n; ++i) p.put8(d[i]);
  return p;
}

// Brings a fresh link to one of the states 0 to 7 through its own operations.
void reach(ISDN::LAPD& l, unsigned state) {
  auto rx = [&](std::initializer_list<uint8_t> f) {
    Packet p = packet(f.begin(), f.size());
    l.receive(p);
  };
  bool user = l.side == ISDN::Side::user;
  uint8_t cmd = user ? 0x02 : 0x00;  // a SABME as the peer sends it
  switch (state) {
    case 0: l.change_to_bri(); l.mdl_remove(); break;
    case 1: l.change_to_bri(); l.mdl_remove(); l.activate(); break;
    case 2: l.change_to_bri(); l.mdl_remove(); l.activate(); l.activate(); break;
    case 4: l.activate(); break;
    case 5: rx({cmd, 0x01, 0x7F}); l.deactivate(); break;
    case 6: rx({cmd, 0x01, 0x7F}); break;
    case 7:
      rx({cmd, 0x01, 0x7F});
      Mux::test_clock_advance_ms(ISDN::LAPD::kT203);
      multiplexer.run_once(0);
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NullBuf null;
  static bool once = [] {
    std::clog.rdbuf(&null);
    std::cout.rdbuf(&null);
    Mux::test_clock_set(1'700'000'000ull * 1'000'000ull);
    return true;
  }();
  (void)once;
  if (size < 2) return 0;
  unsigned setup = data[0], level = data[1] % 5;
  data += 2;
  size -= 2;

  Sink owner;
  Channel ch;
  ISDN::LAPD* lapd = nullptr;
  ISDN::LAPD_NT* nt = nullptr;
  if (setup & 0x80) {
    nt = new ISDN::LAPD_NT;
    nt->set_log(level);
    owner.add_protocol_tail(nt);
    nt->activate();
  } else {
    lapd = new ISDN::LAPD((setup & 0x08) ? ISDN::Side::network : ISDN::Side::user, level);
    lapd->device = &ch;
    owner.add_protocol_tail(lapd);
    reach(*lapd, setup & 0x07);
  }

  // Each step: an op octet, then for frames and messages a length octet and that many octets.
  size_t i = 0;
  while (i < size) {
    uint8_t op = data[i++];
    switch (op & 0x03) {
      case 0:
      case 1: {
        size_t n = i < size ? data[i++] : 0;
        if (n > size - i) n = size - i;
        Packet p = packet(data + i, n);
        i += n;
        if ((op & 0x03) == 0) {
          if (lapd) lapd->receive(p);
          else nt->receive(p);
        } else {
          if (lapd) lapd->message(p);
          else nt->message(p);
        }
        break;
      }
      case 2:
        Mux::test_clock_advance_ms((op >> 2) * 250u);
        multiplexer.run_once(0);
        break;
      case 3:
        ch.full = (op & 0x04) != 0;
        if (lapd && !ch.full) lapd->on_hdlc_ready();
        if (lapd && (op & 0x08)) lapd->deactivate();
        if (lapd && (op & 0x10)) lapd->activate();
        if (nt && (op & 0x08)) nt->deactivate();
        break;
    }
  }
  return 0;
}
