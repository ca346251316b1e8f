#include "slots/TrunkSlot.h"

#include "slots/TrunkFactory.h"

void TrunkSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

// Whatever path deletes the slot, its factory's entry does not outlive it.
TrunkSlot::~TrunkSlot() {
  if (auto* f = dynamic_cast<TrunkFactory*>(factory)) f->ReleaseTrunkSlot(this);
}

bool TrunkSlot::IBeforeDestroy() {
  if (auto* f = dynamic_cast<TrunkFactory*>(factory)) f->ReleaseTrunkSlot(this);
  return true;
}
