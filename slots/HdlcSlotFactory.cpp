#include "slots/HdlcSlotFactory.h"

HdlcSlotFactory::HdlcSlotFactory() : UnbuiltSlotFactory("HdlcSlotFactory") {}
