#include "slots/PstnFactory.h"

#include "slots/LinkMessages.h"
#include "slots/PstnSlot.h"

Slot* PstnFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.is_pstn()) return nullptr;
  return new PstnSlot(params.get_pstn());
}

void PstnFactory::SelfSignal(LGCP::Signal const& signal) { PassTrunkStatus(slots, signal); }
