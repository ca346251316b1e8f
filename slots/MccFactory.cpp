#include "slots/MccFactory.h"

MccFactory::MccFactory() = default;
