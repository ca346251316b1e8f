#include "board/sim/SimServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "board/sim/SimBoard.h"
#include "board/sim/SimProtocol.h"
#include "foundation/AcceptPause.h"
#include "foundation/Paths.h"

namespace board::sim {

class SimServer::Client {
 public:
  Client(SimServer& server, int fd) : server_(server), fd_(fd), protocol_(server.board_) {
    event_.Bind("SimServer::Client", &Client::on_event, this);
    event_.Schedule(fd_, POLLIN);
  }

  void on_event(int, short revents) {
    server_.bury();
    if (revents & POLLIN) {
      char buf[4096];
      ssize_t n = ::recv(fd_.get(), buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) {
        out_ += protocol_.feed(std::string_view(buf, static_cast<size_t>(n)));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        server_.close_client(this);
        return;
      }
    } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
      server_.close_client(this);
      return;
    }
    flush();
  }

 private:
  void flush() {
    while (!out_.empty()) {
      ssize_t n = ::send(fd_.get(), out_.data(), out_.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0) {
        out_.erase(0, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) break;
      server_.close_client(this);
      return;
    }
    if (out_.size() > kMaxOutput) {
      server_.close_client(this);
      return;
    }
    event_.set_events(out_.empty() ? POLLIN : POLLIN | POLLOUT);
  }

  friend class SimServer;
  SimServer& server_;
  Fd fd_;
  SimProtocol protocol_;
  Event event_;
  std::string out_;
};

namespace {
// Keys of the two members of the ready set.
constexpr uint64_t kBoardKey = 0;
constexpr uint64_t kListenKey = 1;

bool watch(int set, int fd, uint64_t key) {
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = key;
  return ::epoll_ctl(set, EPOLL_CTL_ADD, fd, &ev) == 0;
}
}  // namespace

SimServer::SimServer(SimBoard& board) : board_(board), ready_fd_(::epoll_create1(EPOLL_CLOEXEC)) {
  own_set_ = ready_fd_ && watch(ready_fd_.get(), board.pollfd(), kBoardKey);
  // Without a set of its own the board is watched on its own descriptor (and nothing listens).
  if (!own_set_) ready_fd_.reset(::dup(board.pollfd()));
  ready_event_.Bind("SimBoard::service", &SimServer::on_ready, this);
  ready_event_.Schedule(ready_fd_, POLLIN);
}

SimServer::~SimServer() = default;

// The loop serves every handler on each pass; only a readable set is worth a system call.
void SimServer::on_ready(int fd, short revents) {
  bury();
  if (!(revents & POLLIN)) return;
  if (!own_set_) {
    board_.service();
    return;
  }
  epoll_event events[2];
  const int n = ::epoll_wait(fd, events, 2, 0);
  for (int i = 0; i < n; ++i) {
    if (events[i].data.u64 == kBoardKey)
      board_.service();
    else if (events[i].data.u64 == kListenKey)
      accept_client();
  }
}

bool SimServer::listen(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  std::filesystem::path where(path);
  std::error_code ec;
  std::filesystem::create_directories(where.parent_path(), ec);
  struct stat st{};
  if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) ::unlink(path.c_str());
  // A socket path is limited to sizeof sun_path; a deep path root is reached through the
  // directory's descriptor instead.
  Fd dir;
  std::string bind_path = path;
  sockaddr_un addr{};
  if (bind_path.size() >= sizeof addr.sun_path) {
    dir.reset(::open(where.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return false;
    bind_path = "/proc/self/fd/" + std::to_string(dir.get()) + "/" + where.filename().string();
    if (bind_path.size() >= sizeof addr.sun_path) {
      errno = ENAMETOOLONG;
      return false;
    }
  }
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, bind_path.c_str(), bind_path.size());
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || ::listen(fd.get(), 8) < 0) return false;
  if (!own_set_) {
    errno = ENOSYS;
    return false;
  }
  if (listen_fd_) ::epoll_ctl(ready_fd_.get(), EPOLL_CTL_DEL, listen_fd_.get(), nullptr);
  accept_pause_.reset();
  if (!watch(ready_fd_.get(), fd.get(), kListenKey)) return false;
  listen_fd_ = std::move(fd);
  path_ = path;
  return true;
}

void SimServer::accept_client() {
  int c = ::accept4(listen_fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (c < 0) {
    if (AcceptPause::Shortage(errno)) pause_accepting();
    return;
  }
  if (clients_.size() >= kMaxClients) {
    ::close(c);
    return;
  }
  auto client = std::make_unique<Client>(*this, c);
  if (client->event_.fd() < 0) return;  // a client that cannot be watched is closed at once
  clients_.push_back(std::move(client));
}

void SimServer::pause_accepting() {
  ::epoll_ctl(ready_fd_.get(), EPOLL_CTL_DEL, listen_fd_.get(), nullptr);
  accept_pause_.set(AcceptPause::pause_ms, &SimServer::resume_accepting, this);
}

void SimServer::resume_accepting() {
  if (listen_fd_ && !watch(ready_fd_.get(), listen_fd_.get(), kListenKey)) pause_accepting();
}

void SimServer::close_client(Client* c) {
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (it->get() != c) continue;
    c->event_.Release();
    c->fd_.close();
    closed_.push_back(std::move(*it));
    clients_.erase(it);
    return;
  }
}

void SimServer::bury() { closed_.clear(); }

bool serve(const std::string& path) {
  static SimServer* server = new SimServer(SimBoard::instance());  // lives as long as the process
  std::string where = path.empty() ? Paths::rooted(kSocketPath) : path;
  if (server->listen(where)) return true;
  std::cerr << "board simulator: cannot listen on " << where << ": " << std::strerror(errno) << std::endl;
  return false;
}

}  // namespace board::sim
