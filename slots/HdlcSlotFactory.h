#pragma once
// Factory of HDLC data-channel slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class HdlcSlotFactory : public UnbuiltSlotFactory {
 public:
  HdlcSlotFactory();
};
