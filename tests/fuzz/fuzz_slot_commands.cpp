// Sequences of controller frames into the slot table: creates, connects, disconnects and
// destroys of trunk, BRI trunk and map slots in any order and with any numbers, then the loss
// of the controller. After every sequence the table, the factories and the connection links
// must agree.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>

#include "control/CtrlSrvServer.h"
#include "slots/MapFactory.h"
#include "slots/MapSlot.h"
#include "slots/Slot.h"
#include "slots/Slots.h"
#include "slots/TrunkFactory.h"

namespace {

struct Setup {
  Setup() {
    // Every answer is logged as unsendable (no connection): keep the run quiet.
    std::cerr.rdbuf(sink.rdbuf());
    std::clog.rdbuf(sink.rdbuf());
    TrunkFactory::BuildAll();
    ctrlServer.Bind(Slots::instance());
  }
  std::ostringstream sink;
  MapFactory map;
};

void check(const Setup& setup) {
  Slots& slots = *Slots::instance();
  for (Slot* s : slots.Live()) {
    if (slots.Find(s->number) != s || s->destroying) __builtin_trap();
    for (Slot* sink : s->sinks)
      if (sink->source != s) __builtin_trap();
    if (s->source && std::find(s->source->sinks.begin(), s->source->sinks.end(), s) == s->source->sinks.end())
      __builtin_trap();
  }
  for (MapSlot* e : setup.map.entries)
    if (e && std::find(slots.Live().begin(), slots.Live().end(), e) == slots.Live().end()) __builtin_trap();
}

}  // namespace

// The input is a list of frames, each a length octet and that many octets of one message.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  Slots& slots = *Slots::instance();
  while (size > 0) {
    const size_t n = std::min<size_t>(data[0], size - 1);
    ctrlServer.OnMessage(reinterpret_cast<const char*>(data + 1), static_cast<int>(n));
    data += 1 + n;
    size -= 1 + n;
    check(setup);
  }
  slots.OnDisconnect();
  while (!slots.Pending().empty()) slots.int_destroy(slots.Pending().front());
  for (MapSlot* e : setup.map.entries)
    if (e) __builtin_trap();
  if (setup.sink.tellp() > (1 << 20)) setup.sink.str("");
  return 0;
}
