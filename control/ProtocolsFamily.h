#pragma once
// A stack of layers that acts as one layer: it can sit inside another stack or under an owner,
// which hears its members through on_activated, on_deactivated and on_message.

#include "control/ProtocolsList.h"

class ProtocolsFamily : public ProtocolsList {
 public:
  ProtocolsFamily() = default;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  Protocol_status local_initialize() override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status status) override;
};
