#include "control/AcceptorBase.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "control/AcceptorNet.h"
#include "control/AcceptorUnix.h"

namespace Control {

namespace {

// Connections taken per readiness report: peers that connect faster than they are refused
// must not hold the loop; the rest wait in the backlog for the next passes.
constexpr int kAcceptsPerPass = 16;

}  // namespace

template <class Derived, class ServiceBase>
AcceptorBase<Derived, ServiceBase>::AcceptorBase(const char* event_name) {
  listen_event_.Bind(event_name, &AcceptorBase::OnSocketEvent, this);
}

template <class Derived, class ServiceBase>
AcceptorBase<Derived, ServiceBase>::~AcceptorBase() {
  bind_timer_.reset();
  accept_pause_.Cancel();
  listen_event_.Release();
}

template <class Derived, class ServiceBase>
bool AcceptorBase<Derived, ServiceBase>::ImplActivate() {
  listen_socket_.reset(self().NewSocket());
  if (!listen_socket_) {
    if (this->verbose_) std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
    return false;
  }
  SetCloexec(listen_socket_.get(), true);
  self().SetSocketOptions();
  // A failed listen leaves the service deactivated and answers false; nothing retries it and
  // the daemon runs on without this listening socket (a bind that fails is retried instead).
  return BindSocket();
}

template <class Derived, class ServiceBase>
bool AcceptorBase<Derived, ServiceBase>::BindSocket() {
  if (!self().BindAddress()) {
    if (this->verbose_)
      std::cerr << "can't bind to socket: \"" << std::strerror(errno) << "\"  waiting..."
                << std::endl;
    bind_timer_.set(bind_retry_ms, &AcceptorBase::OnTimeout, this);
    return true;
  }
  if (::listen(listen_socket_.get(), 1) != 0) {
    if (this->verbose_) std::cerr << "can't listen socket: " << std::strerror(errno) << std::endl;
    this->Deactivate();
    return false;
  }
  if (!listen_socket_.NonBlock()) {
    if (this->verbose_)
      std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    this->Deactivate();
    return false;
  }
  accept_pause_.Watch(listen_event_, listen_socket_, POLLIN, std::cerr);
  return true;
}

template <class Derived, class ServiceBase>
void AcceptorBase<Derived, ServiceBase>::ImplDeactivate() {
  bind_timer_.reset();
  accept_pause_.Cancel();
  listen_event_.Release();
  listen_socket_.close();
}

template <class Derived, class ServiceBase>
void AcceptorBase<Derived, ServiceBase>::OnTimeout(Timer*) {
  BindSocket();
}

template <class Derived, class ServiceBase>
void AcceptorBase<Derived, ServiceBase>::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (int accepts = 0; accepts < kAcceptsPerPass; ++accepts) {
    typename ServiceBase::Peer peer;
    const int accepted = self().AcceptPeer(peer);
    if (accepted < 0) {
      accept_pause_.Pause(errno, listen_event_, listen_socket_, std::cerr);
      break;
    }
    accept_pause_.Accepted();
    Fd peer_socket(accepted);
    const State::Type state = this->state_;
    if (state == State::Connected || state == State::Deactivating) {
      // While the previous connection's end is pending the peer cannot be taken either; it is
      // refused like any other, rather than left open and unserved.
      if (this->verbose_)
        std::cerr << "refuse connection from " << ServiceBase::NameOf(peer) << std::endl;
      if (state == State::Connected) ImplRefuseConnection();
      continue;
    }
    if (!peer_socket.NonBlock()) {
      if (this->verbose_)
        std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
      continue;
    }
    if (!ImplAccepting(peer_socket, ServiceBase::NameOf(peer))) continue;
    if (this->verbose_)
      std::cout << "new connection from " << ServiceBase::NameOf(peer) << std::endl;
    if (this->Connected(peer_socket, peer))
      ImplConnected();
    else
      ImplNotConnected();
  }
}

template class AcceptorBase<AcceptorNet, ServiceNet>;
template class AcceptorBase<AcceptorUnix, ServiceUnix>;

}  // namespace Control
