#pragma once
// Factory of map slots: one slot per bus channel, shared by receive and transmit channels; a
// new slot on a channel in use replaces the old one.
#include <array>

#include "slots/SlotFactory.h"

namespace LGCP {
class SharedChannel;
}
class MapSlot;

class MapFactory : public SlotFactory {
 public:
  static constexpr int kBuses = 16;
  static constexpr int kBusChannels = 128;

  MapFactory();

  const char* GetName() const override { return "Map"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}

  // Destroys the slots that hold the slot's channels (the slot is not entered).
  void RemoveReplaced(MapSlot* slot);
  // Enters the slot under its channels, destroying the slots that held them.
  void AllocateMapSlot(MapSlot* slot);
  // Disables the slot's receive channel and forgets its entries.
  void ReleaseMapSlot(MapSlot* slot);
  // Clears the entries that still name the slot, silently.
  void ForgetMapSlot(MapSlot* slot);

  // The slots by log channel (not owned).
  std::array<MapSlot*, kBuses * kBusChannels> entries{};
};

// The switch output of a bus channel; -1 when bus or channel is out of range.
int GetMapTimeSlot(LGCP::SharedChannel const& channel);
