#include "radio/RtpLEMZFactory.h"

RtpLEMZFactory::RtpLEMZFactory() = default;
