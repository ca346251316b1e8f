#include "foundation/TimerEvent.h"

#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"

TimerEvent::~TimerEvent() { reset(); }

void TimerEvent::schedule(unsigned ms) {
  due = Mux::milliseconds() + ms;
  multiplexer.set(this, ms);
}

void TimerEvent::reset() { multiplexer.reset(this); }
