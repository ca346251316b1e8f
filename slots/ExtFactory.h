#pragma once
// Factory of ext slots: one for every "ext" create; it adds no resources.
#include "slots/SlotFactory.h"

class ExtFactory : public SlotFactory {
 public:
  const char* GetName() const override { return "Ext"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}
};
