#include "control/ConnectorNet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace Control {

ConnectorNet::ConnectorNet() {
  connect_event_.Bind("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this);
}

ConnectorNet::ConnectorNet(const std::string& address) : ConnectorNet() {
  INet4::Addr a;
  int port = -1;
  a.Assign(address, &port);
  host_ = ::inet_ntoa(a.sin_addr);
  port_ = port < 0 ? 0 : static_cast<uint16_t>(port);
}

ConnectorNet::ConnectorNet(const std::string& host, unsigned short port) : ConnectorNet() {
  host_ = host;
  port_ = port;
}

ConnectorNet::~ConnectorNet() {
  retry_timer_.reset();
  connect_event_.Release();
}

INet4::Addr ConnectorNet::Address() const {
  INet4::Addr a;
  a.sin_port = htons(port_);
  a.Assign(host_, nullptr);  // a port suffix in the host text overrides the stored port
  return a;
}

bool ConnectorNet::ImplActivate() {
  countdown_ = fast_retries;
  TryConnect();
  return true;
}

void ConnectorNet::Retry(unsigned long_interval_ms) {
  unsigned ms = long_interval_ms;
  if (countdown_ > 0) {
    --countdown_;
    ms = fast_retry_ms;
  }
  retry_timer_.set(ms, &ConnectorNet::OnTimeout, this);
}

void ConnectorNet::OnTimeout(Timer*) { TryConnect(); }

void ConnectorNet::TryConnect() {
  connect_event_.Release();
  connect_socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!connect_socket_) {
    std::cerr << "can't create socket:" << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  SetCloexec(connect_socket_.get(), true);
  if (!connect_socket_.NonBlock()) {
    std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  const INet4::Addr address = Address();
  if (::connect(connect_socket_.get(), address.sa(), address.sa_len()) == 0) {
    std::clog << "already connected to " << address.GetString() << std::endl;
    Connected(connect_socket_, address);
    connect_socket_.close();
    return;
  }
  if (errno == EINPROGRESS) {
    connect_event_.Schedule(connect_socket_, POLLOUT);
    return;
  }
  std::cerr << "can't connect to " << address.GetString() << " : " << std::strerror(errno)
            << std::endl;
  connect_socket_.close();
  Retry(retry_after_refusal_ms);
}

void ConnectorNet::OnSocketEvent(int, short revents) {
  const INet4::Addr address = Address();
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << address.GetString() << std::endl;
    connect_event_.Release();
    connect_socket_.close();
    Retry(retry_after_hangup_ms);
    return;
  }
  if (!(revents & POLLOUT)) return;
  connect_event_.Release();
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(connect_socket_.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
    std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (err == 0) {
    std::cout << "connected to " << address.GetString() << "." << std::endl;
    Connected(connect_socket_, address);
    connect_socket_.close();
    return;
  }
  std::cerr << "fail to connect to " << address.GetString() << std::endl;
  connect_socket_.close();
  Retry(retry_after_error_ms);
}

void ConnectorNet::ImplDeactivate() {
  Release();
  connect_socket_.close();
  retry_timer_.reset();
  connect_event_.Release();
}

void ConnectorNet::ImplOnDisconnect() { retry_timer_.set(reconnect_ms, &ConnectorNet::OnTimeout, this); }

}  // namespace Control
