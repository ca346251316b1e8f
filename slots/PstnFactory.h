#pragma once
// Factory of PSTN line slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class PstnFactory : public UnbuiltSlotFactory {
 public:
  PstnFactory();
};
