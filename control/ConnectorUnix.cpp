#include "control/ConnectorUnix.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "control/UnixAddress.h"

namespace Control {

ConnectorUnix::ConnectorUnix() {
  connect_event_.Bind("ConnectorUnix::OnSocketEvent", &ConnectorUnix::OnSocketEvent, this);
}

ConnectorUnix::ConnectorUnix(const std::string& remote) : ConnectorUnix() { remote_ = remote; }

ConnectorUnix::ConnectorUnix(const std::string& remote, const std::string& local)
    : ConnectorUnix() {
  remote_ = remote;
  local_ = local;
}

void ConnectorUnix::TryConnect() {
  if (!OpenSocket(AF_UNIX, 0, "domain socket")) return;
  if (!local_.empty()) {
    ::unlink(local_.c_str());
    if (UnixAddress::bind(connect_socket_.get(), local_) != 0)
      std::cerr << "can't bind to domain socket '" << local_ << "': \"" << std::strerror(errno)
                << std::endl;
  }
  if (UnixAddress::connect(connect_socket_.get(), remote_) != 0) {
    std::cerr << "can't connect to " << remote_ << " : " << std::strerror(errno) << std::endl;
    Retry(retry_after_refusal_ms);
    return;
  }
  std::clog << "connected to " << remote_ << std::endl;
  // Connected already: the watch only lets go of the attempt, and the stream layer finds a
  // connection it cannot watch itself.
  logged_failure_ = 0;
  connect_event_.Schedule(connect_socket_, POLLOUT);
  Connected(connect_socket_, remote_);
  connect_socket_.close();
}

void ConnectorUnix::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << remote_ << std::endl;
    Retry(retry_after_hangup_ms);
    return;
  }
  if (revents & POLLOUT) connect_event_.Release();
}

}  // namespace Control
