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

INet4::Addr ConnectorNet::Address() const {
  INet4::Addr a;
  a.sin_port = htons(port_);
  a.Assign(host_, nullptr);  // a port suffix in the host text overrides the stored port
  return a;
}

void ConnectorNet::TryConnect() {
  if (!OpenSocket(AF_INET, IPPROTO_TCP, "socket")) return;
  const INet4::Addr address = Address();
  if (::connect(connect_socket_.get(), address.sa(), address.sa_len()) == 0) {
    logged_failure_ = 0;
    std::clog << "already connected to " << address.GetString() << std::endl;
    Connected(connect_socket_, address);
    connect_socket_.close();
    return;
  }
  if (errno == EINPROGRESS) {
    WatchSocket(POLLOUT);
    return;
  }
  std::cerr << "can't connect to " << address.GetString() << " : " << std::strerror(errno)
            << std::endl;
  Retry(retry_after_refusal_ms);
}

void ConnectorNet::OnSocketEvent(int, short revents) {
  const INet4::Addr address = Address();
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << address.GetString() << std::endl;
    Retry(retry_after_hangup_ms);
    return;
  }
  if (!(revents & POLLOUT)) return;
  connect_event_.Release();
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(connect_socket_.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
    std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << std::strerror(errno) << std::endl;
    Retry(retry_after_error_ms);
    return;
  }
  if (err == 0) {
    std::cout << "connected to " << address.GetString() << "." << std::endl;
    Connected(connect_socket_, address);
    connect_socket_.close();
    return;
  }
  std::cerr << "fail to connect to " << address.GetString() << std::endl;
  Retry(retry_after_error_ms);
}

}  // namespace Control
