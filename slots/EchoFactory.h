#pragma once
// Factory of echo canceller slots: one per channel of a bus marked present. The board offers no
// way to detect the buses, so the scan at start marks none and every create is refused.
#include <array>

#include "slots/SlotFactory.h"

class EchoFactory : public SlotFactory {
 public:
  static constexpr unsigned kBuses = 16;
  static constexpr unsigned kBusChannels = 32;

  EchoFactory();

  const char* GetName() const override { return "Echo"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // Marks every bus absent.
  void Scan();

  // Set only by the scan (and by tests that exercise the slot on a bus).
  std::array<bool, kBuses> present{};
};
