#pragma once
// Factory of conference mixer slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

namespace Mixer {

class MixerFactory : public UnbuiltSlotFactory {
 public:
  MixerFactory();
};

}  // namespace Mixer
