#pragma once
// The switch routes whose source can go away (a controller channel released, a slot
// destroyed), so that a released source leaves no route behind. An output is noted with its
// source when patched and forgotten when patched again or disconnected: releasing a source
// never touches an output that another slot took over since.
//
// Releasing a source disables its own input at once. The outputs it feeds stay patched for a
// short grace period: what an owner writes while going down (a DISC, out-of-service units)
// leaves the controller over the next milliseconds, through the switch. They are disabled when
// the grace runs out, or at once when the same channel is patched onto an output again, so
// that a later owner's frames never reach the old timeslot. An output that its owner
// disconnects meanwhile is set idle then instead, as a disconnected output is.
#include <cstddef>

class SwitchRoutes {
 public:
  // At 64 kbit/s a 260-octet frame leaves in 33 ms: the few frames a link writes while going
  // down, and what the controller still queued before them, are out well within this.
  static constexpr unsigned kGraceMs = 500;

  // source now feeds output (both switch numbers; negative ones are ignored).
  static void made(int source, int output);
  // output no longer carries what was noted for it.
  static void taken(int output);
  // source is gone: its input is disabled now, the outputs it feeds after the grace period.
  static void release(int source);
  // Outputs of released sources still waiting for their grace period to end.
  static std::size_t releasing();
  // output's owner disconnects it. True when it still carries a released source's last frames:
  // it is then set idle at the end of the grace (or when the source is patched again), not now.
  static bool idle_after_grace(int output);
};
