#include "slots/T38SoftFactory.h"

T38SoftFactory::T38SoftFactory() : UnbuiltSlotFactory("T.38 soft") {}
