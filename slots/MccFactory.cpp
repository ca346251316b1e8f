#include "slots/MccFactory.h"

MccFactory::MccFactory() : UnbuiltSlotFactory("MCC") {}
