#pragma once
// Base of every command service bound to the control server: the server offers each command
// to its services in bind order, and a service answers through the forwarding operations here.
#include <cstdint>
#include <optional>

#include "asn1/schemas/LGCP.h"

namespace CtrlSrv {

class Server;

class Service {
 public:
  Service() = default;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  virtual ~Service() = default;

  // A controller connection came up or was lost.
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // True when the service takes the command (and answers it, now or later).
  virtual bool OnCommand(LGCP::Command const& command) = 0;
  // A signal that another bound service is about to send to the controller.
  virtual void OnSignal(LGCP::Signal const&) {}

  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  void SendSignal(LGCP::Signal const& signal);
  // False when it did not go out (unbound, not encoded, no connection).
  bool SendSignal(unsigned int slot, LGCP::Signal const& signal);
  unsigned int GetSlot() const;
  bool IsSlotPresent() const;
  // No seq when unbound.
  std::optional<int32_t> delayResponse();
  void delayedSuccess(unsigned int slot, std::optional<int32_t> seq);
  bool CheckServerConnection(bool& connected) const;
  // While held, the server takes no new controller (see Server::HoldController).
  void HoldController(bool hold);

  Server* server = nullptr;

 private:
  bool bound() const;
  void OfferToOthers(LGCP::Signal const& signal);
};

}  // namespace CtrlSrv
