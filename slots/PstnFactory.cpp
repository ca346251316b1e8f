#include "slots/PstnFactory.h"

PstnFactory::PstnFactory() = default;
