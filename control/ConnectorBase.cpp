#include "control/ConnectorBase.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "control/ConnectorNet.h"
#include "control/ConnectorUnix.h"

namespace Control {

template <class Derived, class ServiceBase>
ConnectorBase<Derived, ServiceBase>::~ConnectorBase() {
  retry_timer_.reset();
  connect_event_.Release();
}

template <class Derived, class ServiceBase>
bool ConnectorBase<Derived, ServiceBase>::ImplActivate() {
  countdown_ = fast_retries;
  self().TryConnect();
  return true;
}

template <class Derived, class ServiceBase>
void ConnectorBase<Derived, ServiceBase>::ImplDeactivate() {
  this->Release();
  connect_socket_.close();
  retry_timer_.reset();
  connect_event_.Release();
}

template <class Derived, class ServiceBase>
void ConnectorBase<Derived, ServiceBase>::ImplOnDisconnect() {
  retry_timer_.set(reconnect_ms, &ConnectorBase::OnTimeout, this);
}

template <class Derived, class ServiceBase>
void ConnectorBase<Derived, ServiceBase>::OnTimeout(Timer*) {
  self().TryConnect();
}

template <class Derived, class ServiceBase>
bool ConnectorBase<Derived, ServiceBase>::OpenSocket(int domain, int protocol, const char* kind) {
  connect_event_.Release();
  connect_socket_.reset(::socket(domain, SOCK_STREAM, protocol));
  if (!connect_socket_) {
    std::cerr << "can't create " << kind << ":" << std::strerror(errno) << std::endl;
    this->Deactivate();
    return false;
  }
  SetCloexec(connect_socket_.get(), true);
  if (!connect_socket_.NonBlock()) {
    std::cerr << "can't set " << kind << " to non block mode: " << std::strerror(errno)
              << std::endl;
    this->Deactivate();
    return false;
  }
  return true;
}

template <class Derived, class ServiceBase>
void ConnectorBase<Derived, ServiceBase>::Retry(unsigned long_interval_ms) {
  connect_event_.Release();
  connect_socket_.close();
  unsigned ms = long_interval_ms;
  if (countdown_ > 0) {
    --countdown_;
    ms = fast_retry_ms;
  }
  retry_timer_.set(ms, &ConnectorBase::OnTimeout, this);
}

template class ConnectorBase<ConnectorNet, ServiceNet>;
template class ConnectorBase<ConnectorUnix, ServiceUnix>;

}  // namespace Control
