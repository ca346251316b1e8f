#pragma once
// Factory of ext slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class ExtFactory : public UnbuiltSlotFactory {
 public:
  ExtFactory();
};
