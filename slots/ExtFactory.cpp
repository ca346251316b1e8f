#include "slots/ExtFactory.h"

ExtFactory::ExtFactory() = default;
