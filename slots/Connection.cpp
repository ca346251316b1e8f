#include "slots/Connection.h"

#include <iostream>

#include "hardware/SwitchRoutes.h"
#include "hardware/SwitchUsers.h"
#include "slots/Slot.h"

namespace {

bool DefaultPath(Slot& src, Slot& dst) { return src.GetConnectionPriority() == 0 && dst.GetConnectionPriority() == 0; }

// The hardware path of a connection the slots keep is there. The default path is asked of the
// switch; a kind that makes its paths itself answers for them.
bool PathStands(Slot& src, Slot& dst) {
  if (src.GetConnectionPriority() > dst.GetConnectionPriority()) return src.IHwTransmitterStands(dst);
  if (!DefaultPath(src, dst)) return dst.IHwReceiverStands(src);
  return SwitchUsers::carries(dst.IGetReceiveChannel(), &dst, src.IGetTransmitChannel());
}

// The side that would make the path takes src (a kind that makes its paths itself judges it).
bool Accepted(Slot& src, Slot& dst) {
  return src.GetConnectionPriority() > dst.GetConnectionPriority() || DefaultPath(src, dst) ||
         dst.IHwAcceptsSource(src);
}

// A new source failed: dst gets its path from old back. On the default path its wish goes back
// as it stood among those of the other slots on its channel (a failed connect does not make its
// older route the newest), and a route the switch refuses stays wanted: the switch model makes
// it as soon as the switch takes requests, so that the link the daemon holds is the one the
// switch carries.
bool PutBack(Slot& old, Slot& dst, const SwitchUsers::Saved& saved) {
  return DefaultPath(old, dst) ? SwitchUsers::restore(saved) : llConnect(old, dst);
}

}  // namespace

bool Connect(Slot& src, Slot& dst) {
  // Connected already: a success means the path is there. One the switch lost (or another slot
  // of the channel took since) is made again, and nothing else changes.
  if (dst.source == &src) return PathStands(src, dst) || llConnect(src, dst);
  // A slot that lost its channel has nothing to switch: its number may serve another call.
  for (Slot* s : {&src, &dst}) {
    if (s->channelLost) {
      std::cerr << "slot " << *s << " holds no channel, no connection " << src << " -> " << dst << std::endl;
      return false;
    }
  }
  // A source the sink will refuse changes nothing: its old path stays as it is.
  if (!Accepted(src, dst)) return false;
  if (src.sinks.empty()) {
    if (!src.IOnOutputStream()) {
      std::cerr << "slot " << src << " don't have output stream to " << dst << std::endl;
      return false;
    }
    src.OnChangeOutputStream(true);
  }
  Slot* const old = dst.source;
  const SwitchUsers::Saved saved = SwitchUsers::save(dst.IGetReceiveChannel(), &dst);
  if (!old) {
    if (!dst.IOnInputStream()) {
      std::cerr << "slot " << dst << " don't have input stream from " << src << std::endl;
      // The failed connect leaves nothing behind: an output started for it goes too.
      if (src.sinks.empty()) src.IOnOutputRelease();
      return false;
    }
    dst.OnChangeInputStream(true);
  } else {
    // The hardware path from the old source goes; the logical link stays until the new
    // path is made, so that a failure leaves dst with its old source.
    llDisconnect(dst);
  }
  if (!llConnect(src, dst)) {
    // A sink that had a source gets its old path back, so that the link it keeps is real.
    if (old && !PutBack(*old, dst, saved)) std::cerr << "slot " << dst << " lost its path from " << *old << std::endl;
    if (!dst.source) dst.IOnInputRelease();
    if (src.sinks.empty()) src.IOnOutputRelease();
    return false;
  }
  if (old) {
    dst.LogicalDisconnect();
    if (old->sinks.empty()) old->IOnOutputRelease();
  }
  dst.LogicalConnect(src);
  src.IOnOutputMade();
  dst.IOnInputMade();
  return true;
}

namespace {

// The logical half of a disconnect, once the hardware path is dealt with.
void Part(Slot& dst) {
  Slot* const old = dst.source;
  dst.LogicalDisconnect();
  dst.IOnInputRelease();
  if (old->sinks.empty()) old->IOnOutputRelease();
}

}  // namespace

bool Disconnect(Slot& dst) {
  if (!dst.source) return true;
  const bool result = llDisconnect(dst);
  // The slots part anyway; a path that the switch would not take down is left to the route
  // book, which takes it down as soon as the switch lets it.
  if (!result) SwitchRoutes::unwanted(dst.IGetReceiveChannel());
  Part(dst);
  return result;
}

bool llConnect(Slot& src, Slot& dst) {
  if (src.GetConnectionPriority() > dst.GetConnectionPriority()) return src.IHwConnectTransmitter(dst);
  return dst.IHwConnectReceiver(src);
}

bool llDisconnect(Slot& dst) {
  Slot* const src = dst.source;
  if (!src) return false;
  if (dst.GetConnectionPriority() > src->GetConnectionPriority()) return dst.IHwDisconnectReceiver(*src);
  return src->IHwDisconnectTransmitter(dst);
}

bool MuxConnect(Slot& src, Slot& dst) {
  const int tx = src.IGetTransmitChannel();
  const int rx = dst.IGetReceiveChannel();
  if (!SwitchUsers::route(rx, &dst, tx)) return false;
  std::clog << "mux: slot " << src << " [" << tx << "] -> " << dst << " [" << rx << "]" << std::endl;
  return true;
}

bool MuxDisconnect(Slot& dst) {
  const int rx = dst.IGetReceiveChannel();
  // A slot that lost its channel takes down only the route it made itself: the number may
  // have gone to a new owner already, whose routes are not this slot's to touch.
  if (dst.losingChannel && !SwitchUsers::current(rx, &dst)) {
    SwitchUsers::forget(rx, &dst);
    return true;
  }
  // The output goes to the route another live slot of the channel has, else idle. A link's
  // controller channel released before its sink is disconnected keeps the output for its
  // grace, so that what the link wrote going down still leaves; a refusal stays owed.
  if (!SwitchUsers::unroute(rx, &dst)) return false;
  std::clog << "mux: disconnect slot " << dst << " [" << rx << "]" << std::endl;
  return true;
}

bool DisconnectSinks(Slot& src) {
  for (size_t n = src.sinks.size(); n > 0; --n) {
    if (src.sinks.empty()) return false;
    Disconnect(*src.sinks.front());
  }
  return true;
}
