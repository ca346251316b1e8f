#include "slots/ModemFactory.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "board/mctl.h"
#include "board/netif.h"
#include "foundation/Escaped.h"
#include "foundation/Hex.h"
#include "foundation/INet4.h"
#include "slots/AuthClient.h"
#include "slots/AuthRecord.h"
#include "slots/DspModemSlot.h"
#include "slots/HdlcModemSlot.h"

uint16_t ModemFactory::DefaultAuthPort() {
  const char* text = std::getenv("VOXRELAY_AUTH_PORT");
  if (!text || !*text) return kAuthPort;
  char* end = nullptr;
  const long port = std::strtol(text, &end, 10);
  return *end == '\0' && port > 0 && port <= 65535 ? static_cast<uint16_t>(port) : kAuthPort;
}

ModemFactory::ModemFactory(uint16_t port) {
  IQuery();
  Init(port);
  event.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
}

ModemFactory::~ModemFactory() {
  acceptPause.Cancel();
  for (ModemSlot* s : modems) s->owner = nullptr;
  for (AuthClient* c : clients) delete c;
}

void ModemFactory::PutHeader(std::ostream& os) const { os << "modem[" << modemCount << "," << modems.size() << "]: "; }

std::ostream& operator<<(std::ostream& os, const ModemFactory& f) {
  f.PutHeader(os);
  return os;
}

bool ModemFactory::ProgramTexts(TERM::ModemParams const& params) const {
  // A program argument ends at its first NUL: the program would be given another text than
  // the one the controller sent and the log shows.
  const auto clean = [&](const char* field, const std::string& text) {
    if (text.find('\0') == std::string::npos) return true;
    std::cerr << *this << "modem refused: NUL byte in " << field << " " << ext::escaped(text) << std::endl;
    return false;
  };
  if (!clean("cid", params.get_cid())) return false;
  if (params.has_execfile() && !clean("execfile", params.get_execfile())) return false;
  if (params.has_execargs())
    for (const auto& arg : params.get_execargs())
      if (!clean("execargs", arg)) return false;
  return true;
}

Slot* ModemFactory::INewSlot(LGCP::CreateParams const& p) {
  if (p.getID() != LGCP::CreateParams::e_modem) return nullptr;
  const TERM::ModemParams& params = p.get_modem();
  if (!ProgramTexts(params)) return nullptr;
  if (params.has_ddm() && params.get_ddm().size() > 0 && !freeInterfaces.empty()) {
    auto* slot = new HdlcModemSlot(params, freeInterfaces.front(), this);
    freeInterfaces.pop_front();
    modems.push_back(slot);
    hdlcModems.push_back(slot);
    return slot;
  }
  auto* slot = new DspModemSlot(params, this);
  modems.push_back(slot);
  dspModems.push_back(slot);
  return slot;
}

void ModemFactory::Query(LGCP::Resources& r) {
  IQuery();
  r.set_modem(modemCount);
  r.set_digital_modems(static_cast<int>(freeInterfaces.size()));
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot) {
  std::erase(modems, slot);
  std::erase(dspModems, slot);
}

void ModemFactory::ModemTaken(DspModemSlot& holder) {
  // Losing a modem leaves the lists as they are; the copy keeps the walk safe whatever the
  // abort signals set off.
  const std::vector<DspModemSlot*> slots = dspModems;
  for (DspModemSlot* s : slots)
    if (s != &holder && s->modem == holder.modem) s->ModemGone("given to another slot");
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot) {
  std::erase(modems, slot);
  std::erase(hdlcModems, slot);
  freeInterfaces.push_back(slot->ifname);
}

uint64_t ModemFactory::CurrentCall(int session, ModemSlot** holder) const {
  ModemSlot* s = FindModemByDsp(session);
  if (holder) *holder = s;
  if (session == -1) return kDigitalCall;
  return s ? s->call : 0;
}

void ModemFactory::SendAuth(const attr* record) {
  const uint64_t call = CurrentCall(record->session);
  for (AuthClient* c : clients) {
    if (call && c->named && c->session == record->session && c->SpeaksFor(record->session) == call) {
      c->Send(record);
      return;
    }
  }
  std::clog << *this << "send error: unknown auth " << record->session << " session." << std::endl;
}

void ModemFactory::OnAuth(AuthClient& from, const attr* record) {
  const int session = record->session;
  ModemSlot* holder = nullptr;
  const uint64_t call = CurrentCall(session, &holder);
  AuthClient::Speaks* s = from.SpeaksOn(session);
  if (auth::WellFormed(*record)) {
    from.session = session;
    from.named = true;
    if (record->kind == auth::kRequest) {
      // A request binds the connection to the call holding the modem now, unless it is the
      // first record of a connection whose opening call is over: that one is the ended call's.
      if (!s && call) s = &from.speaks.emplace_back(AuthClient::Speaks{session, call, false});
      if (s && (s->spoke || !s->call)) s->call = call;
    }
    if (s) s->spoke = true;
  }
  if (!holder) {
    std::cerr << *this << "receive auth request for unknown session " << session << std::endl;
    return;
  }
  if (!s || s->call != call) {
    std::cerr << *this << "auth record from " << from.peer.GetString() << " (session " << session << ", kind "
              << record->kind << ") speaks for " << (s && s->call ? "a call that is over" : "no call of the session")
              << ", dropped." << std::endl;
    return;
  }
  holder->OnAuth(record);
}

void ModemFactory::OnAuthSocketDisconnect(AuthClient* client) {
  std::clog << *this << "auth client " << client->peer.GetString() << " disconnected." << std::endl;
  std::erase(clients, client);
  delete client;
}

