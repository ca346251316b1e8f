#include "slots/MapFactory.h"

#include <iostream>
#include <memory>

#include "asn1/schemas/LGCP.h"
#include "hardware/HwMux.h"
#include "hardware/SwitchRoutes.h"
#include "hardware/SwitchUsers.h"
#include "slots/MapSlot.h"
#include "slots/Slots.h"

int GetMapTimeSlot(LGCP::SharedChannel const& channel) {
  // Compared as signed numbers, so that a negative value is refused like a large one.
  const int bus = static_cast<int>(channel.get_bus().getValue());
  const int ch = static_cast<int>(channel.get_channel().getValue());
  if (bus < 0 || bus >= MapFactory::kBuses || ch < 0 || ch >= MapFactory::kBusChannels) return -1;
  return HwMux::kFirstOutput + MapFactory::kBusChannels * bus + ch;
}

MapFactory::MapFactory() = default;

Slot* MapFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.getID() != LGCP::CreateParams::e_map) return nullptr;
  const LGCP::MapParams& p = params.get_map();
  const int tx = p.has_transmitter() ? GetMapTimeSlot(p.get_transmitter()) : -1;
  const int rx = p.has_receiver() ? GetMapTimeSlot(p.get_receiver()) : -1;
  if ((p.has_transmitter() && tx < 0) || (p.has_receiver() && rx < 0)) {
    std::cerr << "map-slot: shared channel out of range, refused." << std::endl;
    return nullptr;
  }
  auto slot = std::make_unique<MapSlot>(tx, rx);
  // The slots it replaces go first, so that their routes count as an earlier owner's: one the
  // switch has not taken down yet would carry the old call onto the bus, or the bus into it.
  RemoveReplaced(slot.get());
  for (const int channel : {tx, rx}) {
    if (channel >= 0 && !SwitchRoutes::claim_named(channel)) {
      std::cerr << "map-slot: channel " << channel << " still routed for an earlier slot" << std::endl;
      return nullptr;
    }
  }
  AllocateMapSlot(slot.get());
  return slot.release();
}

void MapFactory::RemoveReplaced(MapSlot* slot) {
  for (const int log : {slot->GetRxLogChannel(), slot->GetTxLogChannel()}) {
    if (log < 0) continue;  // no such channel
    MapSlot* entry = entries[static_cast<unsigned>(log)];
    if (entry && entry != slot) {
      std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl;
      std::cerr << "new slot " << *slot << " <-> old slot " << *entry << std::endl;
      // Deleted at once; its release clears the entries it held.
      Slots::instance()->Destroy(entry);
    }
  }
}

void MapFactory::AllocateMapSlot(MapSlot* slot) {
  RemoveReplaced(slot);
  for (const int log : {slot->GetRxLogChannel(), slot->GetTxLogChannel()})
    if (log >= 0) entries[static_cast<unsigned>(log)] = slot;
}

void MapFactory::ReleaseMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) {
    const int log = slot->GetRxLogChannel();
    std::clog << "map: disable map channel " << log << std::endl;
    SwitchUsers::leave(slot->rxChannel, static_cast<Slot*>(slot));
    if (entries[static_cast<unsigned>(log)] != slot)
      std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1" << std::endl;
    entries[static_cast<unsigned>(log)] = nullptr;
  }
  // A slot that receives and transmits on one channel had that entry cleared just above.
  if (slot->IsTxExists() && slot->txChannel != slot->rxChannel) {
    const int log = slot->GetTxLogChannel();
    if (entries[static_cast<unsigned>(log)] != slot)
      std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
    entries[static_cast<unsigned>(log)] = nullptr;
  }
}

void MapFactory::ForgetMapSlot(MapSlot* slot) {
  for (const int log : {slot->GetRxLogChannel(), slot->GetTxLogChannel()})
    if (log >= 0 && entries[static_cast<unsigned>(log)] == slot) entries[static_cast<unsigned>(log)] = nullptr;
}
