#include "slots/SlotFactory.h"

#include <algorithm>

#include "slots/Slot.h"

// Constant-initialised, so factories built during static initialisation find it ready.
SlotFactory* firstFactory = nullptr;

SlotFactory::SlotFactory() : next(firstFactory) { firstFactory = this; }

SlotFactory::~SlotFactory() {
  for (Slot* s : slots) s->factory = nullptr;
  for (SlotFactory** p = &firstFactory; *p; p = &(*p)->next) {
    if (*p == this) {
      *p = next;
      break;
    }
  }
}

void SlotFactory::SelfSignal(LGCP::Signal const&) {}

Slot* SlotFactory::NewSlot(LGCP::CreateParams const& params) {
  Slot* slot = INewSlot(params);
  if (!slot) return nullptr;
  slot->factory = this;
  slots.push_back(slot);
  return slot;
}

void SlotFactory::Remove(Slot* slot) { std::erase(slots, slot); }
