#pragma once
// The switch routes whose source can go away (a controller channel released, a slot
// destroyed), so that a released source leaves no route behind. The routes themselves are the
// switch model's wanted states (SwitchModel, kept by HwMux); this book adds what a release
// needs: the grace of a released channel's outputs, and the descriptors that keep released
// channels from a later owner.
//
// Releasing a source disables its own input at once, whoever's grace fed it. The outputs it
// feeds stay patched for a short grace period only while the channel is still held: what an
// owner writes while going down (a DISC, out-of-service units) leaves the controller over the
// next milliseconds, through the switch. The grace is a wanted state with a deadline, so a
// later wish for the output (a new owner's) replaces it. The owner hands the descriptor that
// holds the channel over with the release, and the book keeps it until no route into or out
// of the channel stands or is still wanted, so that the channel cannot be given to a later
// owner whose frames would reach the old timeslot. A channel that was given back already may
// have a new owner at any moment: its outputs go at once. A takedown the switch refuses stays
// owed in the model, and HwMux sends it again until it holds; the kept channel stays kept
// meanwhile. A kept descriptor that the board hung up (the channel was taken back) ends its
// grace at once, and a channel handed out by allocate() is claimed.
//
// The board knows nothing of routes: it hands out any channel that no descriptor holds, one it
// took back from an owner included. So every owner that gets a channel from the board asks
// for_new_owner(), which hands it only a channel that no route touches.
#include <cerrno>
#include <cstddef>
#include <vector>

#include "foundation/Fd.h"

namespace board::mcc {
struct Allocate;
}

class SwitchRoutes {
 public:
  // At 64 kbit/s a 260-octet frame leaves in 33 ms: the few frames a link writes while going
  // down, and what the controller still queued before them, are out well within this.
  static constexpr unsigned kGraceMs = 500;
  // A refused takedown is tried again after this (the switch's own retry, HwMux::kRetryMs),
  // then at twice the last interval: soon when the switch was only busy, without flooding the
  // log when it stays so.
  static constexpr unsigned kRetryMs = 10;

  // source now feeds output (both switch numbers; negative ones are ignored). A released source
  // patched again has a new owner: its old routes go.
  static void made(int source, int output);
  // The switch took owed requests: kept channels whose routes are all down are given back.
  static void settle();
  // source is gone: its input is disabled now. held is a descriptor that still holds the
  // channel (the book owns it from now on and closes it once every route of the channel is
  // down): the outputs the channel feeds go after the grace period. Without one (-1) the
  // channel may already be another's, and they go at once. An output that another live user
  // wants a route on (SwitchUsers) goes to that route at once.
  // grace false: the owner wrote nothing that must still leave, and its routes go at once;
  // held then only keeps the channel while a takedown the switch refused stands.
  // with: channels that go with held (B channels of a signalling descriptor), kept alike.
  // An output that a live user keeps on the idle byte ends on it, after the grace or at once.
  static void release(int source, int held = -1, bool grace = true, std::vector<int> with = {});
  // channel's owner gives it up: its output is disabled, whatever fed it, and every route into
  // or out of it goes now, as by release(channel, held, false). True when all went at once.
  static bool give_up(int channel, int held);
  // output's route is no longer wanted (its slot went) but the switch refused to set it idle:
  // idle is what the output wants now (unless a later wish replaced it, or a live user still
  // wants a route there), and the switch model sends it until it holds; neither its source nor
  // output is given back to a later owner until it is down.
  static void unwanted(int output);
  // For held: the channel stays with a holder outside the daemon (a network interface) that
  // hands it to no one else by itself. Its outputs keep the grace; claimed() ends it as soon as
  // that holder serves a new owner.
  static constexpr int kHeldElsewhere = -2;
  // source has a new owner: every route it fed before its release goes now, grace or not.
  static void claimed(int source);
  // Routes not yet down: waiting for a grace period to end, or takedowns owed to a switch that
  // refused them.
  static std::size_t releasing();
  // Channels kept for routes of theirs that are not yet down.
  static std::size_t holding();
  // output's owner disconnects it. True when it still carries a released source's last frames:
  // it is then set idle at the end of the grace (or when the source is patched again), not now.
  static bool idle_after_grace(int output);
  // Ends every grace period now and gives back the channels kept for them; for an owner that
  // finds no channel free. True when a channel was given back.
  static bool end_grace();
  // MCC_ALLOCATE of block on fd, for every owner of a controller channel: when no channel is
  // free, the ones kept for the grace are given back early and the request is made once more.
  // The channel handed out is claimed. The ioctl's result, errno set on failure.
  static int allocate(int fd, board::mcc::Allocate& block);
  // The same for any request that takes a controller channel: request() returns the channel
  // handed out, negative with errno ENOSPC when no channel is free.
  template <class Request>
  static int allocate(Request request) {
    notice_hangups();
    int r = request();
    if (r < 0 && errno == ENOSPC && end_grace()) r = request();
    if (r >= 0) claimed(r);
    return r;
  }
  // The one rule for a channel that goes to a new owner (a slot, a controller-named timeslot):
  // no route into or out of it stands on the switch or is still wanted (a takedown owed, a
  // grace running, a route to be made again after a reset).
  static bool free_for_new_owner(int channel);
  // The rule for a channel the controller names (a trunk timeslot, a mixer channel) for a new
  // slot, which a live slot's routes may touch by design: a released channel's last frames
  // through it end now (the new slot has it), and it is free unless a route of an earlier owner
  // still touches it — a takedown the switch has not taken (or may not have, after it was
  // reopened). False: it is not free.
  static bool claim_named(int channel);
  // held, a descriptor just given `channel` for a new owner, is kept aside while a route of an
  // earlier owner still touches the channel, and closed once none does; the board gives the new
  // owner another channel meanwhile.
  static void keep_aside(int channel, int held);
  // At most this many channels kept aside for one create: more than the board has of any kind,
  // so that only a board that hands back what is kept aside (hanging each up as it goes) meets
  // it.
  static constexpr int kAsideMax = 1024;
  // A channel for a new owner. take(channel) opens a descriptor, has the board allocate a
  // channel on it and returns the descriptor (empty on failure, errno set), the number in
  // channel. A channel that fails free_for_new_owner() is kept aside, which keeps the board
  // from handing it out again, and take() asked again: the loop ends with a free channel or
  // with the board's refusal once it has none left (or, past kAsideMax, an empty descriptor
  // with errno ENOSPC).
  template <class Take>
  static Fd for_new_owner(Take take, int& channel) {
    for (int kept = 0; kept < kAsideMax; ++kept) {
      Fd fd = take(channel);
      if (!fd || free_for_new_owner(channel)) return fd;
      keep_aside(channel, fd.release());
    }
    channel = -1;
    errno = ENOSPC;
    return Fd();
  }
  // The step of controller_channel() that failed.
  enum class Step { open, allocate, timeslot };
  // A controller channel for a new owner, by for_new_owner(): the controller device opened with
  // flags, block allocated on it by allocate(), its number in channel. Empty on failure, errno
  // set and the step that failed in failed.
  static Fd controller_channel(int flags, board::mcc::Allocate& block, int& channel, Step& failed);
  // Kept descriptors that the board hung up: their channels were taken back and may go to a
  // new owner, so their graces end now and the descriptors are closed.
  static void notice_hangups();
};
