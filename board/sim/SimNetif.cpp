#include "board/sim/SimNetif.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "board/netif.h"
#include "board/sim/TextFields.h"

namespace board::sim {

namespace {

struct Name {
  uint32_t number;
  const char* name;
};
constexpr Name kNames[] = {{SIOCGIFNAME_, "SIOCGIFNAME"},
                           {SIOCGIFINDEX_, "SIOCGIFINDEX"},
                           {SIOCGIFFLAGS_, "SIOCGIFFLAGS"},
                           {SIOCSIFFLAGS_, "SIOCSIFFLAGS"},
                           {SIOCWANDEV_, "SIOCWANDEV"}};

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

bool valid_name(std::string_view name) {
  return !name.empty() && name.size() < IFNAMSIZ && name.find_first_of(std::string_view("/\0", 2)) == name.npos;
}

std::string line_of(const SimInterface& i) {
  std::string s = std::to_string(i.index) + " " + i.name + " running=" + (i.running() ? "1" : "0") +
                  " flags=" + hex(i.flags);
  if (i.synchronous) s += " channel=" + std::to_string(i.channel) + " proto=" + hex(i.proto);
  return s + "\n";
}

}  // namespace

std::optional<uint32_t> SimNetif::request_number(std::string_view name) {
  for (const Name& n : kNames)
    if (name == n.name) return n.number;
  return std::nullopt;
}

// ---------------------------------------------------------------- sockets

int SimNetif::socket(int domain, int type, int protocol) {
  if (domain != AF_PACKET && domain != AF_INET) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  (void)type;
  (void)protocol;
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) sockets_.insert(fd);
  return fd;
}

int SimNetif::ioctl(int fd, uint32_t request, void* argp) {
  if (!owns(fd)) {
    errno = EBADF;
    return -1;
  }
  return this->request(request, static_cast<ifreq*>(argp));
}

int SimNetif::close(int fd) {
  sockets_.erase(fd);
  return ::close(fd);
}

// ---------------------------------------------------------------- the table

void SimNetif::reset() {
  interfaces_.clear();
  interfaces_[1] = {1, "lo", IFF_UP | IFF_RUNNING | IFF_LOOPBACK};
  interfaces_[2] = {2, "eth0", IFF_UP | IFF_RUNNING};
  log_.clear();
  fail_.clear();
}

bool SimNetif::name_free(std::string_view name, int index) const {
  for (const auto& [i, itf] : interfaces_)
    if (i != index && itf.name == name) return false;
  return true;
}

bool SimNetif::set(int index, std::string_view name, uint16_t flags) {
  if (index < 1 || index > kMaxIndex || !valid_name(name) || !name_free(name, index)) return false;
  auto it = interfaces_.find(index);
  if (it == interfaces_.end()) {
    if (interfaces_.size() >= kMaxInterfaces) return false;
    it = interfaces_.emplace(index, SimInterface{}).first;
    it->second.index = index;
  }
  it->second.name = std::string(name);
  it->second.flags = flags;
  return true;
}

bool SimNetif::add(std::string_view name, uint32_t channel, uint16_t flags) {
  SimInterface* i = find(name);
  if (!i) {
    // The kernel numbers a new interface above the ones it has.
    const int index = interfaces_.empty() ? 1 : interfaces_.rbegin()->first + 1;
    if (!set(index, name, flags)) return false;
    i = find(index);
  }
  i->flags = flags;
  i->synchronous = true;
  i->channel = channel;
  return true;
}

bool SimNetif::remove(std::string_view name) {
  const SimInterface* i = find(name);
  return i && remove(i->index);
}

SimInterface* SimNetif::find(std::string_view name) {
  for (auto& [index, itf] : interfaces_)
    if (itf.name == name) return &itf;
  return nullptr;
}

const SimInterface* SimNetif::find(std::string_view name) const { return const_cast<SimNetif*>(this)->find(name); }

