#include "control/CtrlSrvService.h"

#include <iostream>

#include "control/CtrlSrvServer.h"

namespace CtrlSrv {

bool Service::bound() const {
  if (server) return true;
  std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
  return false;
}

void Service::Success() {
  if (bound()) server->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (bound()) server->Error(cause);
}

void Service::OfferToOthers(LGCP::Signal const& signal) {
  // A copy of the list: a service may bind another one from its OnSignal.
  const std::vector<Service*> services = server->services();
  for (Service* s : services)
    if (s != this) s->OnSignal(signal);
}

void Service::SendSignal(LGCP::Signal const& signal) {
  if (!bound()) return;
  OfferToOthers(signal);
  server->SendSignal(signal);
}

bool Service::SendSignal(unsigned int slot, LGCP::Signal const& signal) {
  if (!bound()) return false;
  OfferToOthers(signal);
  return server->SendSignal(slot, signal);
}

unsigned int Service::GetSlot() const { return server ? server->GetSlot() : Server::no_slot; }

bool Service::IsSlotPresent() const { return server && server->GetSlot() != Server::no_slot; }

Seq Service::delayResponse() {
  if (!bound()) return std::nullopt;
  return server->delayResponse();
}

void Service::delayedSuccess(unsigned int slot, Seq seq) {
  if (bound()) server->delayedSuccess(slot, seq);
}

void Service::HoldController(bool hold) {
  if (server) server->HoldController(hold);
}

bool Service::CheckServerConnection(bool& connected) const {
  return server && server->CheckServerConnection(connected);
}

}  // namespace CtrlSrv
