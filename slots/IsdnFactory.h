#pragma once
// Factory of ISDN and ATS-QSIG slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class IsdnFactory : public UnbuiltSlotFactory {
 public:
  IsdnFactory();
};
