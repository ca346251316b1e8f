#include "slots/MixerFactory.h"

namespace Mixer {

MixerFactory::MixerFactory() : UnbuiltSlotFactory("Mixer") {}

}  // namespace Mixer
