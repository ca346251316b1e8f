#include "slots/VoiceFactory.h"

VoiceFactory::VoiceFactory() : UnbuiltSlotFactory("Voice/mcc") {}
