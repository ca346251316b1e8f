#include "slots/PstnFactory.h"

#include "slots/LinkMessages.h"
#include "slots/PstnSlot.h"

Slot* PstnFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.is_pstn()) return nullptr;
  return new PstnSlot(params.get_pstn());
}

// The links that hear the trunk state run on E1 trunks; a basic-rate line's status carries a
// line number of its own that would otherwise be taken for the E1 trunk of that number.
void PstnFactory::SelfSignal(LGCP::Signal const& signal) {
  if (signal.is_trunkStatus() && signal.get_trunkStatus().get_type().asNamedNumber() != ACP::TrunkType::e1) return;
  PassTrunkStatus(slots, signal);
}
