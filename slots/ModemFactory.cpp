#include "slots/ModemFactory.h"

ModemFactory::ModemFactory() : UnbuiltSlotFactory("Modem") {}
