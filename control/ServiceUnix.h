#pragma once
// A control connection over a Unix-domain stream socket, named by the peer's socket path.

#include <string>

#include "control/ControlService.h"

namespace Control {

class ServiceUnix : public Service {
 public:
  using Peer = std::string;

  static const std::string& NameOf(const std::string& path) { return path; }

 protected:
  bool Connected(const Fd& socket, const std::string& path) {
    if (state_ == State::Deactivating) return false;
    return SetupConnection(socket, path);
  }
};

}  // namespace Control
