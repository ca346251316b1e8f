#include "control/StrmProtocol.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>

#include "foundation/Hex.h"
#include "foundation/Multiplexer.h"
#include "foundation/Packet.h"

namespace {

// The send deadline runs on the real clock: the loop's clock may be cached for the whole
// pass (or frozen by a test), and a deadline on it would never expire.
int64_t real_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int sockopt_int(int fd, int opt) {
  int v = 0;
  socklen_t len = sizeof v;
  getsockopt(fd, SOL_SOCKET, opt, &v, &len);
  return v;
}

int ioctl_int(int fd, unsigned long req) {
  int v = 0;
  ioctl(fd, req, &v);
  return v;
}

}  // namespace

StrmProtocol::StrmProtocol() { input_.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this); }

StrmProtocol::StrmProtocol(const Fd& fd) : StrmProtocol() { attach(fd); }

StrmProtocol::~StrmProtocol() {
  if (alive_) *alive_ = false;
  release();
}

void StrmProtocol::attach(const Fd& fd) {
  release();
  socket_.reset(fd.dup());
  // Without a copy errno still says why, for whoever reports it.
  outq_flag_ = socket_ && outq_space() > 0;
}

void StrmProtocol::release() {
  if (!socket_) return;
  // Answers gathered before the end still go out first, as they would have one by one.
  gathering_ = false;
  for (size_t done = 0; done < gathered_.size();) {
    const ssize_t r = ::send(socket_.get(), gathered_.data() + done, gathered_.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  gathered_.clear();
  input_.Release();
  // Other holders may keep duplicates of this socket (the acceptor's probe copy): shutting it
  // down makes sure the peer sees the end now, not when the last duplicate goes.
  ::shutdown(socket_.get(), SHUT_RDWR);
  socket_.close();
}

int StrmProtocol::sendbuf_space() const { return sockopt_int(socket_.get(), SO_SNDBUF); }
int StrmProtocol::recvbuf_space() const { return sockopt_int(socket_.get(), SO_RCVBUF); }
int StrmProtocol::inq_space() const { return ioctl_int(socket_.get(), SIOCINQ); }
int StrmProtocol::outq_space() const { return ioctl_int(socket_.get(), SIOCOUTQ); }

int StrmProtocol::free_space() const {
  const int outq = outq_space();
  return outq_flag_ ? outq : sendbuf_space() - outq;
}

void StrmProtocol::local_prepare_head(Packet& p) { p.reserve_head(0); }
void StrmProtocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void StrmProtocol::local_activate() {
  if (!socket_) {
    on_deactivate(new Protocol_status_error(this, "fd not attached"));
    return;
  }
  // A connection that cannot be watched would never be read, nor noticed when it ends.
  if (!input_.Schedule(socket_, POLLIN)) {
    const int error = errno;
    release();
    on_deactivate(new Protocol_status_error(this, std::string("can't watch socket: ") + std::strerror(error)));
    return;
  }
  on_activate();
}

void StrmProtocol::local_deactivate() {
  release();
  on_deactivate(new Protocol_status_success(this, "success"));
}

void StrmProtocol::on_event(int, short revents) {
  if (revents & POLLERR)
    on_error(std::string("pollerr: ") + std::strerror(errno));
  else if (revents & POLLHUP)
    on_error(std::string("pollhup: ") + std::strerror(errno));
  else if (revents & POLLIN)
    do_read();
}

void StrmProtocol::do_read() {
  Packet p;
  try {
    p.reserve_head(0);
  } catch (const std::bad_alloc&) {
    // Leaving the bytes queued would wake the loop at once, pass after pass; without a buffer
    // this connection cannot go on.
    std::cerr << ext::header(this) << "no packet buffer to read into, connection dropped"
              << std::endl;
    on_error("read error: no packet buffer");
    return;
  }
  const unsigned room = p.tailroom();
  read_measure_.begin();
  const ssize_t n = ::recv(socket_.get(), p.tail(), room, MSG_DONTWAIT | MSG_NOSIGNAL);
  const int err = errno;
  read_measure_.end();
  if (n > 0) {
    p.put(static_cast<unsigned>(n));
    bool alive = true;
    alive_ = &alive;
    gathering_ = true;
    on_message(p);
    if (!alive) return;  // the connection went away while handling the chunk
    alive_ = nullptr;
    gathering_ = false;
    flush_gathered();
  } else if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
    return;
  } else if (n < 0) {
    on_error(std::string("read error: ") + std::strerror(err));
  } else {
    on_error("read error: connection closed by peer");
  }
}

void StrmProtocol::on_error(const std::string& text) {
  release();
  on_deactivate(new Protocol_status_error(this, text));
}

void StrmProtocol::log_buffers(std::ostream& os) const {
  os << ", sendbuf=" << sendbuf_space() << ", recvbuf=" << recvbuf_space()
     << ", free=" << free_space() << ", inq=" << inq_space() << ", outq=" << outq_space();
}

void StrmProtocol::message(Packet& p) {
  p.passert(!p.is_null(), "null packet");
  const unsigned total = p.length();
  const char* data = total ? reinterpret_cast<const char*>(p.data()) : nullptr;
  if (gathering_ && socket_) {
    if (gathered_.size() + total > gather_limit && !flush_gathered()) return;
    if (socket_) {
      if (gathered_.capacity() == 0) gathered_.reserve(gather_limit);
      gathered_.insert(gathered_.end(), data, data + total);
      return;
    }
  }
  write_out(data, total);
}

bool StrmProtocol::flush_gathered() {
  if (gathered_.empty()) return true;
  // Taken out first: a failed write releases the socket (and may end this layer).
  std::vector<char> out;
  out.swap(gathered_);
  if (!write_out(out.data(), static_cast<unsigned>(out.size()))) return false;
  out.clear();
  gathered_.swap(out);  // keeps the capacity for the next chunk
  return true;
}

bool StrmProtocol::write_out(const char* data, unsigned total) {
  write_measure_.begin();
  const int64_t start = real_ms();
  unsigned done = 0;
  bool timed_out = false;
  int err = 0;
  while (done < total) {
    ssize_t r = ::send(socket_.get(), data + done, total - done, MSG_NOSIGNAL);
    if (r < 0 && errno == ENOTSOCK) r = ::write(socket_.get(), data + done, total - done);
    if (r >= 0) {
      done += static_cast<unsigned>(r);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      err = errno;
      break;
    }
    const int64_t left = send_deadline_ms - (real_ms() - start);
    if (left <= 0) {
      timed_out = true;
      break;
    }
    multiplexer.resetWD();
    struct pollfd pfd = {socket_.get(), POLLOUT, 0};
    const int pr = ::poll(&pfd, 1, static_cast<int>(left));
    const int perr = errno;
    multiplexer.resetWD();
    if (pr == 1 || (pr < 0 && perr == EINTR)) continue;
    timed_out = true;
    break;
  }
  write_measure_.end();
  if (done == total) return true;
  ++overflow_;
  if (timed_out) {
    std::cerr << ext::header(this) << "write timeout";
    log_buffers(std::cerr);
    std::cerr << std::endl;
    on_error("write timeout");
  } else {
    const std::string text = std::strerror(err);
    std::cerr << ext::header(this) << "write error";
    log_buffers(std::cerr);
    std::cerr << ", error=" << text << std::endl;
    on_error("write error: " + text);
  }
  return false;
}

void StrmProtocol::PutHeader(std::ostream& os) const { os << "SockStream[" << conn_name_ << "]: "; }
