#pragma once
// Factory of voice play and record slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class VoiceFactory : public UnbuiltSlotFactory {
 public:
  VoiceFactory();
};
