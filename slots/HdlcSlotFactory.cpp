#include "slots/HdlcSlotFactory.h"

HdlcSlotFactory::HdlcSlotFactory() = default;
