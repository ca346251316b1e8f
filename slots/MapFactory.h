#pragma once
// Factory of map slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class MapFactory : public UnbuiltSlotFactory {
 public:
  MapFactory();
};
