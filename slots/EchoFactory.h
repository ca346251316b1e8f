#pragma once
// Factory of echo canceller slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class EchoFactory : public UnbuiltSlotFactory {
 public:
  EchoFactory();
};
