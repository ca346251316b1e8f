#include "slots/LinkMessages.h"

#include <algorithm>

#include "control/Protocol.h"
#include "foundation/Packet.h"
#include "hardware/HDLC.h"
#include "links/LAPD.h"
#include "slots/Slot.h"

bool SendDown(Protocol& stack, std::vector<char> const& bytes) {
  Packet p;
  stack.prepare_head(p);
  if (p.is_null()) p.reserve_head(0);
  if (bytes.size() > p.tailroom()) return false;
  if (!bytes.empty()) std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(p.put(static_cast<unsigned>(bytes.size()))));
  stack.message(p);
  return true;
}

std::vector<char> BytesOf(Packet const& p) {
  p.passert(!p.is_null(), "null packet");
  auto* d = reinterpret_cast<const char*>(p.data());
  return std::vector<char>(d, d + p.length());
}

bool IsdnLinkInfo(ISDN::LAPD const& link, LGCP::IoctlResponse& r) {
  auto& info = r.select_isdnLinkInfo();
  info.set_side(link.side == ISDN::Side::network ? ACP::IsdnSide::network : ACP::IsdnSide::user);
  return link.GetInfo(info);
}

void HdlcLinkInfo(HDLC const& channel, LGCP::IoctlResponse& r) {
  auto& info = r.select_hdlcLinkInfo();
  info.get_txSU().setUnsigned(channel.txSU);
  info.get_txDiscard().setUnsigned(channel.txDiscard);
  info.get_txError().setUnsigned(channel.txError);
  info.get_txOverflow().setUnsigned(channel.txOverflow);
  info.get_rxSU().setUnsigned(channel.rxSU);
}

void PassTrunkStatus(std::vector<Slot*> const& slots, LGCP::Signal const& signal) {
  if (!signal.is_trunkStatus()) return;
  auto const& status = signal.get_trunkStatus();
  auto trunk = static_cast<unsigned>(status.get_trunk().getValue());
  auto state = status.get_state().asNamedNumber();
  auto now = slots;  // a slot may leave the list while it is told
  for (Slot* s : now) s->OnTrunkStatus(trunk, state);
}
