#pragma once
// Factory of RTP media slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class RtpFactory : public UnbuiltSlotFactory {
 public:
  RtpFactory();
};
