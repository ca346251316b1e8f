#include "slots/IsdnFactory.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>

#include "board/board.h"
#include "board/dspdata.h"
#include "board/mcc.h"
#include "foundation/Fd.h"
#include "foundation/Hex.h"
#include "hardware/SwitchRoutes.h"
#include "slots/IsdnSlot.h"

namespace {

ISDN::Side::type side_of(LGCP::IsdnSide const& side) {
  return side.is_network() ? ISDN::Side::network : ISDN::Side::user;
}

}  // namespace

void IsdnFactory::PutHeader(std::ostream& os) const { os << "mcc/isdn: "; }

Slot* IsdnFactory::INewSlot(LGCP::CreateParams const& params) {
  switch (params.getID()) {
    case LGCP::CreateParams::e_isdn: return NewIsdnSlot(params.get_isdn());
    case LGCP::CreateParams::e_ats_qsig: return NewAtsQsigSlot(params.get_ats_qsig());
    case LGCP::CreateParams::e_ats_qsig_b: return NewAtsQsigBSlot(params.get_ats_qsig_b());
    default: return nullptr;
  }
}

Slot* IsdnFactory::FindSlot(unsigned number) const {
  for (Slot* s : slots)
    if (s->number == number) return s;
  return nullptr;
}

Slot* IsdnFactory::NewIsdnSlot(LGCP::IsdnParams const& params) {
  bool bri = params.get_type().asNamedNumber() == LGCP::IsdnType::bri;
  auto lapd = std::make_unique<ISDN::LAPD>(ISDN::Side::user, 0);
  if (bri) lapd->change_to_bri();
  lapd->id = static_cast<uint32_t>(params.get_trunk().getValue());
  lapd->traceLevel = static_cast<uint32_t>(params.get_log().getValue());
  lapd->side = side_of(params.get_side());
  Fd fd = OpenMccChannel(bri);
  if (!fd) return nullptr;
  return Held(new IsdnSlot(std::move(fd), lapd.release()));
}

Fd IsdnFactory::OpenMccChannel(bool bri) {
  board::mcc::Allocate a;
  a.type = bri ? board::mcc::kTypeBri : board::mcc::kTypeData;
  a.rx_packet_size = 512;
  a.reserved = 0;
  a.rx_threshold = 1;
  a.tx_threshold = 1;
  int channel = -1;
  SwitchRoutes::Step failed;
  Fd fd = SwitchRoutes::controller_channel(O_RDWR | O_NONBLOCK | O_CLOEXEC, a, channel, failed);
  if (!fd) {
    int error = errno;
    if (failed == SwitchRoutes::Step::open)
      std::cerr << ext::header(this) << "fail to open MCC device: " << std::strerror(error) << std::endl;
    else
      Refused(failed == SwitchRoutes::Step::allocate ? "MCC_ALLOCATE" : "MCC_TIMESLOT", error);
  }
  return fd;
}

Fd IsdnFactory::OpenDspDataChannel(int& channel) {
  // The descriptor's first request takes its signalling channel from the controller's; when
  // none is free, channels kept only for a release grace are given back first, as for the
  // channels that other creates allocate.
  bool opened = true;
  Fd fd = SwitchRoutes::for_new_owner(
      [&](int& number) {
        Fd dev(board::open(board::dspdata::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC));
        if (!dev) {
          opened = false;
          return dev;
        }
        number = SwitchRoutes::allocate([&] { return board::ioctl_value(dev.get(), board::dspdata::DSPDATA_TIMESLOT, 0); });
        if (number >= 0) return dev;
        return Abandoned(dev);
      },
      channel);
  if (!fd) {
    int error = errno;
    if (!opened)
      std::cerr << ext::header(this) << "fail to open dsp-data device: " << std::strerror(error) << std::endl;
    else
      Refused("DSPDATA_TIMESLOT", error);
  }
  return fd;
}

Slot* IsdnFactory::Refused(const char* what, int error) {
  std::cerr << ext::header(this) << what << " fail: " << std::strerror(error) << std::endl;
  return nullptr;
}

Slot* IsdnFactory::Held(IsdnSlot* slot) {
  if (slot->Complete()) return slot;
  const int error = errno;
  delete slot;
  return Refused("watch", error);
}

Slot* IsdnFactory::NewAtsQsigSlot(LGCP::AtsQsigParams const& params) {
  int channel = -1;
  Fd fd = OpenDspDataChannel(channel);
  if (!fd) return nullptr;
  auto lapd = std::make_unique<ISDN::LAPD>(ISDN::Side::user, 0);
  lapd->traceLevel = static_cast<uint32_t>(params.get_log().getValue());
  lapd->side = side_of(params.get_side());
  lapd->id = static_cast<uint32_t>(channel);
  return Held(new AtsQsigSlot(std::move(fd), channel, lapd.release()));
}

Slot* IsdnFactory::NewAtsQsigBSlot(LGCP::AtsQsigBParams const& params) {
  auto* ats = dynamic_cast<AtsQsigSlot*>(FindSlot(params.get_slot().getValue()));
  if (!ats || params.get_subslot().getValue() == 0) return nullptr;
  return ats->NewBChannel(params.get_subslot().getValue() - 1);
}
