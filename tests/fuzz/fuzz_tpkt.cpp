// Byte streams through the TPKT layer in chunks the input chooses: [length][bytes], where a
// length of 0 moves the clock past the partial-frame timeout and 255 takes the rest.
#include "control/ProtocolsFamily.h"
#include "control/Tpkt_protocol.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

struct Sink : ProtocolsFamily {
  Sink() { add_protocol_tail(new Tpkt_protocol); }
  void on_message(Packet& p) override {
    fuzz::touch(p.data(), p.length());
    fuzz::require(p.length() <= Tpkt_protocol::max_payload);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static bool once = (fuzz::quiet_still_clock(), true);
  Sink sink;
  size_t at = 0;
  while (at < size) {
    const unsigned want = data[at++];
    if (want == 0) {
      fuzz::advance_ms(3000);
      continue;
    }
    size_t n = (want < size - at && want != 255) ? want : size - at;
    n = std::min<size_t>(n, packet_max_size);  // one socket read fills one packet at most
    Packet chunk = fuzz::packet({data + at, n}, 0);
    at += n;
    sink.receive(chunk);
  }
  return 0;
}
