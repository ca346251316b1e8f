#include "slots/ExtFactory.h"

ExtFactory::ExtFactory() : UnbuiltSlotFactory("Ext") {}
