#include "foundation/Dpc.h"

#include "foundation/Multiplexer.h"

Dpc::~Dpc() {
  Deactivate();
  delete handler_;
}

void Dpc::Bind(DpcHandler* h) {
  if (h == handler_) return;
  delete handler_;
  handler_ = h;
}

void Dpc::Activate() {
  if (!active_) multiplexer.attach(this);
  active_ = true;
}

void Dpc::Deactivate() {
  if (active_) multiplexer.dettach(this);
  active_ = false;
}
