#include "slots/ModemFactory.h"

ModemFactory::ModemFactory() = default;
