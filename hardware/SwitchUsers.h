#pragma once
// The live users of each switch output and each one's own wish for it: a route from a source (a
// sink's connection, an HDLC channel patched to its timeslot) or the output open on the idle byte
// (an activated ext slot, a sink whose source went). Several live slots can hold one output: the
// mixer ports of one channel, ext slots naming one receiver or a trunk slot's timeslot, HDLC data
// slots on one trunk timeslot. The output carries the newest route among its users' wishes, else
// the idle byte while one keeps it open; the user that leaves it last gets the clean-up it asks
// for. A user alone on its output has its requests sent as it makes them; on a shared one, only
// what changes the output is sent, so that no user takes away what another one still uses.
//
// The requests go through HwMux; a route given back to a user that the switch refuses stays
// wanted in the switch model, which sends it once the switch takes requests. A released source's
// routes are no one's wish any more (released()); SwitchRoutes gives their outputs back.
#include <cstddef>
#include <optional>

#include "hardware/SwitchModel.h"

class SwitchUsers {
 public:
  using State = SwitchModel::State;

  // user's wish is the route from source: made now, unless the output is shared and the switch
  // carries it already. False, with nothing recorded and the output as it was, when refused.
  static bool route(int output, const void* user, int source);
  // user's wish on the output and where it stood among the others', taken before a change that
  // may fail (a sink given another source).
  struct Saved {
    int output = -1;
    const void* user = nullptr;
    std::optional<State> wish;
    std::size_t place = 0;
  };
  static Saved save(int output, const void* user);
  // The change failed: user's wish is back as it was and where it was, so that an older route
  // does not take the output from a newer one by a failure, and the output goes to what its
  // users wish. A route the switch refuses stays wanted: the switch model makes it once the
  // switch takes requests. False when the switch refused.
  static bool restore(const Saved& saved);
  // user keeps the output open: on the idle byte, unless a route holds it (the user's own
  // included: opening it again does not cut the route it has). False when the switch refused.
  static bool open(int output, const void* user);
  // user's route goes (a disconnect): the user keeps the output open, and it goes to the newest
  // route left, else idle. False when the switch refused (the change stays owed).
  static bool unroute(int output, const void* user);
  // user leaves the output: it goes to what the others wish, and is disabled when no user is
  // left. False when the switch refused (the change stays owed).
  static bool leave(int output, const void* user);
  // user's wishes go without a request of their own: an output that another user holds goes to
  // what that one wishes, one that no user holds is left as it is (the user's clean-up was made).
  static void forget(const void* user);
  static void forget(int output, const void* user);
  // source was released: the wishes routing from it, and every wish on its own input, are no
  // one's any more.
  static void released(int source);

  // What the output's users wish it to carry: the newest route, else the idle byte; none when no
  // user holds it.
  static State wished(int output);
  // True when user's wish is the route from source, the newest route its output's users wish, and
  // the switch carries it (an older user's route from the same source is not the current one).
  static bool carries(int output, const void* user, int source);
  // True when the output carries user's route, the newest of its users' wishes.
  static bool current(int output, const void* user);
  // Brings the output to what its users wish; nothing when no user holds it. An output in a
  // grace keeps it unless a route is wished (given at once); it ends on the idle byte.
  static bool apply(int output);
};
