#include "control/AcceptorNetCheckConnection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>

namespace Control {

namespace {

void set_tcp(int fd, int opt, int value) { setsockopt(fd, IPPROTO_TCP, opt, &value, sizeof value); }

}  // namespace

AcceptorNetCheckConnection::AcceptorNetCheckConnection() : AcceptorNet() {}
AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port) : AcceptorNet(port) {}
AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port, bool verbose)
    : AcceptorNet(port, verbose) {}

AcceptorNetCheckConnection::~AcceptorNetCheckConnection() { check_timer_.reset(); }

bool AcceptorNetCheckConnection::ImplActivate() {
  const bool ok = AcceptorNet::ImplActivate();
  // A failed listen was logged and left the acceptor deactivated: the daemon runs on without a
  // control port and no connection check is armed.
  if (!ok) return false;
  CheckConnection();
  return true;
}

void AcceptorNetCheckConnection::ImplDeactivate() {
  check_timer_.reset();
  AcceptorNet::ImplDeactivate();
}

bool AcceptorNetCheckConnection::ImplAccepting(const Fd& socket, const std::string& peer) {
  probe_socket_.reset(socket.dup());
  if (probe_socket_) return true;
  if (verbose_)
    std::cerr << "refuse connection from " << peer << ": can't copy socket: " << std::strerror(errno)
              << std::endl;
  return false;
}

void AcceptorNetCheckConnection::ImplNotConnected() { probe_socket_.close(); }

void AcceptorNetCheckConnection::ImplConnected() {
  // A check begun for a controller that has since gone ends with it: the new controller starts
  // unprobed, and the next knock probes it with the full countdown.
  if (check_state_ != CheckIdle) {
    check_state_ = CheckIdle;
    if (verbose_) std::cerr << "CheckConnectionState Idle" << std::endl;
  }
}

void AcceptorNetCheckConnection::ImplRefuseConnection() {
  if (check_state_ != CheckIdle) return;
  check_state_ = CheckRunning;
  countdown_ = 2;
  SetupKeepAlive(true);
  if (verbose_) std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool fast) {
  const int fd = probe_socket_.get();
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
  set_tcp(fd, TCP_KEEPIDLE, fast ? 1 : 7200);
  set_tcp(fd, TCP_KEEPINTVL, fast ? 1 : 75);
  set_tcp(fd, TCP_KEEPCNT, fast ? 3 : 9);
}

void AcceptorNetCheckConnection::OnCheckConnectionTimeout(Timer*) { CheckConnection(); }

void AcceptorNetCheckConnection::CheckConnection() {
  // Without its copy (none is taken without one) nothing can be said of the connection.
  if (state_ == State::Connected && probe_socket_) {
    bool drop = false;
    // Only the first two bytes of the record are read: the TCP state and the
    // congestion-avoidance state. A record shorter than the kernel's head of eight one-byte
    // fields is not the kernel's and says nothing (qemu-user, for one, hands back the first
    // four bytes as one int in the guest's byte order, which puts the state in byte 3).
    uint8_t info[92] = {};
    socklen_t len = sizeof info;
    if (getsockopt(probe_socket_.get(), IPPROTO_TCP, TCP_INFO, info, &len) == 0 && len >= 8) {
      if (info[0] != TCP_ESTABLISHED) {
        if (verbose_)
          std::cerr << "connection from " << name_ << " closed: tcp socket change state."
                    << std::endl;
        drop = true;
      }
      if (check_state_ == CheckRunning) {
        if (info[1] != 0) {
          if (countdown_ > 0) --countdown_;
          if (countdown_ < 1) {
            if (verbose_)
              std::cerr << "connection from " << name_ << " closed: tcp socket change ca_state."
                        << std::endl;
            drop = true;
          }
        } else {
          check_state_ = CheckIdle;
          SetupKeepAlive(false);
          if (verbose_) std::cerr << "CheckConnectionState Idle" << std::endl;
        }
      }
    }
    int pending = 0;
    socklen_t plen = sizeof pending;
    const int r = getsockopt(probe_socket_.get(), SOL_SOCKET, SO_ERROR, &pending, &plen);
    if (r != 0 || pending != 0) {
      if (verbose_)
        std::cerr << "connection from " << name_ << " closed: "
                  << std::strerror(r != 0 ? errno : pending) << std::endl;
      drop = true;
    }
    if (drop) {
      check_state_ = CheckIdle;
      SetupKeepAlive(false);
      Disconnect();
      if (verbose_) std::cerr << "CheckConnectionState Idle" << std::endl;
    }
  }
  check_timer_.set(check_interval_ms, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

}  // namespace Control
