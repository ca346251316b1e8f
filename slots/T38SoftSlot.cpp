#include "slots/T38SoftSlot.h"

#include <signal.h>

#include <iostream>
#include <utility>

#include "slots/ChildLauncher.h"

T38SoftSlot::T38SoftSlot(int pid, int timeslot, Fd channel)
    : pid(pid), timeslot(timeslot), channel(std::move(channel)) {
  childWait.Bind(this, &T38SoftSlot::OnT38Terminate);
  childWait.Attach(pid);
}

// A route of the channel that the switch has not taken down yet keeps it from the next slot,
// however long the engine takes to end.
T38SoftSlot::~T38SoftSlot() { HandOverChannel(timeslot, channel); }

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
  // The engine's channel would go back to the board with it: its paths go now, and the slot's
  // descriptor keeps the channel only until none of them stands.
  LoseChannel();
  HandOverChannel(timeslot, channel);
  OnAbort(status);
}
