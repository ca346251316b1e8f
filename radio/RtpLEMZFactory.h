#pragma once
// Factory of LEMZ radio RTP slots (registered in the factory list; makes no slot yet).
#include "slots/SlotFactory.h"

class RtpLEMZFactory : public UnbuiltSlotFactory {
 public:
  RtpLEMZFactory();
};
