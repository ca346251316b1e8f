#include "slots/MixerFactory.h"

namespace Mixer {

MixerFactory::MixerFactory() = default;

}  // namespace Mixer
