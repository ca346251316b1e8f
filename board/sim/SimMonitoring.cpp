#include "board/sim/SimMonitoring.h"

#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "foundation/Paths.h"

namespace board::sim {

namespace {

std::optional<long> whole(std::string_view t, long lo, long hi) {
  long v = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, 10);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || v < lo || v > hi) return std::nullopt;
  return v;
}

std::optional<bool> yes_no(std::string_view t) {
  if (t == "yes" || t == "1") return true;
  if (t == "no" || t == "0") return false;
  return std::nullopt;
}

std::string ok(const std::string& text = {}) { return text.empty() ? "ok\n" : "ok " + text + "\n"; }
std::string error(const std::string& text) { return "error " + text + "\n"; }

}  // namespace

SimMonitoring& SimMonitoring::instance() {
  static SimMonitoring monitoring;
  return monitoring;
}

SimMonitoring::SimMonitoring() {
  interfaces_[1] = {"lo", true};
  interfaces_[2] = {"eth0", true};
}

int SimMonitoring::socket(int domain, int type, int protocol) {
  if (domain != AF_PACKET) {
    errno = EAFNOSUPPORT;
    return -1;
  }
  (void)type;
  (void)protocol;
  // A descriptor of its own, so that the daemon's close and its descriptor count stay real.
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd >= 0) sockets_.insert(fd);
  return fd;
}

int SimMonitoring::ioctl(int fd, unsigned long request, void* argp) {
  if (!owns(fd)) {
    errno = EBADF;
    return -1;
  }
  auto* r = static_cast<ifreq*>(argp);
  if (!r) {
    errno = EFAULT;
    return -1;
  }
  if (request == 0x8910 /* SIOCGIFNAME */) {
    auto it = interfaces_.find(r->ifr_ifindex);
    if (it == interfaces_.end()) {
      errno = ENODEV;
      return -1;
    }
    std::memset(r->ifr_name, 0, sizeof r->ifr_name);
    std::memcpy(r->ifr_name, it->second.name.data(), std::min(it->second.name.size(), kMaxName));
    return 0;
  }
  if (request == 0x8913 /* SIOCGIFFLAGS */) {
    const std::string name(r->ifr_name, strnlen(r->ifr_name, sizeof r->ifr_name));
    for (const auto& [index, itf] : interfaces_) {
      if (itf.name != name) continue;
      r->ifr_flags = static_cast<short>(IFF_UP | (itf.running ? IFF_RUNNING : 0));
      return 0;
    }
    errno = ENODEV;
    return -1;
  }
  errno = ENOTTY;
  return -1;
}

int SimMonitoring::close(int fd) {
  sockets_.erase(fd);
  return ::close(fd);
}

std::string SimMonitoring::framer_text(int n, const SimFramer& f) {
  char text[512];
  std::snprintf(text, sizeof text,
                "Framer                  : %d\n"
                "Current state           : %s\n"
                "Loss of Signal          : %s\n"
                "Loss of Frame Alignment : %s\n"
                "Receive Slip Negative   : %d\n"
                "Receive Slip Positive   : %d\n",
                n, f.state.c_str(), f.signal_loss ? "yes" : "no", f.frame_align_loss ? "yes" : "no",
                f.slips_negative, f.slips_positive);
  return text;
}

// The simulated board writes its files only under a private root, never into the machine's /proc.
bool SimMonitoring::write_framer(int n, const SimFramer& f) {
  if (n < 0 || n >= kFramers || Paths::root().empty()) {
    errno = EINVAL;
    return false;
  }
  const std::string dir = Paths::rooted(kFramerDir);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string path = dir + std::to_string(n);
  std::ofstream out(path + ".new", std::ios::trunc);
  out << framer_text(n, f);
  out.close();
  return out && std::rename((path + ".new").c_str(), path.c_str()) == 0;
}

bool SimMonitoring::remove_framer(int n) {
  if (n < 0 || n >= kFramers || Paths::root().empty()) return false;
  return ::unlink((Paths::rooted(kFramerDir) + std::to_string(n)).c_str()) == 0;
}

std::optional<std::string> SimMonitoring::execute(const std::vector<std::string_view>& t) {
  if (t.empty()) return std::nullopt;
  const std::string_view cmd = t[0];
  const size_t n = t.size() - 1;
  if (cmd == "netif") {
    auto index = n == 3 ? whole(t[1], 0, kMaxInterfaces - 1) : std::nullopt;
    auto running = n == 3 ? yes_no(t[3]) : std::nullopt;
    if (!index || !running || t[2].empty() || t[2].size() > kMaxName)
      return error("usage: netif <index 0-15> <name> <running 0/1>");
    interfaces_[static_cast<int>(*index)] = {std::string(t[2]), *running};
    return ok();
  }
  if (cmd == "netif-remove") {
    auto index = n == 1 ? whole(t[1], 0, kMaxInterfaces - 1) : std::nullopt;
    if (!index) return error("usage: netif-remove <index>");
    return ok(std::to_string(interfaces_.erase(static_cast<int>(*index))));
  }
  if (cmd == "netifs" && n == 0) {
    std::string out = ok(std::to_string(interfaces_.size()));
    for (const auto& [index, itf] : interfaces_)
      out += std::to_string(index) + " " + itf.name + " running=" + (itf.running ? "1" : "0") + "\n";
    return out;
  }
  if (cmd == "framer") {
    // framer <n> <state, '_' for blanks> <loss of signal> <loss of alignment> <neg> <pos>
    auto framer = n == 6 ? whole(t[1], 0, kFramers - 1) : std::nullopt;
    auto los = n == 6 ? yes_no(t[3]) : std::nullopt;
    auto lofa = n == 6 ? yes_no(t[4]) : std::nullopt;
    auto neg = n == 6 ? whole(t[5], INT32_MIN, INT32_MAX) : std::nullopt;
    auto pos = n == 6 ? whole(t[6], INT32_MIN, INT32_MAX) : std::nullopt;
    if (!framer || !los || !lofa || !neg || !pos || t[2].size() > 64)
      return error("usage: framer <0-3> <state> <los yes/no> <lofa yes/no> <neg slips> <pos slips>");
    SimFramer f;
    f.state = std::string(t[2]);
    for (char& c : f.state)
      if (c == '_') c = ' ';
    f.signal_loss = *los;
    f.frame_align_loss = *lofa;
    f.slips_negative = static_cast<int>(*neg);
    f.slips_positive = static_cast<int>(*pos);
    if (!write_framer(static_cast<int>(*framer), f)) return error(std::string("write: ") + std::strerror(errno));
    return ok();
  }
  if (cmd == "framer-remove") {
    auto framer = n == 1 ? whole(t[1], 0, kFramers - 1) : std::nullopt;
    if (!framer) return error("usage: framer-remove <0-3>");
    return ok(remove_framer(static_cast<int>(*framer)) ? "1" : "0");
  }
  return std::nullopt;
}

}  // namespace board::sim
