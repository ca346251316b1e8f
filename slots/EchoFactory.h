#pragma once
// Factory of echo canceller slots: one per channel of a bus that the voice driver reports
// fitted. The buses are scanned at start and again on every resource query.
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
  // Marks the buses the voice driver reports; none when it reports nothing.
  void Scan();

  std::array<bool, kBuses> present{};
};
