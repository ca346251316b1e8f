#include "slots/T38SoftSlot.h"

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "slots/ChildLauncher.h"

T38SoftSlot::T38SoftSlot(int pid, int timeslot, Fd channel)
    : pid(pid), timeslot(timeslot), channel(std::move(channel)) {
  childWait.Bind(this, &T38SoftSlot::OnT38Terminate);
  childWait.Attach(pid);
  // Only a hang-up or an error is asked for: the frames are the engine's business.
  watch.Bind("T38SoftSlot::OnChannelEvent", &T38SoftSlot::OnChannelEvent, this);
  if (!watch.Schedule(this->channel, 0)) std::cerr << "t38 soft: fail to watch the channel: " << std::strerror(errno) << std::endl;
}

// A route of the channel that the switch has not taken down yet keeps it from the next slot,
// however long the engine takes to end.
T38SoftSlot::~T38SoftSlot() {
  watch.Release();
  HandOverChannel(timeslot, channel);
}

void T38SoftSlot::PutHeader(std::ostream& os) const {
  Put(os);
  os << ": ";
}

void T38SoftSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy() {
  if (pid >= 1) ChildLauncher::current->Kill(pid, SIGTERM);
  return true;
}

void T38SoftSlot::OnT38Terminate(int status) {
  if ((status & 0x7F) == 0) {
    PutHeader(std::clog);
    std::clog << "t38 daemon terminated with code=" << ((status >> 8) & 0xFF) << std::endl;
  } else if ((status & 0xFF) != 0x7F) {
    PutHeader(std::clog);
    std::clog << "t38 daemon terminated by signal=" << (status & 0x7F) << std::endl;
  }
  pid = -1;
  engineEnd.reset();
  watch.Release();
  // The engine's channel would go back to the board with it: its paths go now, and the slot's
  // descriptor keeps the channel only until none of them stands.
  LoseChannel();
  HandOverChannel(timeslot, channel);
  OnAbort(status);
}

void T38SoftSlot::OnChannelEvent(int, short revents) {
  if (!(revents & (POLLHUP | POLLERR | POLLNVAL)) || channelLost) return;
  watch.Release();
  PutHeader(std::cerr);
  std::cerr << "channel taken back by the board" << std::endl;
  // Its paths go now; the number may be another's already, so the descriptor keeps nothing.
  LoseChannel();
  channel.close();
  // The engine reads the same channel's end and stops, or is stopped; its end reports the abort.
  if (pid >= 1) engineEnd.set(kEngineEndMs, &T38SoftSlot::StopEngine, this);
}

void T38SoftSlot::StopEngine() {
  if (pid < 1) return;
  PutHeader(std::cerr);
  std::cerr << "t38 daemon still runs on a lost channel, terminated" << std::endl;
  ChildLauncher::current->Kill(pid, SIGTERM);
}
