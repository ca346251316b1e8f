#pragma once
// Factory of ED-137 radio RTP slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class RtpED137Factory : public SlotFactory {
 public:
  RtpED137Factory();
};
