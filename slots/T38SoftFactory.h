#pragma once
// Factory of software T.38 slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class T38SoftFactory : public UnbuiltSlotFactory {
 public:
  T38SoftFactory();
};
