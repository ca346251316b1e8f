#include "links/LAPD_NT.h"

#include <iostream>
#include <new>

#include "links/Deliverable.h"
#include "links/HeadRoom.h"

namespace ISDN {

namespace {

constexpr unsigned char kRR = 0x01, kRNR = 0x05, kREJ = 0x09;
constexpr unsigned char kSABME = 0x6F, kDISC = 0x43, kUA = 0x63, kDM = 0x0F, kFRMR = 0x87, kXID = 0xAF;

// A new frame with no head room; null (after a trace) when no packet buffer is left.
Packet new_frame() {
  Packet f;
  try {
    f.reserve_head(0);
  } catch (std::bad_alloc const&) {
    std::clog << "LAPD(NT BRI): no packet buffer, frame not sent" << std::endl;
    return Packet();
  }
  return f;
}

}  // namespace

// ---------------------------------------------------------------- one terminal's link

std::ostream& LAPD_NT_user::log() const {
  PutHeader(std::clog);
  return std::clog << ' ';
}

void LAPD_NT_user::PutHeader(std::ostream& os) const {
  os << "LAPD_user(NT BRI)[";
  if (linkState == unassigned) {
    os << "unassigned]:";
    return;
  }
  os << "Tei=" << unsigned(tei) << (linkState == assigned ? ",assigned" : ",wait_answer");
  if (check) os << ",check";
  if (busy) os << ",busy";
  os << "]";
}

void LAPD_NT_user::wait(uint32_t state, unsigned ms) {
  linkState = state;
  linkTimer_.set(ms, &LAPD_NT_user::on_timer, this);
}

void LAPD_NT_user::assign() {
  if (check && linkState != unassigned) {
    if (logging()) log() << "checked" << std::endl;
    check = false;
    checkTimer_.reset();
    return;
  }
  if (logging()) log() << "assigned" << std::endl;
  vr = ackMark = vs = 0;
  linkState = assigned;
  tx_U(kSABME, true, true);
  busy = false;
  check = false;
  outQueue_.clear();
  ackQueue_.clear();
  rc = 0;
  wait(assigned, kIdle);
}

void LAPD_NT_user::unassign() {
  if (logging()) log() << "unassigned" << std::endl;
  linkState = unassigned;
  linkTimer_.reset();
  checkTimer_.reset();
}

void LAPD_NT_user::checking() {
  if (linkState == unassigned) return;
  if (logging()) log() << "checking started" << std::endl;
  check = true;
  checkTimer_.set(kCheck, &LAPD_NT_user::unassign, this);
}

void LAPD_NT_user::tx_U(unsigned char code, bool pf, bool command) {
  if (logging()) log() << "transmit U frame" << std::endl;
  Packet f = new_frame();
  if (f.is_null()) return;
  f.put8(command ? 0x02 : 0x00);
  f.put8(static_cast<unsigned char>(tei << 1 | 1));
  f.put8(static_cast<unsigned char>(code | (pf ? 0x10 : 0)));
  owner_->send_to_layer1(f);
}

void LAPD_NT_user::tx_S(unsigned char control, bool pf, bool command) {
  if (logging()) log() << "transmit S frame" << std::endl;
  Packet f = new_frame();
  if (f.is_null()) return;
  f.put8(command ? 0x02 : 0x00);
  f.put8(static_cast<unsigned char>(tei << 1 | 1));
  f.put8(control);
  f.put8(static_cast<unsigned char>(vr << 1 | (pf ? 1 : 0)));
  owner_->send_to_layer1(f);
}

bool LAPD_NT_user::tx_I(Packet& msg, unsigned char nr, unsigned char ns) {
  if (logging()) log() << "transmit I frame" << std::endl;
  try {
    if (!make_head_room(msg, 4)) return false;
    msg.push8(static_cast<unsigned char>(nr << 1 | 1));
  } catch (std::bad_alloc const&) {
    return false;
  }
  msg.push8(static_cast<unsigned char>(ns << 1));
  msg.push8(static_cast<unsigned char>(tei << 1 | 1));
  msg.push8(0x02);
  owner_->send_to_layer1(msg);
  return true;
}

// Sends one message as the next I frame and keeps the frame for retransmission; false when
// no packet buffer was left for the frame, which then has not been sent.
bool LAPD_NT_user::send_I(Packet& msg) {
  Packet frame = msg;  // the caller's message keeps no header
  if (!tx_I(frame, vr, vs)) return false;
  ackQueue_.put(frame);
  vs = (vs + 1) & 127;
  return true;
}

// Queued messages go out while the window has room; the rest keep waiting. A message that
// finds no packet buffer goes back to the front and waits for the next acknowledgement or
// the link timer.
void LAPD_NT_user::send_queued() {
  Packet m;
  while (!busy && ackQueue_.count() < kWindow && outQueue_.get(&m)) {
    if (!send_I(m)) {
      outQueue_.append(m);
      return;
    }
  }
}

bool LAPD_NT_user::message(Packet& msg) {
  if (linkState == unassigned || msg.length() < 3 || (msg.data()[2] & 0x7F) != callRef) return false;
  if (!busy && ackQueue_.count() < kWindow && outQueue_.empty()) {
    if (!send_I(msg)) outQueue_.put(msg);  // no buffer now: sent when the link timer runs
    wait(wait_answer, kWait);
    return true;
  }
  // Held while the terminal is busy or seven frames wait for its acknowledgement.
  if (outQueue_.count() >= kOutLimit) outQueue_.get(nullptr);
  outQueue_.put(msg);
  return true;
}

bool LAPD_NT_user::ack_queue(unsigned char nr) {
  if (logging()) log() << "ack queue" << std::endl;
  nr &= 127;
  if (nr == ackMark) return true;
  // Valid from the ack mark up to V(S), modulo 128.
  if (((nr - ackMark) & 127) > ((vs - ackMark) & 127)) return false;
  unsigned oldest = (vs - ackQueue_.count()) & 127;
  unsigned n = (nr - oldest) & 127;
  for (unsigned i = 0; i < n && ackQueue_.get(nullptr); ++i) {
  }
  ackMark = (nr - 1) & 127;
  return true;
}

// After an accepted acknowledgement: what waits goes out, and the link waits for an answer
// while frames are unacknowledged, else it idles.
void LAPD_NT_user::acknowledged() {
  send_queued();
  if (ackQueue_.empty() && (busy || outQueue_.empty())) wait(assigned, kIdle);
  else wait(wait_answer, kWait);
}

void LAPD_NT_user::retransmit() {
  if (logging()) log() << "retransmit queue" << std::endl;
  unsigned n = ackQueue_.count();
  Packet f;
  for (unsigned i = 0; i < n && ackQueue_.get(&f); ++i) {
    // The frame goes out again with what we have received since, not the stale N(R)
    // (unchanged when no buffer is left for a private copy).
    try {
      f.writable_data()[3] = static_cast<unsigned char>(vr << 1 | 1);
    } catch (std::bad_alloc const&) {
    }
    owner_->send_to_layer1(f);
    ackQueue_.put(f);
  }
}

void LAPD_NT_user::set_busy() {
  if (!busy && logging()) log() << "set busy" << std::endl;
  busy = true;
}

void LAPD_NT_user::set_unbusy() {
  if (busy && logging()) log() << "set unbusy" << std::endl;
  busy = false;
  if (outQueue_.empty()) {
    wait(assigned, kIdle);
    return;
  }
  send_queued();
  rc = 0;
  wait(wait_answer, kWait);
}

void LAPD_NT_user::on_timer() {
  if (linkState == assigned) {
    wait(wait_answer, kWait);
    tx_S(kRR, true, true);
    rc = 0;
    return;
  }
  if (linkState != wait_answer) return;
  if (rc == kRetries) {
    if (logging()) log() << "T200 expiried N200 times" << std::endl;
    unassign();
    return;
  }
  ++rc;
  // Nothing unacknowledged: poll again; otherwise send the frames again.
  if (ackQueue_.empty()) tx_S(kRR, true, true);
  else retransmit();
  send_queued();
  wait(wait_answer, kWait);
}

void LAPD_NT_user::on_I(Packet& frame, unsigned ns, unsigned nr, bool p) {
  if (logging()) log() << "received I frame" << std::endl;
  if (ns == vr && frame.length() - 4 > Links::kMaxDeliverable) {
    // No signal carries it to the controller: V(R) stays and the far end's recovery applies.
    PutHeader(std::cerr);
    std::cerr << "I frame of " << frame.length() - 4 << " octets too long for the controller, not acknowledged"
              << std::endl;
    if (p) tx_S(kRR, true, false);
  } else if (ns == vr) {
    vr = (vr + 1) & 127;
    // Every in-sequence frame is acknowledged, polled or not.
    tx_S(kRR, p, false);
    frame.pull(4);
    if (frame.length() >= 4) {
      callRef = frame.data()[2] & 0x7F;
      owner_->send_to_layer3(frame);
    }
  } else {
    tx_S(kREJ, p, false);
  }
  if (!ack_queue(static_cast<unsigned char>(nr))) {
    unassign();
    return;
  }
  acknowledged();
}

void LAPD_NT_user::receive(Packet& frame, bool cr) {
  unsigned length = frame.length();
  unsigned char const* d = frame.data();
  unsigned char control = length >= 3 ? d[2] : 0;
  bool command = !cr;
  if (!(control & 0x01)) {
    if (command && length >= 4) on_I(frame, control >> 1, d[3] >> 1, (d[3] & 1) != 0);
    return;
  }
  if ((control & 0x03) == 0x01) {
    if (length < 4) return;
    unsigned char nr = d[3] >> 1;
    bool pf = (d[3] & 1) != 0;
    if (control == kRR) {
      if (logging()) log() << "received RR frame" << std::endl;
      if (command && pf) tx_S(kRR, true, false);
      if (!ack_queue(nr)) return unassign();
      set_unbusy();
      acknowledged();
    } else if (control == kRNR) {
      if (logging()) log() << "received RNR frame" << std::endl;
      set_busy();
      if (command && pf) tx_S(kRR, true, false);
      if (!ack_queue(nr)) return unassign();
      acknowledged();
    } else if (control == kREJ) {
      if (logging()) log() << "received REJ frame" << std::endl;
      if (command && pf) tx_S(kRR, true, false);
      // N(R) acknowledges everything before it; the rest goes again, starting at N(R).
      if (!ack_queue(nr)) return unassign();
      retransmit();
      set_unbusy();
      rc = 0;
      wait(wait_answer, kWait);
    }
    return;
  }
  bool pf = (control & 0x10) != 0;
  switch (control & 0xEF) {
    case kSABME:
      if (!command) return;
      if (logging()) log() << "received SABME frame" << std::endl;
      vr = ackMark = vs = 0;
      if (pf) tx_U(kUA, true, false);
      ackQueue_.clear();
      set_unbusy();
      break;
    case kDISC:
      if (!command) return;
      if (logging()) log() << "received DISC frame" << std::endl;
      if (pf) tx_U(kUA, true, false);
      unassign();
      break;
    case kDM:
      if (command) return;
      if (logging()) log() << "received DM frame" << std::endl;
      unassign();
      break;
    case kFRMR:
      if (command) return;
      if (logging()) log() << "received FRMR frame" << std::endl;
      unassign();
      break;
    case kXID:
      if (logging()) log() << "received XID frame" << std::endl;
      break;
  }
}

// ---------------------------------------------------------------- the port

LAPD_NT::LAPD_NT() {
  for (auto& u : users_) u.set_lapd(this);
}

LAPD_NT::~LAPD_NT() { checkTimer_.reset(); }

std::ostream& LAPD_NT::log() const {
  PutHeader(std::clog);
  return std::clog << ' ';
}

void LAPD_NT::PutHeader(std::ostream& os) const { os << "LAPD(NT BRI):"; }

void LAPD_NT::set_log(unsigned level) {
  log_ = level;
  for (auto& u : users_) u.set_log(level);
}

void LAPD_NT::local_prepare_head(Packet& p) { p.reserve_head(kHeadRoom); }
void LAPD_NT::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void LAPD_NT::local_activate() {
  if (log_) log() << "activate" << std::endl;
  check_all_Tei();
  on_activate();
}

void LAPD_NT::local_deactivate() {
  if (log_) log() << "deactivate" << std::endl;
  checkTimer_.reset();
  for (auto& u : users_) u.unassign();
}

LAPD_NT_user* LAPD_NT::find_Tei(unsigned char tei) {
  for (auto& u : users_) {
    if (u.tei == tei && u.linkState != LAPD_NT_user::unassigned) return &u;
  }
  return nullptr;
}

LAPD_NT_user* LAPD_NT::find_free_Tei(unsigned char ai) {
  for (auto& u : users_) {
    if (u.linkState != LAPD_NT_user::unassigned) continue;
    if (ai != 127) {
      u.tei = ai;
      return &u;
    }
    for (unsigned tei = 64; tei <= 126; ++tei) {
      if (!find_Tei(static_cast<unsigned char>(tei))) {
        u.tei = static_cast<uint8_t>(tei);
        return &u;
      }
    }
    return nullptr;
  }
  return nullptr;
}

void LAPD_NT::check_all_Tei() {
  if (log_) log() << "Checking Tei values...." << std::endl;
  checkTimer_.reset();
  for (auto& u : users_) u.checking();
  tx_identity(0, 127, 4);
  checkTimer_.set(kCheckPeriod, &LAPD_NT::check_all_Tei, this);
}

void LAPD_NT::tx_identity(unsigned short ri, int ai, unsigned char type) {
  Packet f = new_frame();
  if (f.is_null()) return;
  f.put8(0xFE);
  f.put8(0xFF);
  f.put8(0x03);
  f.put8(0x0F);
  f.put16(ri);
  f.put8(type);
  f.put8(static_cast<unsigned char>(ai << 1 | 1));
  send_to_layer1(f);
}

void LAPD_NT::remove_twice(int ai) {
  tx_identity(0, ai, 6);
  tx_identity(0, ai, 6);
}

void LAPD_NT::message(Packet& p) {
  if (p.length() <= 3) return;
  if (p.data()[3] == 0x05) {
    // SETUP reaches every terminal as a broadcast UI frame.
    Packet f = p;
    try {
      if (!make_head_room(f, 3)) return;
      f.push8(0x03);
    } catch (std::bad_alloc const&) {
      return;
    }
    f.push8(0xFF);
    f.push8(0x02);
    send_to_layer1(f);
    return;
  }
  for (auto& u : users_) {
    if (u.message(p)) return;
  }
}

void LAPD_NT::receive(Packet& p) {
  unsigned length = p.length();
  if (length <= 2) return;
  unsigned char const* d = p.data();
  if ((d[0] & 0x01) || !(d[1] & 0x01)) return;
  unsigned char tei = d[1] >> 1;
  if (tei == 127) {
    if (d[2] != 0x03) return;
    bool management = (d[0] >> 2) == 63;
    p.pull(3);
    if (management) {
      on_tei_procedure(p);
    } else if (p.length() > Links::kMaxDeliverable) {
      PutHeader(std::cerr);
      std::cerr << "UI frame of " << p.length() << " octets too long for the controller, dropped" << std::endl;
    } else {
      on_message(p);
    }
    return;
  }
  LAPD_NT_user* u = find_Tei(tei);
  if (!u) {
    u = find_free_Tei(tei);
    if (!u) {
      if (log_) log() << "recieved packet with unassigned TEI=" << unsigned(tei) << ",removed" << std::endl;
      remove_twice(tei);
      return;
    }
    if (log_) log() << "Warning:recieved packet with unassigned TEI=" << unsigned(tei) << std::endl;
    u->assign();
  }
  u->receive(p, (d[0] & 0x02) != 0);
}

void LAPD_NT::on_tei_procedure(Packet& p) {
  if (p.length() < 5) return;
  unsigned char const* d = p.data();
  if (d[0] != 0x0F) return;
  unsigned short ri = static_cast<unsigned short>(d[1] | d[2] << 8);
  unsigned type = d[3];
  unsigned ai = d[4] >> 1;
  switch (type) {
    case 1: {
      if (ai < 64) {
        if (log_) log() << "recieved identity request with wrong Ai=" << ai << ",ignored" << std::endl;
        return;
      }
      if (ai < 127) {
        if (log_) log() << "recieved identity request with wrong Ai=" << ai << ",denied" << std::endl;
        tx_identity(ri, static_cast<int>(ai), 3);
        return;
      }
      LAPD_NT_user* u = find_free_Tei(127);
      if (!u) {
        if (log_) log() << "recieved identity request, but all TEI values is ussigned" << std::endl;
        tx_identity(ri, 127, 3);
        return;
      }
      if (log_) log() << "recieved identity request,TEI assigned:" << unsigned(u->tei) << std::endl;
      tx_identity(ri, u->tei, 2);
      u->assign();
      return;
    }
    case 5: {
      if (ai == 127) {
        if (log_) log() << "recieved check response with wrong Ai=" << ai << ",removed" << std::endl;
        remove_twice(127);
        return;
      }
      LAPD_NT_user* u = find_Tei(static_cast<unsigned char>(ai));
      if (!u) {
        u = find_free_Tei(static_cast<unsigned char>(ai));
        if (!u) {
          if (log_) log() << "recieved check response with wrong Ai=" << ai << ",removed" << std::endl;
          remove_twice(static_cast<int>(ai));
          return;
        }
      } else if (!u->check) {
        if (ri == u->ri) return;
        if (log_) log() << "recieved check response with dublicated Ai=" << ai << ",removed" << std::endl;
        u->unassign();
        remove_twice(static_cast<int>(ai));
        return;
      }
      if (log_) log() << "TEI " << ai << " checked" << std::endl;
      u->assign();
      u->ri = ri;
      return;
    }
    case 7:
      if (log_) log() << "recieved verify request" << std::endl;
      check_all_Tei();
      return;
  }
}

}  // namespace ISDN
