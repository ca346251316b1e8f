#include "slots/HdlcSlotFactory.h"

#include <iostream>

#include "foundation/Traces.h"
#include "slots/HdlcSlot.h"
#include "slots/LinkMessages.h"

Slot* HdlcSlotFactory::INewSlot(LGCP::CreateParams const& params) {
  if (traces.signalling_hdlc()) std::clog << "\nHdlcSlotFactory.INewSlot\n" << std::endl;
  if (!params.is_hdlcParams()) return nullptr;
  return new HdlcSlot(params.get_hdlcParams());
}

void HdlcSlotFactory::SelfSignal(LGCP::Signal const& signal) { PassTrunkStatus(slots, signal); }
