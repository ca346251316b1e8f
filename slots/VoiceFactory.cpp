#include "slots/VoiceFactory.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "board/mcc.h"
#include "foundation/Escaped.h"
#include "foundation/Fd.h"
#include "hardware/SwitchRoutes.h"
#include "foundation/INet4.h"
#include "slots/VoiceSlot.h"

VoiceFactory* VoiceFactory::instance_ = nullptr;

VoiceFactory::VoiceFactory() { instance_ = this; }

VoiceFactory::~VoiceFactory() {
  if (instance_ == this) instance_ = nullptr;
}

void VoiceFactory::PutHeader(std::ostream& os) const { os << "voice/mcc" << "[" << 0 << "]: "; }

bool VoiceFactory::ValidHost(TERM::HostAddress const& host) {
  INet4::Addr a;
  int port = -1;
  return a.Assign(dhost2str(host), &port) && port >= 0;
}

Slot* VoiceFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.getID() != LGCP::CreateParams::e_voice) return nullptr;
  const LGCP::VoiceParams& v = params.get_voice();
  if (v.is_record()) return CreateRecord(v.get_record());
  if (v.is_player()) return CreatePlay(v.get_player());
  return nullptr;
}

int VoiceFactory::OpenChannel(int flags, const char* direction, unsigned rxThreshold, unsigned txThreshold) {
  board::mcc::Allocate block;
  block.type = board::mcc::kTypeTransparent;
  block.rx_packet_size = kPacketSize;
  block.reserved = 0;
  block.rx_threshold = rxThreshold;
  block.tx_threshold = txThreshold;
  // Channels kept only for a released owner's last frames go back early when none is free.
  int timeslot = -1;
  SwitchRoutes::Step failed;
  Fd channel = SwitchRoutes::controller_channel(flags | O_NONBLOCK | O_CLOEXEC, block, timeslot, failed);
  if (!channel) {
    const int error = errno;
    PutHeader(std::cerr);
    if (failed == SwitchRoutes::Step::open)
      std::cerr << "fail to open /dev/mcc/ctl device for " << direction << ": " << std::strerror(error) << std::endl;
    else if (failed == SwitchRoutes::Step::allocate)
      std::cerr << "MCC_ALLOCATE fail: " << std::strerror(error) << std::endl;
    else
      std::cerr << "MCC_TIMESLOT request failed." << std::endl;
    return -1;
  }
  return channel.release();
}

bool VoiceFactory::Holds(Fd const& copy) {
  if (copy) return true;
  const int error = errno;
  PutHeader(std::cerr);
  std::cerr << "can not hold the channel: " << std::strerror(error) << std::endl;
  return false;
}

Slot* VoiceFactory::CreatePlay(LGCP::PlayerParams const& p) {
  if (p.is_network() && !ValidHost(p.get_network().get_host())) {
    PutHeader(std::cerr);
    std::cerr << "player refused: bad address " << ext::escaped(dhost2str(p.get_network().get_host())) << std::endl;
    return nullptr;
  }
  if (!p.is_network() && !p.is_file()) return nullptr;
  Fd channel(OpenChannel(O_WRONLY, "writing", 0, kThreshold));
  if (!channel) return nullptr;
  PlaySlotGeneric* slot = nullptr;
  if (p.is_network()) slot = new PlaySlotNetwork(channel.get(), p.get_network());
  else slot = new PlaySlotFile(channel.get(), p.get_file());
  if (!Holds(slot->channel)) {
    delete slot;
    return nullptr;
  }
  players.push_back(slot);
  return slot;
}

Slot* VoiceFactory::CreateRecord(TERM::HostAddress const& host) {
  if (!ValidHost(host)) {
    PutHeader(std::cerr);
    std::cerr << "recorder refused: bad address " << ext::escaped(dhost2str(host)) << std::endl;
    return nullptr;
  }
  Fd channel(OpenChannel(O_RDONLY, "reading", kThreshold, 0));
  if (!channel) return nullptr;
  auto* slot = new RecordSlot(dhost2str(host), board::ioctl_value(channel.get(), board::mcc::MCC_TIMESLOT, 0),
                              channel.get());
  if (!Holds(slot->channel)) {
    delete slot;
    return nullptr;
  }
  recorders.push_back(slot);
  return slot;
}

void VoiceFactory::OnDestroy(RecordSlot* slot) {
  recorders.erase(std::remove(recorders.begin(), recorders.end(), slot), recorders.end());
}

void VoiceFactory::OnDestroy(PlaySlotGeneric* slot) {
  players.erase(std::remove(players.begin(), players.end(), slot), players.end());
}
