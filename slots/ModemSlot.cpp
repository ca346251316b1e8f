#include "slots/ModemSlot.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "foundation/Escaped.h"
#include "foundation/Hex.h"
#include "foundation/INet4.h"
#include "slots/AuthRecord.h"
#include "slots/ModemFactory.h"

ModemSlot::ModemSlot(TERM::ModemParams const& p, ModemFactory* factory) : params(p), owner(factory) {
  childWait.Bind(this, &ModemSlot::on_terminate);
}

ModemSlot::~ModemSlot() { pppd_kill(); }

void ModemSlot::PutHeader(std::ostream& os) const {
  Put(os);
  os << ": ";
}

std::ostream& operator<<(std::ostream& os, const ModemSlot& slot) {
  slot.PutHeader(os);
  return os;
}

namespace {

// An IA5String field's text, taken from a fixed field up to its NUL and never past its end.
std::string text_field(const char* field) { return std::string(field, strnlen(field, auth::kTextSize)); }

// The halves are unsigned words: a count of 2^31 or more in either half travels positive.
void set64(BASE::INTEGER64Bits& v, uint32_t high, uint32_t low) {
  v.get_low().setUnsigned(low);
  v.get_high().setUnsigned(high);
}

}  // namespace

bool ModemSlot::IActivate(TERM::TermActivateParams const& p) {
  if (p.getID() != TERM::TermActivateParams::e_modem) {
    std::cerr << *this << "modem's activation requests parameter." << std::endl;
    return false;
  }
  if (!holds_session()) {
    // No modem, or the session's number is another call's now: nothing goes to the PPP side,
    // so the activation is not done.
    std::cerr << *this << "modem session not held, nothing sent to portslave." << std::endl;
    return false;
  }
  const TERM::ModemUserParameters& user = p.get_modem();
  const int session = modem_id();
  voaccept accept{{sizeof(voaccept), auth::kAccept, session}, 1};
  voip ip{{sizeof(voip), auth::kIp, session}, 0, 0, 0, 0, 0, static_cast<uint32_t>(user.get_mtu().getValue())};
  // A text that names no address would reach the PPP side as 255.255.255.255: the activation
  // is refused instead, and nothing is sent.
  bool parsed = true;
  const auto address = [&](const char* field, const std::string& text, uint32_t& word) {
    if (INet4::ParseAddress(text, word)) return;
    std::cerr << *this << "modem's activation refused: " << field << " " << ext::quoted(ext::escaped(text))
              << " is not an IPv4 address" << std::endl;
    parsed = false;
  };
  address("remoteAddr", user.get_remoteAddr(), ip.remoteAddr);
  address("netmask", user.get_netmask(), ip.netmask);
  address("gateway", user.get_gateway(), ip.gateway);
  address("dns", user.get_dns(), ip.dns);
  if (!parsed) return false;
  if (owner) {
    owner->SendAuth(&accept.head);
    owner->SendAuth(&ip.head);
  }
  return true;
}

void ModemSlot::OnAuth(const attr* record) {
  switch (record->kind) {
    case auth::kRequest: {
      if (record->length != sizeof(voauth)) {
        std::cerr << *this << "auth request, invalid size: " << record->length << std::endl;
        return;
      }
      const auto* r = reinterpret_cast<const voauth*>(record);
      TERM::ModemProceeding m;
      TERM::MdmRequestUserAuth& a = m.select_auth();
      a.set_username(text_field(r->username));
      a.set_password(text_field(r->password));
      OnModem(m);
      return;
    }
    case auth::kAccept: std::cerr << *this << "auth accept, ignored." << std::endl; return;
    case auth::kIp: std::cerr << *this << "auth ip, ignored." << std::endl; return;
    case auth::kAccounting: {
      if (record->length != sizeof(voacct)) {
        std::cerr << *this << "auth accounting, invalid size: " << record->length << std::endl;
        return;
      }
      const auto* r = reinterpret_cast<const voacct*>(record);
      TERM::ModemProceeding m;
      TERM::MdmAccounting& a = m.select_acct();
      set64(a.get_octetsOut(), r->octetsOutHigh, r->octetsOutLow);
      set64(a.get_octetsIn(), r->octetsInHigh, r->octetsInLow);
      set64(a.get_packetsOut(), r->packetsOutHigh, r->packetsOutLow);
      set64(a.get_packetsIn(), r->packetsInHigh, r->packetsInLow);
      set64(a.get_time(), 0, r->sessionTime);
      OnModem(m);
      return;
    }
    default:
      std::cerr << *this << "unknown request from portslave: 0x" << std::hex << record->kind << std::dec << std::endl;
  }
}

