#include "slots/IsdnFactory.h"

IsdnFactory::IsdnFactory() : UnbuiltSlotFactory("ISDN") {}
