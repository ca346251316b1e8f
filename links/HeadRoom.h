#pragma once
// Room in front of a layer-3 message for the link header put before it when it is sent.
#include "foundation/Packet.h"

namespace ISDN {

// A message made without head room gets it from its tail room (the data moves); false when
// the buffer has no room at all, and the message cannot be sent.
inline bool make_head_room(Packet& p, unsigned room) {
  if (p.headroom() >= room) return true;
  unsigned more = room - p.headroom();
  if (p.tailroom() < more) return false;
  p.reserve_head(more);
  return true;
}

}  // namespace ISDN
