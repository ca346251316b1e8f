#include "slots/HdlcModemSlot.h"

#include <net/if.h>

#include <cstring>
#include <iostream>

#include "board/netif.h"
#include "hardware/SwitchRoutes.h"
#include "slots/ModemFactory.h"

namespace {

ifreq request_for(const std::string& name) {
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
  return ifr;
}

// SIOCWANDEV with a settings block of the given type and buffer.
bool wandev(const board::InterfaceSocket& sock, const std::string& name, uint32_t type, void* data, uint32_t size) {
  ifreq ifr = request_for(name);
  board::IfSettings& s = board::settings_of(ifr);
  s.type = type;
  s.size = size;
  s.data = data;
  return sock.request(board::SIOCWANDEV_, ifr) >= 0;
}

}  // namespace

void HdlcModemSlot::unbind() {
  if (!bound) return;
  bound = false;
  if (owner) owner->ReleaseModemSlot(this);
}

void HdlcModemSlot::initModem() {
  if (pid != -1) return;
  board::InterfaceSocket sock;
  if (!sock) return;
  alignas(4) unsigned char iface[kIfaceBufferSize] = {};
  if (!wandev(sock, ifname, board::IF_GET_IFACE_, iface, sizeof iface)) {
    std::cerr << *this << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
    return;
  }
  uint32_t word;
  std::memcpy(&word, iface + 12, sizeof word);
  channel = static_cast<int>(word);
  // The interface's channel may still feed the outputs of its last slot for their grace: not
  // with this slot's frames.
  SwitchRoutes::claimed(channel);
  uint32_t none = 0;
  if (!wandev(sock, ifname, board::IF_PROTO_PPP_, &none, sizeof none)) {
    std::cerr << *this << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
    return;
  }
  pppd_exec(ifname.c_str(), kOptions);
}

HdlcModemSlot::~HdlcModemSlot() {
  pppd_kill();
  unbind();
  // The channel stays with the interface, so pppd's last frames may keep their way out.
  SwitchRoutes::release(channel, SwitchRoutes::kHeldElsewhere);
  board::InterfaceSocket sock;
  if (!sock) return;
  ifreq ifr = request_for(ifname);
  if (sock.request(board::SIOCGIFFLAGS_, ifr) < 0) {
    std::cerr << *this << "SIOCGIFFLAGS fail!!!" << std::endl;
    return;
  }
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags & ~IFF_UP);
  if (sock.request(board::SIOCSIFFLAGS_, ifr) < 0) {
    std::cerr << *this << "SIOCSIFFLAGS fail!!!" << std::endl;
    return;
  }
  board::RawHdlcProto raw{0, 0};
  if (!wandev(sock, ifname, board::IF_PROTO_HDLC_, &raw, sizeof raw)) {
    std::cerr << *this << "SIOCWANDEV/IF_PROTO_HDLC fail!" << std::endl;
  }
}
