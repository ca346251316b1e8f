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
bool ConnectorBase<Derived, ServiceBase>::FirstFailure(int code) {
  if (code == logged_failure_) return false;
  logged_failure_ = code;
  return true;
}

template <class Derived, class ServiceBase>
bool ConnectorBase<Derived, ServiceBase>::OpenSocket(int domain, int protocol, const char* kind) {
  enum { kCreate = 1, kNonBlock = 2 };
  connect_event_.Release();
  connect_socket_.reset(::socket(domain, SOCK_STREAM, protocol));
  if (!connect_socket_) {
    const int error = errno;
    if (FirstFailure(kCreate + 4 * error))
      std::cerr << "can't create " << kind << ":" << std::strerror(error) << std::endl;
    Retry(retry_after_refusal_ms);
    return false;
  }
  SetCloexec(connect_socket_.get(), true);
  if (!connect_socket_.NonBlock()) {
    const int error = errno;
    if (FirstFailure(kNonBlock + 4 * error))
      std::cerr << "can't set " << kind << " to non block mode: " << std::strerror(error) << std::endl;
    Retry(retry_after_refusal_ms);
    return false;
  }
  return true;
}

template <class Derived, class ServiceBase>
bool ConnectorBase<Derived, ServiceBase>::WatchSocket(short events) {
  enum { kWatch = 3 };
  if (connect_event_.Schedule(connect_socket_, events)) {
    logged_failure_ = 0;
    return true;
  }
  const int error = errno;
  if (FirstFailure(kWatch + 4 * error)) std::cerr << "can't watch socket: " << std::strerror(error) << std::endl;
  Retry(retry_after_refusal_ms);
  return false;
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
