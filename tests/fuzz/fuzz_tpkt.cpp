// Arbitrary byte streams through the TPKT layer, cut into chunks chosen by the input itself,
// with the partial-frame timer driven between chunks.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>

#include "control/ProtocolsFamily.h"
#include "control/Tpkt_protocol.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "foundation/Packet.h"

namespace {

class Sink : public ProtocolsFamily {
 public:
  Sink() { add_protocol_tail(new Tpkt_protocol); }
  void on_message(Packet& p) override {
    // Touch every delivered byte, so that an overrun shows up under the sanitizers.
    unsigned sum = 0;
    for (unsigned i = 0; i < p.length(); ++i) sum += p.data()[i];
    total += sum;
    if (p.length() > Tpkt_protocol::max_payload) __builtin_trap();
  }
  unsigned total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    Mux::test_clock_set(1'700'000'000ull * 1'000'000ull);
    return true;
  }();
  (void)init;
  std::ostringstream quiet;
  std::streambuf* saved = std::clog.rdbuf(quiet.rdbuf());
  {
    Sink sink;
    // Input layout: repeated [chunk length byte][bytes...]; a length byte of 0 advances the
    // clock by 3000 ms instead (partial-frame timeout), 255 takes the rest of the input as one
    // chunk (large frames).
    size_t at = 0;
    while (at < size) {
      const unsigned want = data[at++];
      if (want == 0) {
        Mux::test_clock_advance_ms(3000);
        multiplexer.timers_schedule();
        continue;
      }
      size_t n = (want < size - at && want != 255) ? want : size - at;
      if (n > packet_max_size) n = packet_max_size;  // one socket read fills one packet at most
      Packet chunk;
      chunk.reserve_head(0);
      if (n) std::memcpy(chunk.put(static_cast<unsigned>(n)), data + at, n);
      at += n;
      sink.receive(chunk);
    }
  }
  std::clog.rdbuf(saved);
  return 0;
}
