#pragma once
// Factory of MCC slots (raw controller channels), and the reporter of the controller's free
// channels by kind.
#include <iosfwd>

#include "slots/SlotFactory.h"

class MccFactory : public SlotFactory {
 public:
  // Receive block size and thresholds of an MCC slot's channel.
  static constexpr unsigned kRxPacketSize = 512;

  const char* GetName() const override { return "MCC"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // "mcc: ".
  void PutHeader(std::ostream& os) const;
};
