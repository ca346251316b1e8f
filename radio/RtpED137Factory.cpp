#include "radio/RtpED137Factory.h"

RtpED137Factory::RtpED137Factory() : UnbuiltSlotFactory("RTP Ext ED137") {}
