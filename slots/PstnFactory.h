#pragma once
// Factory of PSTN signalling-link slots ("pstn"); passes trunk status on to its slots.
#include "slots/SlotFactory.h"

class PstnFactory : public SlotFactory {
 public:
  PstnFactory() = default;
  const char* GetName() const override { return "PSTN"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}
  void SelfSignal(LGCP::Signal const& signal) override;
};
