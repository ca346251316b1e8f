#include "slots/MapFactory.h"

MapFactory::MapFactory() : UnbuiltSlotFactory("Map") {}
