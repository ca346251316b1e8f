#include "control/Protocol.h"

#include "control/ProtocolsList.h"
#include "foundation/Packet.h"

Protocol::~Protocol() {
  if (owner) owner->unlink(this);
}

void Protocol::local_prepare_head(Packet& p) { p.reserve_head(0); }
void Protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

Protocol_status Protocol::local_initialize() {
  return Protocol_status(new Protocol_status_success(this, "success"));
}

void Protocol::local_activate() { on_activate(); }

void Protocol::local_deactivate() {
  on_deactivate(Protocol_status(new Protocol_status_success(this, "success")));
}

void Protocol::transmit(Packet& p) {
  if (prev) prev->message(p);
  else if (owner) owner->transmit(p);
}

void Protocol::on_message(Packet& p) {
  if (next) next->receive(p);
  else if (owner) owner->on_message(p);
}

void Protocol::on_activate() {
  if (next) next->local_activate();
  else if (owner) owner->on_activated(this);
}

void Protocol::on_deactivate(Protocol_status status) {
  // An orderly stop runs down to the bottom layer, which reports it; a failure climbs to the
  // top layer, which reports it.
  if (status->success()) {
    if (prev) prev->deactivate();
    else if (owner) owner->on_deactivated(this, status);
  } else {
    if (next) next->on_deactivate(status);
    else if (owner) owner->on_deactivated(this, status);
  }
}

void Protocol::on_status(Protocol_status status) {
  if (next) next->on_status(status);
  else if (owner) owner->on_status(status);
}

void Protocol::activate() {
  if (prev) prev->activate();
  else local_activate();
}

void Protocol::deactivate() { local_deactivate(); }

Protocol_status Protocol::initialize() {
  if (prev) {
    Protocol_status r = prev->initialize();
    if (!r->success()) return r;
  }
  return local_initialize();
}

void Protocol::descend_prepare_head(Packet& p) {
  if (prev) prev->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p) {
  if (prev) prev->prepare_tail(p);
}

void Protocol::prepare_head(Packet& p) {
  descend_prepare_head(p);
  local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p) {
  descend_prepare_tail(p);
  local_prepare_tail(p);
}
