#include "foundation/INet4.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>

namespace INet4 {

void Addr::Reset() {
  std::memset(static_cast<sockaddr_in*>(this), 0, sizeof(sockaddr_in));
  sin_family = AF_INET;
}

namespace {

// The port text after the colon: decimal, leading spaces and a sign allowed, no digits meaning
// 0, trailing blanks ignored. Anything else, or a value outside 0..65535, is refused: taking the
// low 16 bits would silently turn a typo into some other port.
bool parse_port(const char* text, int* out) {
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (errno == ERANGE) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return false;
  if (v < 0 || v > 65535) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

bool Addr::Assign(const char* text, int* port) {
  const char* colon = std::strchr(text, ':');
  std::string host;
  if (colon) {
    int p = 0;
    if (!parse_port(colon + 1, &p)) {
      if (port) *port = -1;
      return false;
    }
    sin_port = htons(static_cast<uint16_t>(p));
    if (port) *port = p;
    host.assign(text, colon);
  } else {
    if (port) *port = -1;
    host = text;
  }
  return ParseAddress(host, sin_addr.s_addr);
}

bool Addr::Assign(const std::string& text, int* port) {
  // A NUL inside would end the text early, and what follows it would go unseen.
  if (text.find('\0') != std::string::npos) {
    if (port) *port = -1;
    return false;
  }
  return Assign(text.c_str(), port);
}

bool ParseAddress(const std::string& text, uint32_t& network_order) {
  // inet_aton stops at a blank and ignores the rest, and a NUL ends the text it sees: only a
  // text made of an address's characters alone, which inet_aton then reads to its end, is one.
  if (text.find_first_not_of("0123456789abcdefABCDEFxX.") != std::string::npos) return false;
  in_addr a{};
  if (inet_aton(text.c_str(), &a) == 0) return false;
  network_order = a.s_addr;
  return true;
}

void Addr::Assign(unsigned long address) { sin_addr.s_addr = static_cast<in_addr_t>(address); }

bool Addr::IsEqual(const Addr& o) const {
  return sin_addr.s_addr == o.sin_addr.s_addr && sin_port == o.sin_port;
}

std::vector<unsigned char> Addr::GetVector() const {
  const auto* b = reinterpret_cast<const unsigned char*>(&sin_addr.s_addr);
  return {b[0], b[1], b[2], b[3]};
}

std::string Addr::GetString() const {
  char text[INET_ADDRSTRLEN + 8];
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&sin_addr.s_addr);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u:%d", b[0], b[1], b[2], b[3], ntohs(sin_port));
  return text;
}

void Addr::Put(std::ostream& os) const { os << GetString(); }

}  // namespace INet4

namespace Net {

std::string hostname() {
  char name[512];
  if (gethostname(name, sizeof name) != 0) return std::string();
  name[sizeof name - 1] = '\0';
  return name;
}

int hostname(const std::string& name) { return sethostname(name.data(), name.size()); }

namespace {

constexpr unsigned max_interfaces = 16;

bool in_net(in_addr_t a, in_addr_t net, unsigned bits) {
  const in_addr_t mask = bits == 0 ? 0 : ~in_addr_t(0) << (32 - bits);
  return (ntohl(a) & mask) == net;
}

bool selected(const char* name, in_addr_t a, ifconfig_mode_t mode) {
  if (mode == 0) return true;
  if ((mode & ifconfig_not_loopback) && strcasecmp(name, "lo") != 0) return true;
  if ((mode & ifconfig_link_local) && in_net(a, 0xA9FE0000u, 16)) return true;
  if ((mode & ifconfig_private) &&
      (in_net(a, 0xC0A80000u, 16) || in_net(a, 0xAC100000u, 12) || in_net(a, 0x0A000000u, 8)))
    return true;
  return false;
}

// Walks the first 16 interface records of family AF_INET, calling f(socket, record) for each
// selected one; -1 when the socket or the listing fails.
template <class F>
int each_selected(ifconfig_mode_t mode, F f) {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  ifreq records[max_interfaces];
  std::memset(records, 0, sizeof records);
  ifconf conf;
  conf.ifc_len = sizeof records;
  conf.ifc_req = records;
  if (ioctl(s, SIOCGIFCONF, &conf) < 0) {
    close(s);
    return -1;
  }
  int n = 0;
  const unsigned got = static_cast<unsigned>(conf.ifc_len) / sizeof(ifreq);
  for (unsigned i = 0; i < got && i < max_interfaces; ++i) {
    ifreq& r = records[i];
    if (r.ifr_addr.sa_family != AF_INET) continue;
    char name[IFNAMSIZ + 1] = {};
    std::memcpy(name, r.ifr_name, IFNAMSIZ);
    in_addr_t a = reinterpret_cast<const sockaddr_in*>(&r.ifr_addr)->sin_addr.s_addr;
    if (!selected(name, a, mode)) continue;
    if (f(s, r)) ++n;
  }
  close(s);
  return n;
}

}  // namespace

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode) {
  return each_selected(mode, [&](int s, ifreq r) {
    if (ioctl(s, SIOCGIFADDR, &r) < 0) return false;
    INet4::Addr a;
    std::memcpy(static_cast<sockaddr_in*>(&a), &r.ifr_addr, sizeof(sockaddr_in));
    out.push_back(a);
    return true;
  });
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags) {
  return each_selected(mode, [&](int s, ifreq r) {
    char name[IFNAMSIZ + 1] = {};
    std::memcpy(name, r.ifr_name, IFNAMSIZ);
    if (ioctl(s, SIOCGIFADDR, &r) < 0) return false;
    if (ioctl(s, SIOCGIFFLAGS, &r) < 0) return false;
    const unsigned have = static_cast<unsigned short>(r.ifr_flags);
    if ((have & flags) != flags) return false;
    out.push_back(name);
    return true;
  });
}

}  // namespace Net
