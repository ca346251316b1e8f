#pragma once
// A control connection over a Unix-domain stream socket, named by the peer's socket path.

#include "control/ControlService.h"

namespace Control {

class ServiceUnix : public Service {
 protected:
  void Connected(const Fd& socket, const std::string& path) {
    if (state_ == State::Deactivating) return;
    SetupConnection(socket, path);
  }
};

}  // namespace Control
