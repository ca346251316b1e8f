// Controller frames into the slot table (trunk, BRI trunk and map slots in any order and with
// any numbers), then the loss of the controller: table, factories and links agree throughout.
#include "control/CtrlSrvServer.h"
#include "slots/MapFactory.h"
#include "slots/MapSlot.h"
#include "slots/Slot.h"
#include "slots/Slots.h"
#include "slots/TrunkFactory.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

struct Setup {
  Setup() {
    fuzz::quiet();
    TrunkFactory::BuildAll();
    ctrlServer.Bind(Slots::instance());
  }
  MapFactory map;
};

void check(const Setup& setup) {
  Slots& slots = *Slots::instance();
  for (Slot* s : slots.Live()) {
    fuzz::require(slots.Find(s->number) == s && !s->destroying);
    for (Slot* sink : s->sinks) fuzz::require(sink->source == s);
    fuzz::require(!s->source || fuzz::has(s->source->sinks, s));
  }
  for (MapSlot* e : setup.map.entries) fuzz::require(!e || fuzz::has(slots.Live(), e));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  Slots& slots = *Slots::instance();
  fuzz::for_each_chunk(data, size, [&](std::span<const uint8_t> frame) {
    ctrlServer.OnMessage(reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size()));
    check(setup);
    return true;
  });
  slots.OnDisconnect();
  while (!slots.Pending().empty()) slots.int_destroy(slots.Pending().front());
  for (MapSlot* e : setup.map.entries) fuzz::require(!e);
  return 0;
}
