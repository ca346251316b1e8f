#include "control/TPKTTracer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "foundation/INet4.h"

namespace {

// Connections taken and reads made per readiness report: a trace client that connects or
// writes faster than the daemon serves it must not hold the loop; the rest waits for the
// next passes.
constexpr int kAcceptsPerPass = 16;
constexpr int kReadsPerPass = 64;

}  // namespace

TPKTTracer::TPKTTracer() : current_(list_.end()) {}

TPKTTracer::~TPKTTracer() {
  for (Connection* c : list_) delete c;
  list_.clear();
  accept_pause_.Cancel();
  listen_event_.Release();
}

bool TPKTTracer::Listen(unsigned short port) {
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!s) return false;
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  sa.sin_port = htons(port);
  if (::bind(s.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return false;
  if (::listen(s.get(), 1) != 0) return false;
  if (!s.NonBlock()) return false;
  listen_socket_ = std::move(s);
  listen_event_.Bind("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
  accept_pause_.Watch(listen_event_, listen_socket_, POLLIN, std::clog, "ACP ");
  return true;
}

void TPKTTracer::OnEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (int accepts = 0; accepts < kAcceptsPerPass; ++accepts) {
    sockaddr_in sa;
    socklen_t len = sizeof sa;
    Fd client(::accept4(fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC));
    if (!client) {
      accept_pause_.Pause(errno, listen_event_, listen_socket_, std::clog, "ACP ");
      break;
    }
    accept_pause_.Accepted();
    INet4::Addr peer;
    static_cast<sockaddr_in&>(peer) = sa;
    std::clog << "ACP connection open from " << peer.GetString() << std::endl;
    if (!client.NonBlock()) continue;
    Connection* c = new Connection;
    c->event.Bind("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
    // A client whose watch cannot be made would never be heard or closed: it goes at once.
    if (!c->event.Schedule(client, POLLIN)) {
      std::clog << "ACP connection from " << peer.GetString() << " closed: " << std::strerror(errno) << std::endl;
      delete c;
      continue;
    }
    list_.push_back(c);
  }
}

TPKTTracer::List::iterator TPKTTracer::FindConnection(int fd) {
  for (auto it = list_.begin(); it != list_.end(); ++it)
    if ((*it)->event.fd() == fd) return it;
  return list_.end();
}

void TPKTTracer::CloseConnection(List::iterator it) {
  if (it == current_) current_ = list_.end();
  delete *it;
  list_.erase(it);
}

void TPKTTracer::OnDataEvent(int fd, short revents) {
  current_ = FindConnection(fd);
  if (current_ == list_.end()) return;
  if (revents & (POLLERR | POLLHUP)) {
    CloseConnection(current_);
    return;
  }
  for (int reads = 0; reads < kReadsPerPass; ++reads) {
    Connection* c = *current_;
    const ssize_t n = ::recv(fd, c->buffer + c->received, c->expected - c->received, MSG_NOSIGNAL);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
      CloseConnection(current_);
      break;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    c->received += static_cast<unsigned>(n);
    if (c->received < c->expected) break;
    if (!c->reading_header) {
      if (receiver) receiver->OnTrace(c->buffer, c->expected);
      if (current_ == list_.end()) return;  // closed during the call
      c->reading_header = true;
      c->expected = 4;
      c->received = 0;
      continue;
    }
    if (c->buffer[0] != 3 || c->buffer[1] != 0) {
      CloseConnection(current_);
      break;
    }
    const unsigned length = (unsigned(c->buffer[2]) << 8) | c->buffer[3];
    if (length <= 3 || length - 4 > max_payload) {
      CloseConnection(current_);
      break;
    }
    c->received = 0;
    if (length == 4) continue;  // empty payload: next header
    c->reading_header = false;
    c->expected = length - 4;
  }
  current_ = list_.end();
}

bool TPKTTracer::SendTo(List::iterator it, const void* data, unsigned length) {
  uint8_t header[4] = {3, 0, uint8_t((length + 4) >> 8), uint8_t(length + 4)};
  iovec iov[2] = {{header, 4}, {const_cast<void*>(data), length}};
  msghdr msg;
  std::memset(&msg, 0, sizeof msg);
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  const ssize_t r = ::sendmsg((*it)->event.fd(), &msg, MSG_NOSIGNAL);
  if (r < 0 && errno == EINTR) return true;  // not sent to this client, which stays
  if (r != static_cast<ssize_t>(length + 4)) {
    CloseConnection(it);
    return false;
  }
  return true;
}

void TPKTTracer::Send(const void* data, unsigned int length) {
  // One frame's length field cannot describe more; such a block is not sent at all.
  if (length > 0xFFFF - 4) return;
  if (current_ != list_.end()) {
    SendTo(current_, data, length);
    return;
  }
  for (auto it = list_.begin(); it != list_.end();) {
    auto next = std::next(it);
    SendTo(it, data, length);
    it = next;
  }
}
