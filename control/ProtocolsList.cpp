#include "control/ProtocolsList.h"

ProtocolsList::~ProtocolsList() {
  while (Protocol* p = remove_from_tail()) {
    p->owner = nullptr;
    p->next = p->prev = nullptr;
    delete p;
  }
}

void ProtocolsList::add_protocol_head(Protocol* p) {
  insert_to_head(p);
  p->owner = this;
}

void ProtocolsList::add_protocol_tail(Protocol* p) {
  insert_to_tail(p);
  p->owner = this;
}

Protocol* ProtocolsList::search(const Protocol_name& name) const {
  for (Protocol* p = first(); p; p = p->next)
    if (p->compare_name(name)) return p;
  return nullptr;
}

void ProtocolsList::unlink(Protocol* p) {
  remove(p);
  p->owner = nullptr;
  p->next = p->prev = nullptr;
}
