#pragma once
// Factory of modem slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class ModemFactory : public UnbuiltSlotFactory {
 public:
  ModemFactory();
};
