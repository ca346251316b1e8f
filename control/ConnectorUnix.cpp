#include "control/ConnectorUnix.h"

#include <poll.h>
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

ConnectorUnix::~ConnectorUnix() {
  retry_timer_.reset();
  connect_event_.Release();
}

bool ConnectorUnix::ImplActivate() {
  countdown_ = fast_retries;
  TryConnect();
  return true;
}

void ConnectorUnix::Retry(unsigned long_interval_ms) {
  unsigned ms = long_interval_ms;
  if (countdown_ > 0) {
    --countdown_;
    ms = fast_retry_ms;
  }
  retry_timer_.set(ms, &ConnectorUnix::OnTimeout, this);
}

void ConnectorUnix::OnTimeout(Timer*) { TryConnect(); }

void ConnectorUnix::TryConnect() {
  connect_event_.Release();
  connect_socket_.reset(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!connect_socket_) {
    std::cerr << "can't create domain socket:" << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  SetCloexec(connect_socket_.get(), true);
  if (!connect_socket_.NonBlock()) {
    std::cerr << "can't set domain socket to non block mode: " << std::strerror(errno)
              << std::endl;
    Deactivate();
    return;
  }
  sockaddr_un sa;
  if (!local_.empty()) {
    ::unlink(local_.c_str());
    const bool fits = UnixAddress::make(local_, sa);
    if (!fits || ::bind(connect_socket_.get(), reinterpret_cast<sockaddr*>(&sa), UnixAddress::size) != 0) {
      if (!fits) errno = ENAMETOOLONG;
      std::cerr << "can't bind to domain socket '" << local_ << "': \"" << std::strerror(errno)
                << std::endl;
    }
  }
  const bool fits = UnixAddress::make(remote_, sa);
  if (!fits || ::connect(connect_socket_.get(), reinterpret_cast<sockaddr*>(&sa), UnixAddress::size) != 0) {
    if (!fits) errno = ENAMETOOLONG;
    std::cerr << "can't connect to " << remote_ << " : " << std::strerror(errno) << std::endl;
    connect_socket_.close();
    Retry(retry_after_refusal_ms);
    return;
  }
  std::clog << "connected to " << remote_ << std::endl;
  connect_event_.Schedule(connect_socket_, POLLOUT);
  Connected(connect_socket_, remote_);
  connect_socket_.close();
}

void ConnectorUnix::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << remote_ << std::endl;
    connect_event_.Release();
    Retry(retry_after_hangup_ms);
    return;
  }
  if (revents & POLLOUT) connect_event_.Release();
}

void ConnectorUnix::ImplDeactivate() {
  Release();
  connect_socket_.close();
  retry_timer_.reset();
  connect_event_.Release();
}

void ConnectorUnix::ImplOnDisconnect() {
  retry_timer_.set(reconnect_ms, &ConnectorUnix::OnTimeout, this);
}

}  // namespace Control
