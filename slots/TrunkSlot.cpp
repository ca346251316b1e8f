#include "slots/TrunkSlot.h"

#include "slots/TrunkFactory.h"

void TrunkSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy() {
  if (auto* f = dynamic_cast<TrunkFactory*>(factory)) f->ReleaseTrunkSlot(this);
  return true;
}