ModemSlot* ModemFactory::FindModemByDsp(int id) const {
  for (ModemSlot* s : modems)
    if (s->EqAuthId(id)) return s;
  return nullptr;
}

// ---------------------------------------------------------------- the listener

void ModemFactory::Init(uint16_t port) {
  INet4::Addr addr;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock) return;
  // A restarted daemon must get its port back while old connections linger in TIME_WAIT.
  const int on = 1;
  ::setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(sock.get(), addr.sa(), sizeof(sockaddr_in)) < 0) {
    std::cerr << *this << "fail to bind auth socket: " << std::strerror(errno) << std::endl;
    return;
  }
  if (::listen(sock.get(), kBacklog) < 0) {
    std::cerr << *this << "fail to listen auth socket: " << std::strerror(errno) << std::endl;
    return;
  }
  if (!NonBlockMode(sock.get())) {
    std::cerr << *this << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    return;
  }
  listenFd = std::move(sock);
  std::ostringstream header;
  PutHeader(header);
  acceptPause.Watch(event, listenFd, POLLIN, std::cerr, header.str().c_str());
}

uint16_t ModemFactory::AuthPort() const {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (!listenFd || ::getsockname(listenFd.get(), reinterpret_cast<sockaddr*>(&a), &len) < 0) return 0;
  return ntohs(a.sin_port);
}

void ModemFactory::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << *this << "auth server socket error." << std::endl;
    acceptPause.Cancel();
    listenFd.close();
    event.Release();
    event.UnBind();
    return;
  }
  if (!(revents & POLLIN)) return;
  INet4::Addr peer;
  socklen_t len = sizeof(sockaddr_in);
  Fd conn(::accept4(listenFd.get(), peer.sa(), &len, SOCK_CLOEXEC));
  if (!conn) {
    const int error = errno;
    std::ostringstream header;
    PutHeader(header);
    acceptPause.Pause(error, event, listenFd, std::cerr, header.str().c_str());
    return;
  }
  acceptPause.Accepted();
  if (!NonBlockMode(conn.get())) {
    std::cerr << *this << "fail to set nonblock mode." << std::endl;
    return;
  }
  if (clients.size() >= kMaxClients) {
    // The oldest peer that has not named its session yet gives its place up; peers that did
    // are PPP sides waiting for their call's activation, and keep theirs.
    const auto quiet = std::find_if(clients.begin(), clients.end(), [](const AuthClient* c) { return c->Quiet(); });
    if (quiet == clients.end()) {
      std::cerr << *this << "too many auth connections, refused " << peer.GetString() << std::endl;
      return;
    }
    (*quiet)->Close(("named no session, closed for " + peer.GetString() + ".").c_str());
  }
  auto* client = new AuthClient(std::move(conn), peer, *this);
  // Until a request binds it anew, the connection speaks for the calls holding modems now.
  // Digital calls share one identity: on session -1 it always speaks for it.
  client->speaks.push_back({-1, kDigitalCall, false});
  for (ModemSlot* s : modems)
    if (s->holds_session() && !client->SpeaksOn(s->modem_id())) client->speaks.push_back({s->modem_id(), s->call, false});
  // A client that cannot be watched would never be heard, nor noticed when it goes: it is
  // closed now rather than kept, and takes no place among the clients.
  if (!client->Activate()) {
    const int error = errno;
    std::cerr << *this << "auth connection from " << peer.GetString() << " closed: " << std::strerror(error)
              << std::endl;
    delete client;
    return;
  }
  clients.push_back(client);
  std::cerr << *this << "incoming auth connection from " << peer.GetString() << std::endl;
}

// ---------------------------------------------------------------- the device scan

void ModemFactory::IQuery() {
  update_modemDevices();
  update_hdlcDevices();
}

void ModemFactory::update_modemDevices() {
  modemCount = 0;
  const int fd = board::open(board::mctl::kPath, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << *this << "fail to open " << ext::quoted(board::mctl::kPath) << " : " << std::strerror(errno)
              << std::endl;
    return;
  }
  int n = -1;
  while ((n = board::ioctl_value(fd, board::mctl::MDM_ENUM, static_cast<unsigned long>(n))) >= 0) ++modemCount;
  if (errno != ENODEV) std::cerr << *this << "enum fail: " << std::strerror(errno) << std::endl;
  board::close(fd);
}

void ModemFactory::update_hdlcDevices() {
  freeInterfaces.clear();
  board::InterfaceSocket sock;
  if (!sock) return;
  for (int n = 0; n < kMaxInterfaces; ++n) {
    ifreq ifr{};
    std::snprintf(ifr.ifr_name, IFNAMSIZ, "hdlc%d", n);
    if (sock.request(board::SIOCGIFINDEX_, ifr) < 0) break;
    if (sock.request(board::SIOCGIFFLAGS_, ifr) < 0) break;
    if (!(ifr.ifr_flags & IFF_POINTOPOINT) || (ifr.ifr_flags & IFF_LOOPBACK)) continue;
    // An interface that a live slot holds is not free, whatever the system says of it.
    const std::string name(ifr.ifr_name);
    if (std::none_of(hdlcModems.begin(), hdlcModems.end(), [&](const HdlcModemSlot* s) { return s->ifname == name; }))
      freeInterfaces.push_back(name);
  }
  if (freeInterfaces.empty()) return;
  std::clog << *this << "found point-o-point devices:";
  for (const auto& name : freeInterfaces) std::clog << ' ' << name;
  std::clog << std::endl;
}
