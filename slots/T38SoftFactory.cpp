#include "slots/T38SoftFactory.h"

T38SoftFactory::T38SoftFactory() = default;
