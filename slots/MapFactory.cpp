#include "slots/MapFactory.h"

MapFactory::MapFactory() = default;
