#include "slots/PstnFactory.h"

PstnFactory::PstnFactory() : UnbuiltSlotFactory("PSTN") {}
