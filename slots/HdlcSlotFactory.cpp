#include "slots/HdlcSlotFactory.h"

#include <iostream>

#include "foundation/Traces.h"
#include "slots/HdlcSlot.h"

Slot* HdlcSlotFactory::INewSlot(LGCP::CreateParams const& params) {
  if (traces.signalling_hdlc()) std::clog << "\nHdlcSlotFactory.INewSlot\n" << std::endl;
  if (!params.is_hdlcParams()) return nullptr;
  return new HdlcSlot(params.get_hdlcParams());
}

void HdlcSlotFactory::SelfSignal(LGCP::Signal const& signal) {
  if (!signal.is_trunkStatus()) return;
  auto const& status = signal.get_trunkStatus();
  auto slotsNow = slots;  // a slot may leave the list while it is told
  for (Slot* s : slotsNow)
    s->OnTrunkStatus(static_cast<unsigned>(status.get_trunk().getValue()), status.get_state().asNamedNumber());
}
