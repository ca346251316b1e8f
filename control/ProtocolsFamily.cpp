#include "control/ProtocolsFamily.h"

void ProtocolsFamily::local_prepare_head(Packet& p) {
  if (Protocol* t = top()) t->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p) {
  if (Protocol* t = top()) t->prepare_tail(p);
}

Protocol_status ProtocolsFamily::local_initialize() {
  if (Protocol* t = top()) return t->initialize();
  return Protocol_status(new Protocol_initialize_error(this));
}

void ProtocolsFamily::local_activate() {
  if (Protocol* t = top()) t->activate();
}

void ProtocolsFamily::local_deactivate() {
  if (Protocol* t = top()) t->deactivate();
}

void ProtocolsFamily::message(Packet& p) {
  if (Protocol* t = top()) t->message(p);
}

void ProtocolsFamily::receive(Packet& p) {
  if (Protocol* b = bottom()) b->receive(p);
}

void ProtocolsFamily::on_activated(Protocol* p) {
  if (p == top()) on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, Protocol_status status) { on_deactivate(status); }
