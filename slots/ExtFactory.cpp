#include "slots/ExtFactory.h"

#include "asn1/schemas/LGCP.h"
#include "slots/ExtSlot.h"

Slot* ExtFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.getID() != LGCP::CreateParams::e_ext) return nullptr;
  const LGCP::ExtParams& p = params.get_ext();
  return new ExtSlot(p.get_transmitter().getValue(), p.get_receiver().getValue());
}
