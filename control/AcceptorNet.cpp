#include "control/AcceptorNet.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace Control {

AcceptorNet::AcceptorNet() : AcceptorNet(0, true) {}

AcceptorNet::AcceptorNet(int port) : AcceptorNet(port, true) {}

AcceptorNet::AcceptorNet(int port, bool verbose) : port_(static_cast<uint16_t>(port)) {
  verbose_ = verbose;
  listen_event_.Bind("AcceptorNet::OnSocketEvent", &AcceptorNet::OnSocketEvent, this);
}

AcceptorNet::~AcceptorNet() {
  bind_timer_.reset();
  listen_event_.Release();
}

bool AcceptorNet::ImplActivate() {
  listen_socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listen_socket_) {
    if (verbose_) std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
    return false;
  }
  SetCloexec(listen_socket_.get(), true);
  const int one = 1;
  setsockopt(listen_socket_.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // A failed listen is reported to the caller, so that start-up can stop with an error.
  return BindSocket();
}

bool AcceptorNet::BindSocket() {
  struct sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  sa.sin_port = htons(port_);
  if (::bind(listen_socket_.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (verbose_)
      std::cerr << "can't bind to socket: \"" << std::strerror(errno) << "\"  waiting..."
                << std::endl;
    bind_timer_.set(bind_retry_ms, &AcceptorNet::OnTimeout, this);
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

void AcceptorNet::ImplDeactivate() {
  bind_timer_.reset();
  listen_event_.Release();
  listen_socket_.close();
}

void AcceptorNet::OnTimeout(Timer*) { BindSocket(); }

void AcceptorNet::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    struct sockaddr_in sa;
    socklen_t len = sizeof sa;
    Fd peer_socket(::accept4(listen_socket_.get(), reinterpret_cast<sockaddr*>(&sa), &len,
                             SOCK_CLOEXEC));
    if (!peer_socket) break;
    INet4::Addr peer;
    static_cast<sockaddr_in&>(peer) = sa;
    if (state_ == State::Connected || state_ == State::Deactivating) {
      // While the previous connection's end is pending the peer cannot be taken either; it is
      // refused like any other, rather than left open and unserved.
      if (verbose_) std::cerr << "refuse connection from " << peer.GetString() << std::endl;
      if (state_ == State::Connected) ImplRefuseConnection();
      continue;
    }
    if (!peer_socket.NonBlock()) {
      if (verbose_)
        std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
      continue;
    }
    if (verbose_) std::cout << "new connection from " << peer.GetString() << std::endl;
    Connected(peer_socket, peer);
    ImplConnected(peer_socket);
  }
}

}  // namespace Control