SimInterface* SimNetif::find(int index) {
  auto it = interfaces_.find(index);
  return it == interfaces_.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------- requests

void SimNetif::fail_next(uint32_t number, int error, unsigned count) {
  if (error && count)
    fail_[number] = {error, count};
  else
    fail_.erase(number);
}

int SimNetif::request(uint32_t number, ifreq* ifr) {
  std::string text;
  for (const Name& n : kNames)
    if (n.number == number) text = n.name;
  if (text.empty()) text = hex(number);
  int error = 0;
  int result = -1;
  if (!ifr) {
    error = EFAULT;
  } else {
    text += ' ';
    if (number == SIOCGIFNAME_)
      text += "index=" + std::to_string(ifr->ifr_ifindex);
    else
      text.append(ifr->ifr_name, strnlen(ifr->ifr_name, IFNAMSIZ));
    auto fail = fail_.find(number);
    if (fail != fail_.end()) {
      error = fail->second.first;
      if (--fail->second.second == 0) fail_.erase(fail);
    } else {
      result = execute(number, ifr, text);
      if (result < 0) error = errno;
    }
  }
  if (error) result = -1;
  text += " -> " + std::to_string(result);
  if (error) {
    const char* name = strerrorname_np(error);
    text += ' ';
    text += name ? name : std::to_string(error);
  }
  if (log_.size() >= kLogLimit) log_.pop_front();
  log_.push_back(std::move(text));
  if (error) errno = error;
  return result;
}

int SimNetif::execute(uint32_t number, ifreq* ifr, std::string& text) {
  if (number == SIOCGIFNAME_) {
    const SimInterface* i = find(ifr->ifr_ifindex);
    if (!i) {
      errno = ENODEV;
      return -1;
    }
    std::memset(ifr->ifr_name, 0, sizeof ifr->ifr_name);
    std::memcpy(ifr->ifr_name, i->name.data(), std::min(i->name.size(), sizeof ifr->ifr_name - 1));
    text += " " + i->name;
    return 0;
  }
  if (number != SIOCGIFINDEX_ && number != SIOCGIFFLAGS_ && number != SIOCSIFFLAGS_ && number != SIOCWANDEV_) {
    errno = ENOTTY;
    return -1;
  }
  SimInterface* i = find(std::string_view(ifr->ifr_name, strnlen(ifr->ifr_name, IFNAMSIZ)));
  if (!i) {
    errno = ENODEV;
    return -1;
  }
  switch (number) {
    case SIOCGIFINDEX_: ifr->ifr_ifindex = i->index; return 0;
    case SIOCGIFFLAGS_: ifr->ifr_flags = static_cast<short>(i->flags); return 0;
    case SIOCSIFFLAGS_: {
      // IFF_RUNNING is the link's to say, not the caller's.
      const auto flags = static_cast<uint16_t>(ifr->ifr_flags);
      text += " flags=" + hex(flags);
      i->flags = static_cast<uint16_t>((flags & ~IFF_RUNNING) | (i->flags & IFF_RUNNING));
      return 0;
    }
    default: break;
  }
  // SIOCWANDEV
  IfSettings& s = settings_of(*ifr);
  text += " type=" + hex(s.type) + " size=" + std::to_string(s.size);
  if (!i->synchronous) {
    errno = EOPNOTSUPP;
    return -1;
  }
  if (s.type == IF_GET_IFACE_) {
    // The driver's interface block: the channel sits in its fourth word.
    if (s.size < 16 || !s.data) {
      errno = ENOBUFS;
      return -1;
    }
    std::memcpy(static_cast<char*>(s.data) + 12, &i->channel, 4);
    return 0;
  }
  if (s.type == IF_PROTO_PPP_ || s.type == IF_PROTO_HDLC_) {
    if (s.size < 4 || !s.data) {
      errno = EINVAL;
      return -1;
    }
    uint8_t block[4];
    std::memcpy(block, s.data, 4);
    text += " data=" + hex(static_cast<uint32_t>(block[0] << 24 | block[1] << 16 | block[2] << 8 | block[3]));
    i->proto = s.type;
    return 0;
  }
  errno = EINVAL;
  return -1;
}

// ---------------------------------------------------------------- text protocol

std::optional<std::string> SimNetif::execute(const std::vector<std::string_view>& t) {
  if (t.empty()) return std::nullopt;
  const std::string_view cmd = t[0];
  const size_t n = t.size() - 1;
  if (cmd == "netif") {
    // A plain interface; on an existing one only the name and the link state change.
    auto index = n == 3 ? number(t[1], 1, kMaxIndex) : std::nullopt;
    auto running = n == 3 ? yes_no(t[3]) : std::nullopt;
    if (!index || !running) return "error usage: netif <index 1-255> <name> <running 0/1>\n";
    const SimInterface* old = find(static_cast<int>(*index));
    uint16_t flags = old ? old->flags : static_cast<uint16_t>(IFF_UP);
    flags = static_cast<uint16_t>(*running ? flags | IFF_RUNNING : flags & ~IFF_RUNNING);
    if (!set(static_cast<int>(*index), t[2], flags)) return "error bad name, name in use or table full\n";
    return "ok\n";
  }
  if (cmd == "netif-sync") {
    auto channel = n >= 2 ? number(t[2], 0, 65535) : std::nullopt;
    auto flags = n == 3 ? number(t[3], 0, 0xFFFF) : std::optional<int64_t>(kSyncFlags);
    if (n < 2 || n > 3 || !channel || !flags) return "error usage: netif-sync <name> <channel> [<flags>]\n";
    if (!add(t[1], static_cast<uint32_t>(*channel), static_cast<uint16_t>(*flags)))
      return "error bad name or table full\n";
    return "ok " + std::to_string(find(t[1])->index) + "\n";
  }
  if (cmd == "netif-remove") {
    if (n != 1) return "error usage: netif-remove <index or name>\n";
    auto index = number(t[1], 1, kMaxIndex);
    return std::string("ok ") + ((index ? remove(static_cast<int>(*index)) : remove(t[1])) ? "1" : "0") + "\n";
  }
  if (cmd == "netifs") {
    if (n != 0) return "error usage: netifs\n";
    std::string out = "ok " + std::to_string(interfaces_.size()) + "\n";
    for (const auto& [index, itf] : interfaces_) out += line_of(itf);
    return out;
  }
  if (cmd == "netif-requests") {
    if (n != 0) return "error usage: netif-requests\n";
    std::string out = "ok " + std::to_string(log_.size()) + "\n";
    for (const auto& line : log_) out += line + "\n";
    return out;
  }
  if (cmd == "netif-fail") {
    auto request = n >= 1 ? request_number(t[1]) : std::nullopt;
    auto e = n >= 2 ? errno_number(t[2]) : std::nullopt;
    auto times = n == 3 ? number(t[3], 0, 1000000) : std::optional<int64_t>(1);
    if (n < 2 || n > 3 || !request || !e || !times)
      return "error usage: netif-fail <SIOCGIFNAME|SIOCGIFINDEX|SIOCGIFFLAGS|SIOCSIFFLAGS|SIOCWANDEV> <errno> "
             "[<count>]\n";
    fail_next(*request, *e, static_cast<unsigned>(*times));
    return "ok\n";
  }
  return std::nullopt;
}

}  // namespace board::sim
