// Controller frames into the control server: decoding, the slot range check, dispatch to the
// heartbeat and slot table services and the encoding of their answers.
#include "control/CtrlSrvServer.h"
#include "monitoring/HeartBeatCtl.h"
#include "slots/Slots.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static bool once = (fuzz::quiet(), ctrlServer.Bind(HeartBeatCtl::instance()),
                                       ctrlServer.Bind(Slots::instance()), true);
  ctrlServer.OnMessage(reinterpret_cast<const char*>(data), static_cast<int>(size));
  fuzz::require(ctrlServer.GetSlot() == CtrlSrv::Server::no_slot);
  return 0;
}
