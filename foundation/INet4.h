#pragma once
// INet4::Addr: the daemon's IPv4 endpoint. It is the socket address itself (passed unchanged to
// bind, connect and sendto) and converts from and to the text form "a.b.c.d[:port]".
// Net: the host name and the local interfaces' IPv4 addresses or names, filtered by class.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

namespace INet4 {

struct Addr : sockaddr_in {
  Addr() { Reset(); }

  // All bytes zero, family AF_INET.
  void Reset();
  // Parses "a.b.c.d" or "a.b.c.d:port"; true when the address part was accepted.
  // With a colon the rest must be a decimal port in 0..65535 (leading spaces and a sign
  // allowed, no digits meaning 0, trailing blanks ignored); a port out of range or followed by
  // anything else fails the whole text: *port becomes -1 and address and port stay as they
  // were. A valid port is stored and given to
  // *port even when the address is rejected. Without a colon *port becomes -1 and the stored
  // port is kept. A rejected address leaves the stored address as it was.
  bool Assign(const char* text, int* port);
  // The same; a text holding a NUL byte is refused whole (*port -1, nothing stored).
  bool Assign(const std::string& text, int* port);
  // Stores a 32-bit address given in network byte order.
  void Assign(unsigned long address);
  // Address and port equal (the family is not compared).
  bool IsEqual(const Addr& o) const;
  // The four address bytes in network order.
  std::vector<unsigned char> GetVector() const;
  // "a.b.c.d:port".
  std::string GetString() const;
  void Put(std::ostream& os) const;

  sockaddr* sa() { return reinterpret_cast<sockaddr*>(this); }
  const sockaddr* sa() const { return reinterpret_cast<const sockaddr*>(this); }
  static constexpr socklen_t sa_len() { return sizeof(sockaddr_in); }
};

static_assert(sizeof(Addr) == 16, "an Addr is a plain sockaddr_in");

// The address a text names, in network order: a dotted quad or one of its shorter classic forms
// ("10.2" is 10.0.0.2), from its first character to its last. False for any other text (a host
// name, "", "300.1.1.1", "10.0.0.5 junk", an address followed by a NUL and more), which leaves
// `network_order` as it was: a made-up address would be sent to or filtered on.
bool ParseAddress(const std::string& text, uint32_t& network_order);

}  // namespace INet4

namespace Net {

// Selection bits, combined with OR; 0 selects every address.
typedef unsigned ifconfig_mode_t;
constexpr ifconfig_mode_t ifconfig_not_loopback = 1;  // interfaces not named "lo"
constexpr ifconfig_mode_t ifconfig_link_local = 2;    // 169.254.0.0/16
constexpr ifconfig_mode_t ifconfig_private = 4;       // 10/8, 172.16/12, 192.168/16

// The host name; empty when it cannot be read.
std::string hostname();
// Sets the host name; the result of sethostname.
int hostname(const std::string& name);
// Appends the selected IPv4 interface addresses (port 0) in the kernel's interface order and
// returns their number, or -1 when the interfaces cannot be listed. At most 16 interfaces.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
// Appends the names of the selected interfaces whose flags hold every bit of `flags`.
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags);

}  // namespace Net
