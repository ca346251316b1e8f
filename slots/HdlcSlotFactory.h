#pragma once
// Factory of HDLC data-channel slots ("hdlcParams"); creation cannot fail, the channel opens
// when the slot is activated.
#include "slots/SlotFactory.h"

class HdlcSlotFactory : public SlotFactory {
 public:
  HdlcSlotFactory() = default;
  const char* GetName() const override { return "HdlcSlotFactory"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}
  // Trunk status to every slot of the factory.
  void SelfSignal(LGCP::Signal const& signal) override;
};
