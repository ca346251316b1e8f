#include "slots/EchoFactory.h"

EchoFactory::EchoFactory() : UnbuiltSlotFactory("Echo") {}
