// Signal units from the far end of an SS7 link in any state, mixed with level-3 messages,
// channel refusals and timer expiries: no crash, no overread, buffers within their bounds.
#include "control/ProtocolsFamily.h"
#include "links/SS7SLC.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

struct Owner : ProtocolsFamily {
  void on_activated(Protocol*) override {}
  void on_deactivated(Protocol*, Protocol_status) override {}
  void on_message(Packet& p) override { fuzz::require(p.length() >= 3); }  // only MSUs go up
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static bool once = (fuzz::quiet_still_clock(), true);
  if (size == 0) return 0;

  Owner owner;
  auto* link = new SS7::SLC;  // owned by owner
  owner.add_protocol_tail(link);
  fuzz::Channel channel;
  link->hdlc = &channel;
  link->log = {true, true, true, true, true, true, true, true};
  link->emergency = data[0] & 1;
  // Start in idle, not aligned, proving or in service.
  const unsigned start = (data[0] >> 1) & 3;
  if (start == 1 || start == 3) link->local_activate();
  if (start >= 2) {
    const uint8_t status[] = {0xFF, 0xFF, 0x01, 0x01}, fill[] = {0xFF, 0xFF, 0x00};
    Packet p = fuzz::packet(status, 0);
    link->receive(p);
    Packet f = fuzz::packet(fill, 0);
    if (start == 3) link->receive(f);
  }

  size_t i = 1;
  while (i < size) {
    const uint8_t op = data[i++];
    if (op < 0x80) {  // a frame from the channel
      const size_t n = std::min<size_t>(op & 0x7F, size - i);
      Packet p = fuzz::packet({data + i, n}, 0);
      i += n;
      link->receive(p);
    } else if (op >> 5 == 4) {  // a message from level 3, repeated
      const size_t n = std::min<size_t>(op & 0x1F, size - i);
      for (size_t r = 0; r < 1 + (n & 7); ++r) {
        Packet p;
        owner.prepare_head(p);
        for (size_t k = 0; k < n; ++k) p.put8(data[i + k]);
        link->message(p);
      }
      i += n;
    } else if (op >> 5 == 5) {  // the channel refuses or takes frames again
      channel.full = op & 1;
      if (!channel.full) link->on_hdlc_ready();
    } else if (op >> 5 == 6) {
      fuzz::advance_ms((op & 0x1F) * 500u);
    } else if (op & 1) {
      link->local_deactivate();
    } else {
      link->local_activate();
    }
    fuzz::require(link->rtb_count() >= 0 && link->rtb_count() <= 127 && link->tb_count() <= 327);
    link->statistics();
  }
  return 0;
}
