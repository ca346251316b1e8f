#include "board/sim/SimNetif.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "board/netif.h"
#include "board/sim/SimBoard.h"

namespace board::sim {

namespace {

struct Name {
  uint32_t number;
  const char* name;
};
constexpr Name kNames[] = {{SIOCWANDEV_, "SIOCWANDEV"},
                           {SIOCGIFINDEX_, "SIOCGIFINDEX"},
                           {SIOCGIFFLAGS_, "SIOCGIFFLAGS"},
                           {SIOCSIFFLAGS_, "SIOCSIFFLAGS"}};

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

}  // namespace

std::optional<uint32_t> SimNetif::request_number(std::string_view name) {
  for (const Name& n : kNames)
    if (name == n.name) return n.number;
  return std::nullopt;
}

void SimNetif::add(const std::string& name, uint32_t channel, uint16_t flags) {
  for (auto& i : interfaces_) {
    if (i.name == name) {
      i.channel = channel;
      i.flags = flags;
      return;
    }
  }
  interfaces_.push_back({name, next_index_++, flags, channel, IF_PROTO_HDLC_});
}

void SimNetif::remove(const std::string& name) { std::erase_if(interfaces_, [&](auto& i) { return i.name == name; }); }

void SimNetif::fail_next(uint32_t number, int error, unsigned count) { fail_[number] = {error, count}; }

void SimNetif::reset() {
  interfaces_.clear();
  log_.clear();
  fail_.clear();
  next_index_ = 10;
}

const SimWanInterface* SimNetif::find(std::string_view name) const {
  for (const auto& i : interfaces_)
    if (i.name == name) return &i;
  return nullptr;
}

SimWanInterface* SimNetif::lookup(const char* name) {
  const std::string_view n(name, strnlen(name, IFNAMSIZ));
  for (auto& i : interfaces_)
    if (i.name == n) return &i;
  return nullptr;
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
    text.append(ifr->ifr_name, strnlen(ifr->ifr_name, IFNAMSIZ));
    auto& fail = fail_[number];
    if (fail.second > 0) {
      --fail.second;
      error = fail.first;
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
  SimWanInterface* i = lookup(ifr->ifr_name);
  if (!i) {
    errno = ENODEV;
    return -1;
  }
  switch (number) {
    case SIOCGIFINDEX_: ifr->ifr_ifindex = i->index; return 0;
    case SIOCGIFFLAGS_: ifr->ifr_flags = static_cast<short>(i->flags); return 0;
    case SIOCSIFFLAGS_:
      text += " flags=" + hex(static_cast<uint16_t>(ifr->ifr_flags));
      i->flags = static_cast<uint16_t>(ifr->ifr_flags);
      return 0;
    case SIOCWANDEV_: {
      IfSettings& s = settings_of(*ifr);
      text += " type=" + hex(s.type) + " size=" + std::to_string(s.size);
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
    default: break;
  }
  errno = ENOTTY;
  return -1;
}

}  // namespace board::sim

namespace board {

int netif_ioctl(int, uint32_t request, ifreq* ifr) { return sim::SimBoard::instance().netif().request(request, ifr); }

}  // namespace board
