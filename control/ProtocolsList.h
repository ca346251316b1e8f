#pragma once
// An ordered stack of layers that it owns: the head is the bottom layer, the tail the top.

#include "control/Protocol.h"

class ProtocolsList : public Protocol, private F_dual_list<Protocol> {
 public:
  ProtocolsList() = default;
  ~ProtocolsList() override;

  virtual void on_activated(Protocol*) {}
  virtual void on_deactivated(Protocol*, Protocol_status) {}
  virtual void add_protocol_head(Protocol* p);
  virtual void add_protocol_tail(Protocol* p);

  // The first layer from the bottom whose compare_name accepts the name, else null.
  Protocol* search(const Protocol_name& name) const;

  Protocol* bottom() const { return F_dual_list<Protocol>::first(); }
  Protocol* top() const { return F_dual_list<Protocol>::last(); }
  unsigned layers() const { return F_dual_list<Protocol>::count(); }

 private:
  friend class Protocol;
  // Called by a layer that is destroyed while the list still holds it.
  void unlink(Protocol* p);
};
