// Into an HDLC data-channel slot, records of: 0 a frame from the line, 1 a controller package
// list (a package per 8 octets or less), 2 the clock moved by that many times 10 ms.
#include "slots/HdlcSlot.h"
#include "tests/fuzz/DeviceRecords.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static bool once = (fuzz::quiet_still_clock(), true);
  LGCP::HdlcParams params;
  params.set_trunk(1);
  params.set_log(0);
  params.set_address(0x1234);
  HdlcSlot slot(params);
  fuzz::for_each_record(data, size, [&](uint8_t kind, std::span<const uint8_t> body) {
    switch (kind % 3) {
      case 0: {
        Packet p = fuzz::packet(body, 0);
        slot.on_hdlc_receive(p);
        break;
      }
      case 1: {
        LGCP::IoctlParams io;
        auto& list = io.select_hdlcPackages();
        for (size_t at = 0; at < body.size(); at += 8) {
          LGCP::HdlcPackage package;
          package.set_body(std::string(body.begin() + at, body.begin() + std::min(body.size(), at + 8)));
          list.push_back(package);
        }
        slot.Ioctl(io);
        break;
      }
      case 2: fuzz::advance_ms(static_cast<uint32_t>(body.size()) * 10); break;
    }
  });
  fuzz::require(slot.queued() <= HdlcSlot::kQueueLimit && slot.batch->size() <= 4096);
  return 0;
}
