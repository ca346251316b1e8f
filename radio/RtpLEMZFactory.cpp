#include "radio/RtpLEMZFactory.h"

RtpLEMZFactory::RtpLEMZFactory() : UnbuiltSlotFactory("RTP Ext LEMZ") {}
