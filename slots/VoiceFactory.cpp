#include "slots/VoiceFactory.h"

VoiceFactory::VoiceFactory() = default;
