#include "control/ASyncConnect.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "foundation/INet4.h"

namespace ASync {

Connect::Connect() { event_.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this); }

Connect::~Connect() {
  delete handler_;
  handler_ = nullptr;
  timer_.reset();
  event_.Release();
  socket_.close();
}

void Connect::Bind(Handler* h) {
  if (h == handler_) return;
  delete handler_;
  handler_ = h;
}

void Connect::Start(std::string const& address, unsigned int timeoutMs) {
  if (status_ == Status::connecting) {
    // A new attempt replaces a pending one without a report for the old one.
    timer_.reset();
    event_.Release();
    socket_.close();
  }
  status_ = Status::connecting;
  socket_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket_ || !socket_.NonBlock()) {
    Complete(Status::failed);
    return;
  }
  // An address that does not parse (or has no port) must not become a connect to 0.0.0.0.
  INet4::Addr peer;
  int port = -1;
  if (!peer.Assign(address, &port) || port < 0) {
    Complete(Status::failed);
    return;
  }
  int r;
  do r = ::connect(socket_.get(), peer.sa(), INet4::Addr::sa_len());
  while (r < 0 && errno == EINTR);
  if (r == 0) {
    Complete(Status::connected);
  } else if (errno == EINPROGRESS) {
    event_.Schedule(socket_, POLLOUT);
    timer_.set(timeoutMs, &Connect::OnTimeOut, this);
  } else {
    Complete(Status::failed);
  }
}

void Connect::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
    Complete(Status::failed);
    return;
  }
  if (!(revents & POLLOUT)) return;
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0)
    Complete(Status::failed);
  else
    Complete(Status::connected);
}

void Connect::OnTimeOut(Timer*) { Complete(Status::failed); }

void Connect::Complete(Status::Type status) {
  if (status_ != Status::connecting) return;
  status_ = status;
  Fd connection;
  if (status == Status::connected) connection = socket_;
  socket_.close();
  event_.Release();
  timer_.reset();
  if (handler_) handler_->Invoke(status, std::move(connection));
}

}  // namespace ASync
