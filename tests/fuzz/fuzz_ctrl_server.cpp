// Controller frames into the control server: decoding, the slot range check, dispatch to the
// heartbeat and slot table services and the encoding of their answers.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>

#include "control/CtrlSrvServer.h"
#include "monitoring/HeartBeatCtl.h"
#include "slots/Slots.h"

namespace {

struct Setup {
  Setup() {
    // Every answer is logged as unsendable (no connection): keep the run quiet.
    std::cerr.rdbuf(sink.rdbuf());
    std::clog.rdbuf(sink.rdbuf());
    ctrlServer.Bind(HeartBeatCtl::instance());
    ctrlServer.Bind(Slots::instance());
  }
  std::ostringstream sink;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  ctrlServer.OnMessage(reinterpret_cast<const char*>(data), static_cast<int>(size));
  if (setup.sink.tellp() > (1 << 20)) setup.sink.str("");
  if (ctrlServer.GetSlot() != CtrlSrv::Server::no_slot) __builtin_trap();
  return 0;
}
