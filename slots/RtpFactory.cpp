#include "slots/RtpFactory.h"

RtpFactory::RtpFactory() = default;
