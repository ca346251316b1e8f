// Signal units from the far end of an SS7 link: frames of any length and content, in any
// state, mixed with messages from level 3, refusals by the channel and timer expiries, must
// never crash the link, read past a frame or grow its buffers beyond their bounds.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>

#include "control/ProtocolsFamily.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "foundation/Packet.h"
#include "links/SS7SLC.h"

namespace {

struct NullBuf : std::streambuf {
  int overflow(int c) override { return c; }
};

struct Channel : GenericHDLC {
  bool refuse = false;
  bool hdlc_transmit(Packet&) override { return !refuse; }
  bool is_open() const override { return true; }
  bool is_ready() const override { return !refuse; }
};

struct Owner : ProtocolsFamily {
  void on_activated(Protocol*) override {}
  void on_deactivated(Protocol*, Protocol_status) override {}
  void on_message(Packet& p) override {
    if (p.length() < 3) __builtin_trap();  // only MSUs go up
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NullBuf null;
  static bool once = [] {
    std::cerr.rdbuf(&null);
    std::clog.rdbuf(&null);
    Mux::test_clock_set(1'700'000'000ull * 1'000'000ull);
    return true;
  }();
  (void)once;
  if (size == 0) return 0;

  Owner owner;
  auto* link = new SS7::SLC;  // owned by owner
  owner.add_protocol_tail(link);
  Channel channel;
  link->hdlc = &channel;
  link->log = {true, true, true, true, true, true, true, true};
  link->emergency = data[0] & 1;
  // Start in idle, not aligned, proving or in service.
  switch ((data[0] >> 1) & 3) {
    case 3: link->local_activate(); [[fallthrough]];
    case 2: {
      Packet p;
      p.reserve_head(0);
      for (uint8_t b : {0xFF, 0xFF, 0x01, 0x01}) p.put8(b);
      link->receive(p);
      if ((data[0] >> 1 & 3) == 3) {
        Packet f;
        f.reserve_head(0);
        for (uint8_t b : {0xFF, 0xFF, 0x00}) f.put8(b);
        link->receive(f);
      }
      break;
    }
    case 1: link->local_activate(); break;
    default: break;
  }

  // Records: a control octet, then for frames and messages a length octet and the octets.
  size_t i = 1;
  while (i < size) {
    uint8_t op = data[i++];
    switch (op >> 5) {
      case 0:
      case 1:
      case 2:
      case 3: {  // a frame from the channel
        size_t n = op & 0x7F;
        if (n > size - i) n = size - i;
        Packet p;
        p.reserve_head(0);
        for (size_t k = 0; k < n; ++k) p.put8(data[i + k]);
        i += n;
        link->receive(p);
        break;
      }
      case 4: {  // a message from level 3, repeated
        size_t n = op & 0x1F;
        if (n > size - i) n = size - i;
        for (size_t r = 0; r < 1 + (n & 7); ++r) {
          Packet p;
          owner.prepare_head(p);
          for (size_t k = 0; k < n; ++k) p.put8(data[i + k]);
          link->message(p);
        }
        i += n;
        break;
      }
      case 5:  // the channel refuses or takes frames again
        channel.refuse = op & 1;
        if (!channel.refuse) link->on_hdlc_ready();
        break;
      case 6:  // time passes
        Mux::test_clock_advance_ms((op & 0x1F) * 500u);
        multiplexer.run_once(0);
        break;
      default:
        if (op & 1) link->local_deactivate();
        else link->local_activate();
        break;
    }
    if (link->rtb_count() < 0 || link->rtb_count() > 127 || link->tb_count() > 327) __builtin_trap();
    link->statistics();
  }
  return 0;
}
