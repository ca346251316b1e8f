// Frames from the line into the data links in every state: the first octets choose the side,
// the link kind, the starting state and the trace level; then a series of steps.
#include "control/ProtocolsFamily.h"
#include "links/LAPD.h"
#include "links/LAPD_NT.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

struct Sink : ProtocolsFamily {
  void transmit(Packet&) override {}
  void on_message(Packet& p) override { fuzz::touch(p.data(), p.length()); }
};

// Brings a fresh link to one of the states 0 to 7 through its own operations.
void reach(ISDN::LAPD& l, unsigned state) {
  const uint8_t sabme[] = {uint8_t(l.side == ISDN::Side::user ? 0x02 : 0x00), 0x01, 0x7F};
  Packet p = fuzz::packet(sabme);
  switch (state) {
    case 0: l.change_to_bri(); l.mdl_remove(); break;
    case 1: l.change_to_bri(); l.mdl_remove(); l.activate(); break;
    case 2: l.change_to_bri(); l.mdl_remove(); l.activate(); l.activate(); break;
    case 4: l.activate(); break;
    case 5: l.receive(p); l.deactivate(); break;
    case 6: l.receive(p); break;
    case 7: l.receive(p); fuzz::advance_ms(ISDN::LAPD::kT203); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static bool once = (fuzz::quiet_still_clock(), true);
  if (size < 2) return 0;
  const unsigned setup = data[0], level = data[1] % 5;
  data += 2;
  size -= 2;

  Sink owner;
  fuzz::Channel ch;
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

  // Each step: an op octet; a frame (0) or a layer-3 message (1) follows as a length octet and
  // its octets; 2 moves the clock; 3 fills or frees the channel and (de)activates the link.
  size_t i = 0;
  while (i < size) {
    const uint8_t op = data[i++];
    switch (op & 0x03) {
      case 0:
      case 1: {
        size_t n = i < size ? data[i++] : 0;
        n = std::min(n, size - i);
        Packet p = fuzz::packet({data + i, n});
        i += n;
        if ((op & 0x03) == 0) lapd ? lapd->receive(p) : nt->receive(p);
        else lapd ? lapd->message(p) : nt->message(p);
        break;
      }
      case 2: fuzz::advance_ms((op >> 2) * 250u); break;
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
