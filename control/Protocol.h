#pragma once
// One layer of a protocol stack on packets: data goes down through message/transmit and up
// through receive/on_message; activation runs bottom-up, failures climb as status objects.

#include <ostream>

#include "control/Protocol_name.h"
#include "control/Protocol_status.h"
#include "foundation/F_dual_list.h"

class Packet;
class ProtocolsList;

// Naming base of every layer; no layer overrides it, so every layer prints as "(no name)".
class Protocol_info {
 public:
  virtual ~Protocol_info() = default;
  virtual bool compare_name(const Protocol_name&) const { return false; }
  virtual const Protocol_name& name() const { return null_name_; }

 private:
  Protocol_name_null null_name_;
};

// next is the layer above ("upper"), prev the layer below ("lower"); owner the holding list.
class Protocol : public F_dual_list_item<Protocol>, public Protocol_info {
 public:
  Protocol() = default;
  Protocol(const Protocol&) = delete;
  Protocol& operator=(const Protocol&) = delete;
  ~Protocol() override;

  virtual void local_prepare_head(Packet& p);
  virtual void local_prepare_tail(Packet& p);
  virtual Protocol_status local_initialize();
  virtual void local_activate();
  virtual void local_deactivate();

  virtual void transmit(Packet& p);
  virtual void on_message(Packet& p);
  virtual void on_activate();
  virtual void on_deactivate(Protocol_status status);
  virtual void on_status(Protocol_status status);

  virtual void message(Packet&) {}
  virtual void receive(Packet&) {}

  virtual void activate();
  virtual void deactivate();
  virtual void protocol_info(std::ostream&) const {}

  Protocol_status initialize();
  void prepare_head(Packet& p);
  void prepare_tail(Packet& p);

  Protocol* upper() const { return next; }
  Protocol* lower() const { return prev; }

  ProtocolsList* owner = nullptr;

 protected:
  void descend_prepare_head(Packet& p);
  void descend_prepare_tail(Packet& p);
};
