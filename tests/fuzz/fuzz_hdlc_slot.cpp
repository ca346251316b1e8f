// Frames from the line and packages from the controller into an HDLC data-channel slot: the
// input is a series of records, each a kind octet, a length octet and that many octets: 0 a
// received frame, 1 a package list (one package per 8 octets or less), 2 the clock moved by
// that many times 10 ms (the flush and statistics timers run).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>

#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "foundation/Packet.h"
#include "slots/HdlcSlot.h"

namespace {

struct NullBuf : std::streambuf {
  int overflow(int c) override { return c; }
};

struct Setup {
  Setup() {
    std::cerr.rdbuf(&null);
    std::clog.rdbuf(&null);
    Mux::test_clock_set(1'700'000'000ull * 1'000'000ull);
  }
  NullBuf null;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  LGCP::HdlcParams params;
  params.set_trunk(1);
  params.set_log(0);
  params.set_address(0x1234);
  HdlcSlot slot(params);
  while (size >= 2) {
    const uint8_t kind = data[0];
    const size_t n = std::min<size_t>(data[1], size - 2);
    const uint8_t* body = data + 2;
    switch (kind % 3) {
      case 0: {
        Packet p;
        p.reserve_head(0);
        std::copy(body, body + n, p.put(static_cast<unsigned>(n)));
        slot.on_hdlc_receive(p);
        break;
      }
      case 1: {
        LGCP::IoctlParams io;
        auto& list = io.select_hdlcPackages();
        for (size_t at = 0; at < n; at += 8) {
          LGCP::HdlcPackage package;
          package.set_body(std::string(body + at, body + std::min(n, at + 8)));
          list.push_back(package);
        }
        slot.Ioctl(io);
        break;
      }
      case 2:
        Mux::test_clock_advance_ms(static_cast<uint32_t>(n) * 10);
        multiplexer.run_once(0);
        break;
    }
    data += 2 + n;
    size -= 2 + n;
  }
  if (slot.queued() > HdlcSlot::kQueueLimit || slot.batch->size() > 4096) __builtin_trap();
  return 0;
}
