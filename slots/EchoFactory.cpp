#include "slots/EchoFactory.h"

EchoFactory::EchoFactory() = default;
