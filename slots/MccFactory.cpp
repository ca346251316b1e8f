#include "slots/MccFactory.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "board/mcc.h"
#include "foundation/Fd.h"
#include "hardware/SwitchRoutes.h"
#include "slots/MccSlot.h"

void MccFactory::PutHeader(std::ostream& os) const { os << "mcc: "; }

Slot* MccFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.getID() != LGCP::CreateParams::e_mcc) return nullptr;
  const LGCP::MccParams& p = params.get_mcc();
  const int type = p.get_type().getValue();
  if (type < 0 || type > 2) return nullptr;
  board::mcc::Allocate block;
  // Signalling System 7 channels are their own kind, whatever type was asked for.
  block.type = p.get_mode().getValue() == LGCP::MccMode::ss7 ? board::mcc::kTypeSs7 : static_cast<uint32_t>(type);
  block.rx_packet_size = kRxPacketSize;
  block.reserved = 0;
  block.rx_threshold = 1;
  block.tx_threshold = 1;
  PutHeader(std::clog);
  std::clog << "MCC_ALLOCATE" << " type=" << static_cast<uint32_t>(block.type) << std::endl;
  int timeslot = -1;
  SwitchRoutes::Step failed;
  Fd channel = SwitchRoutes::controller_channel(O_RDWR | O_NONBLOCK | O_CLOEXEC, block, timeslot, failed);
  if (!channel) {
    const int error = errno;
    if (failed != SwitchRoutes::Step::allocate) PutHeader(std::cerr);
    if (failed == SwitchRoutes::Step::open) std::cerr << "fail to open MCC device: ";
    else if (failed == SwitchRoutes::Step::allocate) std::cerr << "MCC_ALLOCATE fail: ";
    else std::cerr << "MCC_TIMESLOT fail: ";
    std::cerr << std::strerror(error) << std::endl;
    return nullptr;
  }
  auto* slot = new MccSlot(channel.get(), timeslot);
  if (!slot->Complete()) {
    const int error = errno;
    PutHeader(std::cerr);
    std::cerr << "can not hold the channel: " << std::strerror(error) << std::endl;
    delete slot;
    return nullptr;
  }
  return slot;
}

void MccFactory::Query(LGCP::Resources& r) {
  r.set_mcc_data(0);
  r.set_mcc_bri(0);
  r.set_mcc_trans(0);
  Fd device(board::open(board::mcc::kPath, O_RDONLY | O_CLOEXEC));
  board::mcc::Resources counts;
  if (!device || board::ioctl(device.get(), board::mcc::MCC_RESOURCES, &counts) < 0) return;
  r.set_mcc_data(static_cast<int>(counts.data));
  r.set_mcc_bri(static_cast<int>(counts.bri));
  r.set_mcc_trans(static_cast<int>(counts.transparent));
}
