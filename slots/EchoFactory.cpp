#include "slots/EchoFactory.h"

#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "slots/EchoSlot.h"

EchoFactory::EchoFactory() { Scan(); }

void EchoFactory::Scan() {
  present.fill(false);
  std::clog << "Scanning echo channels ..." << std::endl;
}

Slot* EchoFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.getID() != LGCP::CreateParams::e_echo) return nullptr;
  const LGCP::EchoParams& p = params.get_echo();
  const unsigned bus = static_cast<unsigned>(p.get_bus().getValue());
  if (bus >= kBuses || !present[bus]) return nullptr;
  return new EchoSlot(bus * kBusChannels + static_cast<unsigned>(p.get_channel().getValue()));
}

void EchoFactory::Query(LGCP::Resources& r) {
  for (unsigned bus = 0; bus < kBuses; ++bus)
    if (present[bus]) r.get_echoBus().push_back(ASN1::INTEGER(static_cast<int>(bus)));
}
