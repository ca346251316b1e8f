#pragma once
// A controller connection over one end of a socket pair, connected as soon as it is activated.
#include "control/ServiceUnix.h"
#include "foundation/Fd.h"

namespace srvtest {

class PairConnection : public Control::ServiceUnix {
 public:
  explicit PairConnection(int fd) : fd_(fd) {}
  bool ImplActivate() override {
    Fd f(fd_);
    f.NonBlock();
    Connected(f, "pair");
    return true;
  }
  void ImplDeactivate() override { Release(); }
  void ImplOnDisconnect() override {}

 private:
  int fd_;
};

}  // namespace srvtest
