#include "board/sim/SimFarEnd.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace board::sim {

namespace {

// Largest frame taken from a far end; longer packets arrive cut (MSG_TRUNC) and are dropped.
constexpr size_t kMaxPacket = 65536;
// Packets taken from one socket per wake-up, so that a chatty far end cannot hold the loop.
constexpr int kPacketsPerDrain = 256;

// Connects a SOCK_SEQPACKET socket to `path`; a path longer than sun_path is reached through
// its directory's descriptor. Returns the descriptor or -errno.
int connect_to(const std::string& path) {
  sockaddr_un addr{};
  std::string target = path;
  int dir = -1;
  if (target.size() >= sizeof addr.sun_path) {
    std::filesystem::path where(path);
    dir = ::open(where.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return -errno;
    target = "/proc/self/fd/" + std::to_string(dir) + "/" + where.filename().string();
  }
  int result = -ENAMETOOLONG;
  if (!target.empty() && target.size() < sizeof addr.sun_path) {
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, target.c_str(), target.size());
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      result = -errno;
    } else if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
      result = -errno;
      ::close(fd);
    } else {
      result = fd;  // non-blocking from the start: a full backlog is EAGAIN, never a wait
    }
  } else if (target.empty()) {
    result = -ENOENT;
  }
  if (dir >= 0) ::close(dir);
  return result;
}

uint64_t key_of(int channel) { return SimFarEnd::kKeyTag | static_cast<uint32_t>(channel); }

}  // namespace

SimFarEnd::~SimFarEnd() {
  for (auto& [channel, t] : ties_) ::close(t.fd);
}

int SimFarEnd::tie(int channel, const std::string& path) {
  int fd = connect_to(path);
  if (fd < 0) return -fd;
  untie(channel);
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLRDHUP;
  ev.data.u64 = key_of(channel);
  if (::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) < 0) {
    int error = errno;
    ::close(fd);
    return error;
  }
  Tie& t = ties_[channel];
  t.fd = fd;
  t.path = path;
  return 0;
}

bool SimFarEnd::untie(int channel) {
  auto it = ties_.find(channel);
  if (it == ties_.end()) return false;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, it->second.fd, nullptr);
  ::close(it->second.fd);
  ties_.erase(it);
  return true;
}

void SimFarEnd::reset() {
  while (!ties_.empty()) untie(ties_.begin()->first);
}

const SimFarEnd::Tie* SimFarEnd::find(int channel) const {
  auto it = ties_.find(channel);
  return it == ties_.end() ? nullptr : &it->second;
}

void SimFarEnd::send(int channel, std::span<const uint8_t> frame) {
  if (ties_.empty()) return;
  auto it = ties_.find(channel);
  if (it == ties_.end()) return;
  Tie& t = it->second;
  if (::send(t.fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size())) {
    ++t.sent;
  } else {
    ++t.dropped;
  }
}

void SimFarEnd::drain(uint64_t key, uint32_t events,
                      const std::function<void(int, std::span<const uint8_t>)>& arrived) {
  int channel = static_cast<int>(static_cast<uint32_t>(key & ~kKeyTag));
  static thread_local std::vector<uint8_t> buffer(kMaxPacket);
  for (int i = 0; i < kPacketsPerDrain; ++i) {
    auto it = ties_.find(channel);
    if (it == ties_.end()) return;
    ssize_t n = ::recv(it->second.fd, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n > static_cast<ssize_t>(buffer.size())) continue;  // oversized: not a frame the board can carry
    if (n > 0) {
      ++it->second.received;
      arrived(channel, std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    // An empty packet carries no frame; it is end of file only once the far end has gone
    // (level-triggered epoll wakes us again for what follows).
    if (n == 0 && !(events & (EPOLLHUP | EPOLLRDHUP))) return;
    untie(channel);
    return;
  }
}

}  // namespace board::sim
