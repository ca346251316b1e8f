#pragma once
// A Unix-domain control connection that listens on a socket path and serves one peer at a
// time; the counterpart of AcceptorNet.

#include <string>

#include "control/AcceptorBase.h"
#include "control/ServiceUnix.h"

namespace Control {

class AcceptorUnix : public AcceptorBase<AcceptorUnix, ServiceUnix> {
 public:
  AcceptorUnix();
  explicit AcceptorUnix(const std::string& path);

  const std::string& path() const { return path_; }

 protected:
  std::string path_;

 private:
  friend class AcceptorBase<AcceptorUnix, ServiceUnix>;
  int NewSocket();
  void SetSocketOptions() {}
  // A socket file left at the path (by an earlier run, say) is removed before each attempt.
  bool BindAddress();
  // The peer is named by its socket path (empty for an unnamed peer).
  int AcceptPeer(std::string& peer);
};

extern template class AcceptorBase<AcceptorUnix, ServiceUnix>;

}  // namespace Control
