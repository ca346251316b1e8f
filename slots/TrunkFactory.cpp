#include "slots/TrunkFactory.h"

#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "hardware/SwitchRoutes.h"
#include "slots/Slots.h"
#include "slots/TrunkSlot.h"

void TrunkFactory::BuildAll() {
  static bool built = false;
  if (built) return;
  built = true;
  for (unsigned t = 0; t < kTrunks; ++t) new TrunkFactory(t, kTimeslots * t);
  for (unsigned l = 0; l < TrunkBRIFactory::kLines; ++l) new TrunkBRIFactory(l);
}

Slot* TrunkFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.getID() != LGCP::CreateParams::e_trunk) return nullptr;
  return NewTrunkSlot(params.get_trunk(), kTimeslots);
}

Slot* TrunkFactory::NewTrunkSlot(LGCP::TrunkParams const& params, unsigned timeslots) {
  // Compared as signed numbers, so that a negative value is refused like a large one.
  const int t = static_cast<int>(params.get_trunk().getValue());
  const int ts = static_cast<int>(params.get_timeslot().getValue());
  if (t != static_cast<int>(trunk) || ts < 0 || ts >= static_cast<int>(timeslots)) return nullptr;
  if (TrunkSlot* old = entries[static_cast<unsigned>(ts)]) {
    std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl;
    std::cerr << " old slot " << *old << std::endl;
    Slots::instance()->Destroy(old);
    entries[static_cast<unsigned>(ts)] = nullptr;
  }
  // A route of the timeslot's last slot that the switch has not taken down yet would carry the
  // new call to the old one's peer.
  const int channel = static_cast<int>(base) + ts;
  if (!SwitchRoutes::claim_named(channel)) {
    std::cerr << "trunk-slot: timeslot " << channel << " still routed for an earlier slot" << std::endl;
    return nullptr;
  }
  TrunkSlot* slot = MakeSlot(channel);
  entries[static_cast<unsigned>(ts)] = slot;
  return slot;
}

TrunkSlot* TrunkFactory::MakeSlot(int channel) { return new TrunkSlot(channel); }

// Found by the pointer rather than by GetTimeSlot(): a slot's destructor calls this too, when
// its own kind's GetTimeSlot() is no longer the one called.
void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot) {
  for (TrunkSlot*& e : entries)
    if (e == slot) e = nullptr;
}

Slot* TrunkBRIFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.getID() != LGCP::CreateParams::e_trunk_bri) return nullptr;
  return NewTrunkSlot(params.get_trunk_bri(), kChannels);
}

TrunkSlot* TrunkBRIFactory::MakeSlot(int channel) { return new TrunkBRISlot(channel); }
