#include "slots/LinkMessages.h"

#include <algorithm>

#include "control/Protocol.h"
#include "foundation/Packet.h"
#include "links/LAPD.h"

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
  if (link.side == ISDN::Side::network) info.get_side().select_network();
  else info.get_side().select_user();
  return link.GetInfo(info);
}
