#include "slots/RtpFactory.h"

RtpFactory::RtpFactory() : UnbuiltSlotFactory("RTP") {}
