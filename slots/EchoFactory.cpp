#include "slots/EchoFactory.h"

#include <fcntl.h>

#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "board/voice.h"
#include "foundation/Fd.h"
#include "hardware/DevNames.h"
#include "slots/EchoSlot.h"

EchoFactory::EchoFactory() { Scan(); }

void EchoFactory::Scan() {
  present.fill(false);
  std::clog << "Scanning echo channels ..." << std::endl;
  Fd voice(board::open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC));
  if (!voice) return;
  const int mask = board::ioctl_value(voice.get(), board::voice::VOICE_ECHO_BUSES, 0);
  if (mask <= 0) return;
  for (unsigned bus = 0; bus < kBuses; ++bus) present[bus] = (mask >> bus) & 1;
}

Slot* EchoFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.getID() != LGCP::CreateParams::e_echo) return nullptr;
  const LGCP::EchoParams& p = params.get_echo();
  const unsigned bus = static_cast<unsigned>(p.get_bus().getValue());
  if (bus >= kBuses || !present[bus]) return nullptr;
  return new EchoSlot(bus * kBusChannels + static_cast<unsigned>(p.get_channel().getValue()));
}

void EchoFactory::Query(LGCP::Resources& r) {
  Scan();
  for (unsigned bus = 0; bus < kBuses; ++bus)
    if (present[bus]) r.get_echoBus().push_back(ASN1::INTEGER(static_cast<int>(bus)));
}
