#include "slots/MapSlot.h"

#include "hardware/HwMux.h"
#include "slots/MapFactory.h"

void MapSlot::IAfterCreate() {
  if (IsRxExists()) OnChangeInputStream(true);
  if (IsTxExists()) OnChangeOutputStream(true);
}

// Whatever path deletes the slot, its factory's entries do not outlive it.
MapSlot::~MapSlot() {
  if (auto* f = dynamic_cast<MapFactory*>(factory)) f->ForgetMapSlot(this);
}

bool MapSlot::IBeforeDestroy() {
  if (auto* f = dynamic_cast<MapFactory*>(factory)) f->ReleaseMapSlot(this);
  return true;
}

int MapSlot::GetTxLogChannel() const { return txChannel - HwMux::kFirstOutput; }
int MapSlot::GetRxLogChannel() const { return rxChannel - HwMux::kFirstOutput; }
