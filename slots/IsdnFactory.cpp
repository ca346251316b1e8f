#include "slots/IsdnFactory.h"

IsdnFactory::IsdnFactory() = default;