int ModemSlot::Launch(const std::vector<std::string>& argv, const ChildLauncher::Prelude& prelude) {
  const int child = ChildLauncher::current->Start(argv, prelude);
  if (child < 0) {
    const int e = errno;
    std::cerr << *this << "vfork fail: " << std::strerror(e) << std::endl;
    OnAbort(e);
  }
  return child;
}

bool ModemSlot::FinishDestroy() {
  if (!destroying) return false;
  terminateTimer.reset();
  unbind();
  Slot::on_release();
  return true;
}

void ModemSlot::Started(int child) {
  pid = child;
  killed = false;
  childWait.Attach(child);
}

void ModemSlot::pppd_exec(const char* device, const char* options) {
  if (pid != -1) return;
  std::vector<std::string> argv{params.has_execfile()
                                    ? std::string(params.get_execfile())
                                    : std::string(kPppd)};
  if (params.has_execargs()) {
    for (const auto& a : params.get_execargs()) {
      if (argv.size() >= kMaxArgs - 1) break;  // the program, 62 arguments, the null
      argv.push_back(a);
    }
  } else {
    argv.insert(argv.end(), {"file", options, device});
    const std::string cid = params.get_cid();
    if (!cid.empty()) argv.insert(argv.end(), {"remotenumber", cid});
  }
  const int child = Launch(argv, {});
  if (child < 0) return;
  Started(child);
  std::clog << *this << "pppd executed" << " cid=" << ext::quoted(ext::escaped(params.get_cid())) << " pid=" << child
            << std::endl;
}

void ModemSlot::on_terminate(int status) {
  std::clog << *this << "pppd terminated with code " << status << std::endl;
  pid = -1;
  // A kill timer set when the slot lost its modem has nothing left to kill.
  terminateTimer.reset();
  if (!FinishDestroy() && !lossReported) OnAbort(status);
}

bool ModemSlot::IBeforeDestroy() {
  if (pid == -1) {
    unbind();
    return true;
  }
  std::cerr << *this << "sent HUP to pppd." << std::endl;
  if (!killed) ChildLauncher::current->Kill(pid, SIGHUP);
  // One hung up when the slot lost its modem keeps the time it was given then.
  if (!terminateTimer.is_set()) terminateTimer.set(kTerminateTimeoutMs, &ModemSlot::on_terminate_timeout, this);
  return false;
}

void ModemSlot::HangUp() {
  if (pid == -1 || killed) return;
  ChildLauncher::current->Kill(pid, SIGHUP);
  if (!terminateTimer.is_set()) terminateTimer.set(kTerminateTimeoutMs, &ModemSlot::on_terminate_timeout, this);
}

void ModemSlot::on_terminate_timeout() {
  std::cerr << *this << "pppd terminate timeout!" << std::endl;
  pppd_kill();
  FinishDestroy();
}

void ModemSlot::pppd_kill() {
  if (pid == -1 || killed) return;
  std::cerr << *this << "pppd isn't terminated, killing ..." << std::endl;
  ChildLauncher::current->Kill(pid, SIGKILL);
  killed = true;
  ::sleep(0);
}
