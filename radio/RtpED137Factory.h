#pragma once
// Factory of ED-137 radio RTP slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class RtpED137Factory : public UnbuiltSlotFactory {
 public:
  RtpED137Factory();
};
