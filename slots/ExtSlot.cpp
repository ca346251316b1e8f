#include "slots/ExtSlot.h"

#include "hardware/SwitchUsers.h"

// The receive channel may be named by other live slots too: the slot holds it as one of its
// users (keyed as a Slot, as its connections are), so that what it opens or gives up leaves
// another slot's path alone.
bool ExtSlot::IBeforeDestroy() {
  SwitchUsers::leave(receiver, static_cast<Slot*>(this));
  return true;
}

bool ExtSlot::IActivate(TERM::TermActivateParams const&) {
  OnChangeInputStream(true);
  SwitchUsers::open(receiver, static_cast<Slot*>(this));
  return true;
}

bool ExtSlot::IDeactivate() {
  OnChangeInputStream(false);
  SwitchUsers::leave(receiver, static_cast<Slot*>(this));
  return true;
}
