#include "board/sim/SimServer.h"

#include <fcntl.h>
#include <poll.h>
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

SimServer::SimServer(SimBoard& board) : board_(board) {
  board_event_.Bind("SimBoard::service", &SimServer::on_board, this);
  board_event_.Schedule(Fd(::dup(board.pollfd())), POLLIN);
}

SimServer::~SimServer() = default;

void SimServer::on_board(int, short revents) {
  if (revents & POLLIN) board_.service();
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
  listen_fd_ = std::move(fd);
  path_ = path;
  accept_event_.Bind("SimServer::accept", &SimServer::on_accept, this);
  accept_event_.Schedule(listen_fd_, POLLIN);
  return true;
}

// The loop serves every handler on each pass; only a readable listener is worth a system call.
void SimServer::on_accept(int fd, short revents) {
  bury();
  if (!(revents & POLLIN)) return;
  int c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (c < 0) return;
  if (clients_.size() >= kMaxClients) {
    ::close(c);
    return;
  }
  clients_.push_back(std::make_unique<Client>(*this, c));
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
