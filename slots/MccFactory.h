#pragma once
// Factory of MCC slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class MccFactory : public UnbuiltSlotFactory {
 public:
  MccFactory();
};
