#include "slots/SlotFactory.h"

// Constant-initialised, so factories built during static initialisation find it ready.
SlotFactory* firstFactory = nullptr;

SlotFactory::SlotFactory() : next(firstFactory) { firstFactory = this; }

SlotFactory::~SlotFactory() {
  for (SlotFactory** p = &firstFactory; *p; p = &(*p)->next) {
    if (*p == this) {
      *p = next;
      break;
    }
  }
}
