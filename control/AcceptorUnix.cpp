#include "control/AcceptorUnix.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "control/UnixAddress.h"

namespace Control {

AcceptorUnix::AcceptorUnix() {
  listen_event_.Bind("AcceptorUnix::OnSocketEvent", &AcceptorUnix::OnSocketEvent, this);
}

AcceptorUnix::AcceptorUnix(const std::string& path) : AcceptorUnix() { path_ = path; }

AcceptorUnix::~AcceptorUnix() {
  bind_timer_.reset();
  listen_event_.Release();
}

bool AcceptorUnix::ImplActivate() {
  listen_socket_.reset(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!listen_socket_) {
    if (verbose_) std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
    return false;
  }
  SetCloexec(listen_socket_.get(), true);
  return BindSocket();
}

bool AcceptorUnix::BindSocket() {
  ::unlink(path_.c_str());
  sockaddr_un sa;
  const bool fits = UnixAddress::make(path_, sa);
  if (!fits || ::bind(listen_socket_.get(), reinterpret_cast<sockaddr*>(&sa), UnixAddress::size) != 0) {
    if (!fits) errno = ENAMETOOLONG;
    if (verbose_)
      std::cerr << "can't bind to socket: \"" << std::strerror(errno) << "\"  waiting..."
                << std::endl;
    bind_timer_.set(bind_retry_ms, &AcceptorUnix::OnTimeout, this);
    return true;
  }
  if (::listen(listen_socket_.get(), 1) != 0) {
    if (verbose_) std::cerr << "can't listen socket: " << std::strerror(errno) << std::endl;
    Deactivate();
    return false;
  }
  if (!listen_socket_.NonBlock()) {
    if (verbose_)
      std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    Deactivate();
    return false;
  }
  listen_event_.Schedule(listen_socket_, POLLIN);
  return true;
}

void AcceptorUnix::ImplDeactivate() {
  bind_timer_.reset();
  listen_event_.Release();
  listen_socket_.close();
}

void AcceptorUnix::OnTimeout(Timer*) { BindSocket(); }

void AcceptorUnix::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    sockaddr_un sa;
    socklen_t len = UnixAddress::size;
    Fd peer_socket(::accept4(listen_socket_.get(), reinterpret_cast<sockaddr*>(&sa), &len,
                             SOCK_CLOEXEC));
    if (!peer_socket) break;
    const std::string peer = UnixAddress::path_of(sa, len);
    if (state_ == State::Connected || state_ == State::Deactivating) {
      if (verbose_) std::cerr << "refuse connection from " << peer << std::endl;
      if (state_ == State::Connected) ImplRefuseConnection();
      continue;
    }
    if (!peer_socket.NonBlock()) {
      if (verbose_)
        std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
      continue;
    }
    if (verbose_) std::cout << "new connection from " << peer << std::endl;
    Connected(peer_socket, peer);
    ImplConnected(peer_socket);
  }
}

}  // namespace Control
