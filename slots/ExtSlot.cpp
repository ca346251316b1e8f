#include "slots/ExtSlot.h"

#include "hardware/HwMux.h"

bool ExtSlot::IBeforeDestroy() {
  HwMux::instance()->Disable(receiver);
  return true;
}

bool ExtSlot::IActivate(TERM::TermActivateParams const&) {
  OnChangeInputStream(true);
  HwMux::instance()->Disconnect(receiver);
  return true;
}

bool ExtSlot::IDeactivate() {
  OnChangeInputStream(false);
  HwMux::instance()->Disable(receiver);
  return true;
}
