#include "links/LAPD.h"

#include <cstdlib>
#include <iostream>
#include <new>

#include "foundation/Hex.h"
#include "foundation/RandomWord.h"
#include "links/Deliverable.h"
#include "links/HeadRoom.h"
#include "links/dlogframe.h"

namespace ISDN {

namespace {

char const* const kStateText[] = {"TEI unassigned",         "Assign awaiting TEI",    "Establish awaiting TEI",
                                  "TEI assigned",           "Awaiting establishment", "Awaiting release",
                                  "Multiple frame established", "Timer recovery"};

char const* error_text(unsigned code) {
  switch (code) {
    case 1: return "Supervisory (F = 1)";
    case 2: return "DM (F = 1)";
    case 4: return "UA (F = 1)";
    case 8: return "UA (F = 0)";
    case 16: return "Receipt of DM response (F = 0)";
    case 32: return "Peer initiated re-establishment - SABME";
    case 64: return "Unsuccessful retransmission (N200 times) - SABME";
    case 128: return "Unsuccessful retransmission (N200 times) - DISC";
    case 256: return "Unsuccessful retransmission (N200 times) - Status enquiry";
    case 512: return "Other - N(R) error";
    case 1024: return "Other - Receipt of FRMR response";
    case 2048: return "Other - Receipt of undefined frame";
    case 4096: return "Other - Receipt of I field not permitted";
    case 8192: return "Other - Receipt of frame with wrong size";
    case 16384: return "Other - N201 error";
    case 32768: return "Tei Assign - Tei denied";
  }
  return "Other - Unknown";
}

}  // namespace

std::ostream& operator<<(std::ostream& os, Side::type side) {
  return os << (side == Side::user ? "user" : "network");
}

char const* statetext(unsigned char state) { return state < 8 ? kStateText[state] : "(unknown)"; }

void LAPDFullState::put(std::ostream& os) const {
  auto run = [](bool r) { return r ? "running" : "stopped"; };
  os << "\n   - state: " << statetext(static_cast<unsigned char>(state))         //
     << "\n   - self: TEI=" << ownTei << ", SAPI=" << ownSapi << ", busy=" << ownBusy  //
     << "\n   - peer: TEI=" << peerTei << ", SAPI=" << peerSapi << ", busy=" << peerBusy
     << "\n   - counters: VS=" << unsigned(vs) << ", VA=" << unsigned(va) << ", VR=" << unsigned(vr) << ", RC=" << rc
     << "\n   - internal signals: AckRQ=" << ackRQ << ", RetrRQ=" << retrRQ << ", QueuedUp=" << queuedUpRQ
     << "\n   - flags: L3Initiated=" << l3Initiated << ", Establishable=" << establishable
     << ", RejectException=" << rejException << "\n   - timers: T200 " << run(t200run) << ", T202 " << run(t202run)
     << ", T203 " << run(t203run);
}

void LAPD::Stats::put(std::ostream& os) const {
  os << "   - timers expire count: T200: " << t200 << ", T202: " << t202 << ", T203: " << t203
     << "\n   - errors: " << errors << ", retrains: " << retrains << "\n   - queue overflows: out: " << outOverflows
     << ", ack: " << ackOverflows;
}

LAPD::Status::Status(LAPD const* link, char const* text)
    : Protocol_status_error(const_cast<LAPD*>(link), text), LAPDFullState(link->full_state()) {}

void LAPD::Status::out(std::ostream& os) const {
  os << text;
  LAPDFullState::put(os);
}

// ---------------------------------------------------------------- life and reports

LAPD::LAPD(Side::type s, unsigned level) : side(s), traceLevel(level) {}

LAPD::~LAPD() {
  outQueue_.clear();
  ackQueue_.clear();
  timer_.reset();
}

void LAPD::PutHeader(std::ostream& os) const { os << "LAPD[" << id << "] " << "(" << state_text() << ")" << ": "; }

std::ostream& LAPD::log() const {
  PutHeader(std::clog);
  return std::clog;
}

void LAPD::change_state(uint32_t next) {
  if (next == state) return;
  bool recovery = (state == 6 && next == 7) || (state == 7 && next == 6);
  if (traceLevel > 1 && !(recovery && traceLevel <= 3)) {
    std::clog << "LAPD[" << id << "] : " << "change state " << '"' << state_text() << '"' << " -> " << '"'
              << statetext(static_cast<unsigned char>(next)) << '"' << std::endl;
  }
  state = next;
  // Messages queued while the link was not up go out once it is.
  if (state == 6 && !outQueue_.empty()) queuedUpRQ = true;
}

void LAPD::report(char const* text) { on_status(Protocol_status(new Status(this, text))); }

void LAPD::on_error(unsigned int code) { report(error_text(code)); }

void LAPD::deactivated(Protocol_status st) { on_deactivate(st); }

Protocol_status LAPD::status() const { return Protocol_status(new Status(this, "current status")); }

void LAPD::show_stat() {
  std::cout << " - current state: ";
  LAPDFullState::put(std::cout);
  std::cout << std::endl << " - statistics: ";
  statistics.put(std::cout);
  std::cout << std::endl;
}

void LAPD::change_flowstatus(FlowStatus::Type s) {
  if (s == flowStatus) return;
  flowStatus = s;
  if (notify) notify->OnLAPD_FlowStatusChange(this);
}

bool LAPD::GetInfo(ACP::IsdnLinkInfo& info) const {
  info.get_msuTxCount().setUnsigned(statistics.txMessages);
  info.get_msuRxCount().setUnsigned(statistics.rxInSequence);
  info.get_mT200().setUnsigned(statistics.t200);
  info.get_mT203().setUnsigned(statistics.t203);
  info.get_errors().setUnsigned(statistics.errors);
  info.get_retrains().setUnsigned(statistics.retrains);
  info.get_rejected().setUnsigned(statistics.rejected);
  info.get_badconfirm().setUnsigned(statistics.badNR);
  info.get_outOverflows().setUnsigned(statistics.outOverflows);
  info.get_ackOverflows().setUnsigned(statistics.ackOverflows);
  info.set_lapdState(static_cast<ACP::LAPDState::NamedNumber>(state));
  info.get_rc().setUnsigned(rc);
  info.set_peerBusy(peerBusy);
  info.set_ownBusy(ownBusy);
  info.set_rejException(rejException);
  info.set_ackPending(false);
  info.set_l3Initiated(l3Initiated);
  info.set_establishable(establishable);
  info.set_queuedUpRQ(queuedUpRQ);
  info.set_retrRQ(retrRQ);
  info.set_ackRQ(ackRQ);
  info.set_t200run(t200run);
  info.set_t203run(t203run);
  info.set_vs(static_cast<int>(unsigned(vs)));
  info.set_va(static_cast<int>(unsigned(va)));
  info.set_vr(static_cast<int>(unsigned(vr)));
  info.set_queueOut(static_cast<int>(outQueue_.count()));
  info.set_queueAck(static_cast<int>(ackQueue_.count()));
  if (info == lastInfo_) return false;
  lastInfo_ = info;
  return true;
}

// ---------------------------------------------------------------- sending

void LAPD::local_prepare_head(Packet& p) { p.reserve_head(kHeadRoom); }
void LAPD::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

bool LAPD::is_command(unsigned char octet1) const {
  bool cr = (octet1 & 0x02) != 0;
  return side == Side::user ? cr : !cr;
}

void LAPD::trace_frame(char const* what, Packet const& frame) const {
  logbuf[0] = '\0';
  dlogframe(frame.data(), static_cast<int>(frame.length()), side == Side::user ? 1 : 0, logbuf);
  log() << what << logbuf << std::flush;
}

bool LAPD::xmit(Packet& frame) {
  if (!device) {
    if (traceLevel > 3) log() << "no HDLC device attached!!!" << std::endl;
    return false;
  }
  bool sent;
  try {
    sent = device->hdlc_transmit(frame);
  } catch (std::bad_alloc const&) {
    sent = false;  // no packet buffer left: as good as a full channel
  }
  if (!sent) {
    log() << "tx full" << std::endl;
    return false;
  }
  if (traceLevel > 2) {
    logbuf[0] = '\0';
    dlogframe(frame.data(), static_cast<int>(frame.length()), side == Side::network ? 1 : 0, logbuf);
    log() << "tx: " << logbuf << std::flush;
  }
  return true;
}

bool LAPD::tx_cmd_resp(int type, bool pf, bool command) {
  Packet f;
  try {
    prepare_head(f);
    // User commands carry C/R 0, network commands C/R 1; responses the other way round.
    f.put8(static_cast<unsigned char>(ownSapi << 2 | ((side == Side::network) == command ? 2 : 0)));
    f.put8(static_cast<unsigned char>(ownTei << 1 | 1));
    if (type >= RR && type <= REJ) {
      f.put8(static_cast<unsigned char>(type << 2 | 1));
      f.put8(static_cast<unsigned char>(unsigned(vr) << 1 | (pf ? 1 : 0)));
    } else {
      f.put8(static_cast<unsigned char>(type | (pf ? 0x10 : 0)));
    }
  } catch (std::bad_alloc const&) {
    log() << "tx full" << std::endl;
    return false;
  }
  return xmit(f);
}

bool LAPD::tx_iframe(Packet& message, bool p) {
  // The header goes into the message's head room for the write and comes off again, so the
  // queued message keeps no header and no copy is made while nobody else holds it.
  try {
    message.push8(static_cast<unsigned char>(unsigned(vr) << 1 | (p ? 1 : 0)));
  } catch (std::bad_alloc const&) {
    log() << "tx full" << std::endl;
    return false;
  }
  message.push8(static_cast<unsigned char>(unsigned(vs) << 1));
  message.push8(static_cast<unsigned char>(ownTei << 1 | 1));
  message.push8(static_cast<unsigned char>(ownSapi << 2 | (side == Side::network ? 2 : 0)));
  bool sent = xmit(message);
  message.pull(4);
  return sent;
}

bool LAPD::tx_identity(unsigned char type, unsigned ai) {
  Packet f;
  try {
    prepare_head(f);
    f.put8(side == Side::user ? 0xFC : 0xFE);
    f.put8(0xFF);
    f.put8(UI);
    f.put8(0x0F);
    f.put16(ri_);
    f.put8(type);
    f.put8(static_cast<unsigned char>(ai << 1 | 1));
  } catch (std::bad_alloc const&) {
    log() << "tx full" << std::endl;
    return false;
  }
  return xmit(f);
}

void LAPD::enquiry() {
  if (traceLevel > 3) log() << "tx_enquiry, ownBusy=" << (ownBusy ? 1 : 0) << std::endl;
  tx_cmd_resp(ownBusy ? RNR : RR, true, true);
  ackRQ = false;
  start(T200);
}

void LAPD::enquiry_response() {
  if (traceLevel > 3) log() << "tx_enquiry_response" << std::endl;
  tx_cmd_resp(ownBusy ? RNR : RR, true, false);
  ackRQ = false;
}

void LAPD::clear_exceptions() { peerBusy = ownBusy = rejException = ackRQ = false; }

void LAPD::establish() {
  clear_exceptions();
  rc = 0;
  tx_cmd_resp(SABME, true, true);
  stop(T203);
  start(T200);
}

void LAPD::nr_error_recovery() {
  on_error(512);
  establish();
  l3Initiated = false;
}

void LAPD::retransmit_from(unsigned nr) {
  va = nr;
  retrRQ = true;
  queuedUpRQ = true;
}

void LAPD::discard_queues() {
  if (traceLevel > 0)
    log() << "discard queue " << " OutData=" << outQueue_.count() << " AckData=" << ackQueue_.count() << std::endl;
  outQueue_.clear();
  ackQueue_.clear();
}

bool LAPD::nr_valid(unsigned nr) const { return (va <= Seq(nr)) <= vs; }

// ---------------------------------------------------------------- layer 3 requests

void LAPD::local_activate() {
  if (traceLevel > 0) log() << "DL-ESTABLISH" << std::endl;
  switch (state) {
    case 0:
      rc = 0;
      on_mdl_assign();
      change_state(2);
      BeginTeiAssignProcedure();
      break;
    case 1: change_state(2); break;
    case 3:
      establish();
      l3Initiated = true;
      change_state(4);
      break;
    case 4:
      discard_queues();
      l3Initiated = true;
      break;
    case 6:
    case 7:
      discard_queues();
      establish();
      l3Initiated = true;
      change_state(4);
      break;
  }
}

void LAPD::local_deactivate() {
  if (traceLevel > 1) log() << "DL-RELEASE" << std::endl;
  auto released = [this] { return Protocol_status(new Protocol_status_success(this, "success (deactivated locally)")); };
  switch (state) {
    case 3: deactivated(released()); break;
    case 4:
      discard_queues();
      rc = 0;
      tx_cmd_resp(DISC, true, true);
      stop(T203);
      stop(T202);
      start(T200);
      change_state(3);
      deactivated(released());
      break;
    case 6:
    case 7:
      discard_queues();
      rc = 0;
      tx_cmd_resp(DISC, true, true);
      if (state == 6) stop(T203);
      start(T200);
      change_state(5);
      break;
  }
}

void LAPD::message(Packet& p) {
  ++statistics.txMessages;
  if (p.length() == 0) {
    ++statistics.txEmpty;
    return;
  }
  if (outQueue_.count() >= kOutRefuse) {
    log() << "discard outgoing message: buffer overflow" << std::endl;
    ++statistics.outOverflows;
  } else if (!make_head_room(p, kHeadRoom)) {
    log() << "discard outgoing message: no room for the header" << std::endl;
  } else {
    if (traceLevel > 2) {
      if (outQueue_.count() > 7)
        log() << "outgoing queue size = " << outQueue_.count() << " tx counter = " << statistics.txMessages << std::endl;
      log() << "add to tx queue: " << p.text() << std::endl;
    }
    outQueue_.put(p);
    queuedUpRQ = true;
  }
  if (state == 0) {
    // A basic-rate terminal without a TEI asks for one; data alone must not leave it waiting.
    if (bri_ && side == Side::user) {
      rc = 0;
      BeginTeiAssignProcedure();
    } else {
      change_state(1);
    }
  }
  if (outQueue_.count() > kFlowStop) change_flowstatus(FlowStatus::stopped);
  local_events();
}

// ---------------------------------------------------------------- TEI management

void LAPD::BeginTeiAssignProcedure() {
  if (!bri_ || side != Side::user) return;
  change_state(1);
  on_mdl_assign();
  ri_ = static_cast<uint16_t>(Random::word());
  tx_identity(1, 127);
  rc = 0;
  stop(T200);
  stop(T203);
  start(T202);
}

void LAPD::mdl_assign(unsigned char tei) {
  if (traceLevel > 1) log() << "MDL-ASSIGN" << " (tei=" << unsigned(tei) << ")" << std::endl;
  ownTei = tei;
  if (state == 2) {
    establish();
    l3Initiated = true;
    change_state(4);
  } else {
    change_state(3);
  }
}

void LAPD::on_mdl_assign() {}

void LAPD::mdl_remove() {
  log() << "MDL-REMOVE" << std::endl;
  auto removed = [this] { return Protocol_status(new Status(this, "error (MDL-REMOVE received)")); };
  switch (state) {
    case 3:
      discard_queues();
      change_state(0);
      break;
    case 4:
      discard_queues();
      stop(T200);
      change_state(0);
      deactivated(removed());
      break;
    case 5:
      stop(T200);
      change_state(0);
      deactivated(removed());
      break;
    case 6:
    case 7:
      discard_queues();
      stop(T200);
      if (state == 6) stop(T203);
      change_state(0);
      deactivated(removed());
      break;
  }
}

void LAPD::on_UI(Packet& info) {
  if (!bri_ || info.length() == 0) return;
  if (traceLevel > 3) log() << "on_UI()" << std::endl;
  unsigned char const* d = info.data();
  if (d[0] == 0x0F) {
    if (info.length() < 5) return;
    uint16_t ri = static_cast<uint16_t>(d[1] | d[2] << 8);
    unsigned type = d[3], ai = d[4] >> 1;
    if (traceLevel > 3) log() << "on_UI() type=" << type << " Ai=" << ai << std::endl;
    switch (type) {
      case 3:
        if (state == 1 && ri == ri_) {
          if (ai == 127) log() << "ASP returned: All TEI's used" << std::endl;
          else log() << "ASP returned: TEI " << ai << " denied" << std::endl;
          on_error(32768);
        }
        break;
      case 2:
        if ((state == 1 || state == 2) && ri == ri_) {
          mdl_assign(static_cast<unsigned char>(ai));
          stop(T202);
          start(T200);
        }
        break;
      case 4:
        if (state > 2 && (ai == 127 || ai == ownTei)) tx_identity(5, ownTei);
        break;
      case 6:
        if (ai == 127 || ai == ownTei) {
          mdl_remove();
          BeginTeiAssignProcedure();
        }
        break;
    }
    return;
  }
  if (info.length() > Links::kMaxDeliverable) {
    PutHeader(std::cerr);
    std::cerr << "UI frame of " << info.length() << " octets too long for the controller, dropped" << std::endl;
    return;
  }
  if (side == Side::user) {
    if (state == 4) change_state(3);
    if (state == 3) local_activate();
  }
  on_message(info);
}

// ---------------------------------------------------------------- receiving

void LAPD::on_hdlc_receive(Packet& frame) { receive(frame); }
// Without a channel nothing sent reaches the peer, and the link would otherwise find out only
// from T203 and N200 unanswered polls and SABMEs (18 s), taking messages meanwhile. A link
// that keeps its TEI stays assigned; one still waiting for a TEI has none to keep. Queued
// messages go: they belong to the call state that layer 3 rebuilds after the release.
void LAPD::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  log() << (cause == HDLC::Notify::Cause::no_channel ? "no channel" : "channel failed") << std::endl;
  const bool up = state != 0 && state != 3;
  discard_queues();
  change_flowstatus(FlowStatus::flowing);
  t200run = t202run = t203run = false;
  timer_.reset();
  clear_exceptions();
  rc = 0;
  queuedUpRQ = retrRQ = false;
  change_state(state == 1 || state == 2 ? 0 : 3);
  if (up)
    deactivated(Protocol_status(new Status(this, cause == HDLC::Notify::Cause::no_channel
                                                     ? "link error (no channel)"
                                                     : "link error (channel failed)")));
}
void LAPD::on_hdlc_ready() { local_events(); }

void LAPD::receive(Packet& p) {
  unsigned length = p.length();
  if (length < 2) return;
  if (traceLevel > 2) trace_frame("rx:", p);
  unsigned char const* d = p.data();
  bool command = is_command(d[0]);
  peerSapi = d[0] >> 2;
  if (d[0] & 0x01) return;
  if (!(d[1] & 0x01)) return;
  peerTei = d[1] >> 1;
  if (bri_ && side == Side::user && peerTei != ownTei && peerTei != 127) return;
  unsigned char control = length >= 3 ? d[2] : 0;
  if ((control & 0x03) == 0x03) {
    bool pf = (control & 0x10) != 0;
    switch (control & 0xEF) {
      case SABME: on_SABME(command, pf); break;
      case DISC: on_DISC(command, pf); break;
      case UA: on_UA(command, pf); break;
      case DM: on_DM(command, pf); break;
      case FRMR: on_FRMR(command, pf); break;
      case UI:
        p.pull(length >= 3 ? 3 : length);
        on_UI(p);
        break;
    }
  } else {
    // An I or S frame without its N(R) octet is invalid; reading it as N(R) 0 would
    // acknowledge (or reject) frames the peer never confirmed.
    if (length < 4) {
      if (traceLevel > 1) log() << "frame too short, discarded" << std::endl;
      return;
    }
    bool pf = (d[3] & 0x01) != 0;
    unsigned nr = d[3] >> 1;
    if ((control & 0x03) == 0x01) {
      int type = (control >> 2) & 3;
      if (type != 3) on_S(type, command, pf, nr);
    } else {
      unsigned ns = control >> 1;
      p.pull(4);
      on_I(pf, ns, nr, p);
    }
  }
  local_events();
}

void LAPD::on_I(bool p, unsigned ns, unsigned nr, Packet& info) {
  if (traceLevel > 3) log() << "I-Command" << " pf=" << p << std::endl;
  if (state != 6 && state != 7) return;
  if (ownBusy) {
    if (p) {
      tx_cmd_resp(RNR, true, false);
      ackRQ = false;
    }
  } else if (ns != vr) {
    ++statistics.rejected;
    if (!rejException) {
      rejException = true;
      tx_cmd_resp(REJ, p, false);
      ackRQ = false;
    } else if (p) {
      tx_cmd_resp(RR, true, false);
      ackRQ = false;
    }
  } else if (info.length() > Links::kMaxDeliverable) {
    // No signal carries it to the controller: V(R) stays, so the far end's own recovery
    // (its T200 and retransmission) applies, as for a frame this side cannot take.
    PutHeader(std::cerr);
    std::cerr << "I frame of " << info.length() << " octets too long for the controller, not acknowledged" << std::endl;
    if (p) {
      ackRQ = false;
      tx_cmd_resp(RR, true, false);
    }
  } else {
    ++vr;
    rejException = false;
    ++statistics.rxInSequence;
    if (p) {
      ackRQ = false;
      tx_cmd_resp(RR, true, false);
    } else {
      ackRQ = true;
    }
    on_message(info);
  }
  if (!nr_valid(nr)) {
    ++statistics.badNR;
    nr_error_recovery();
    change_state(4);
    return;
  }
  if (!peerBusy && state == 6) {
    if (nr == vs) {
      stop(T200);
      start(T203);
    } else if (nr != va) {
      start(T200);
    }
  }
  va = nr;
}

void LAPD::on_S(int type, bool command, bool pf, unsigned nr) {
  static char const* const kName[] = {"RR ", "RNR ", "REJ "};
  if (traceLevel > 3) log() << kName[type] << (command ? "command" : "response") << " pf=" << pf << std::endl;
  if (state != 6 && state != 7) return;
  peerBusy = type == RNR;
  auto nr_error = [&] {
    ++statistics.badNR;
    nr_error_recovery();
    change_state(4);
  };
  if (state == 6) {
    if (pf) {
      if (command) enquiry_response();
      else if (type != RR) on_error(1);
      else if (traceLevel > 3) log() << "receive RR (solicited response) in MFE_EST" << std::endl;
    }
    if (!nr_valid(nr)) return nr_error();
    switch (type) {
      case RR:
        if (nr == vs) {
          va = nr;
          stop(T200);
          start(T203);
        } else if (nr != va) {
          va = nr;
          start(T200);
        }
        break;
      case RNR:
        va = nr;
        stop(T203);
        start(T200);
        break;
      case REJ:
        stop(T200);
        start(T203);
        retransmit_from(nr);
        break;
    }
    return;
  }
  // Timer recovery: only the answer to our enquiry ends it.
  if (!command && pf) {
    if (!nr_valid(nr)) return nr_error();
    if (type == RNR) {
      start(T200);
    } else {
      stop(T200);
      start(T203);
    }
    retransmit_from(nr);
    change_state(6);
    return;
  }
  if (command && pf) enquiry_response();
  if (nr_valid(nr)) {
    va = nr;
  } else {
    if (type == RR && traceLevel > 3) log() << "receive RR with out of order N(R)" << std::endl;
    nr_error();
  }
}

void LAPD::on_SABME(bool command, bool p) {
  if (traceLevel > 3) log() << "SABME " << (command ? "command" : "response") << std::endl;
  vs = va = vr = 0;
  ackQueue_.clear();
  switch (state) {
    case 3:
      if (!establishable) {
        tx_cmd_resp(DM, p, false);
        break;
      }
      tx_cmd_resp(UA, p, false);
      clear_exceptions();
      start(T203);
      change_state(6);
      on_activate();
      break;
    case 4: tx_cmd_resp(UA, p, false); break;
    case 5: tx_cmd_resp(DM, p, false); break;
    case 6:
    case 7:
      tx_cmd_resp(UA, p, false);
      clear_exceptions();
      on_error(32);
      change_state(6);
      on_activate();
      stop(T200);
      start(T203);
      break;
  }
}

void LAPD::on_DISC(bool command, bool p) {
  if (traceLevel > 3) log() << "DISC " << (command ? "command" : "response") << std::endl;
  auto remote = [this] { return Protocol_status(new Status(this, "remote error (DISC received)")); };
  switch (state) {
    case 3:
    case 4: tx_cmd_resp(DM, p, false); break;
    case 5: tx_cmd_resp(UA, p, false); break;
    case 6:
    case 7:
      discard_queues();
      tx_cmd_resp(UA, p, false);
      stop(T200);
      if (state == 6) stop(T203);
      change_state(3);
      deactivated(remote());
      break;
  }
}

void LAPD::on_UA(bool command, bool f) {
  if (traceLevel > 3) log() << "UA " << (command ? "command" : "response") << std::endl;
  switch (state) {
    // Unsolicited: reported only. Resetting the variables here would silently drop the
    // frames still waiting for acknowledgement.
    case 3:
    case 6:
    case 7: on_error(12); break;
    case 4:
      if (!f) {
        on_error(8);
        break;
      }
      vs = va = vr = 0;
      ackQueue_.clear();
      change_state(6);
      stop(T200);
      start(T203);
      on_activate();
      break;
    case 5:
      if (!f) {
        on_error(8);
        break;
      }
      stop(T200);
      change_state(3);
      deactivated(Protocol_status(new Protocol_status_success(this, "success (UA received)")));
      break;
  }
}

void LAPD::on_DM(bool command, bool f) {
  if (traceLevel > 3) log() << "DM " << (command ? "command" : "response") << std::endl;
  auto dm = [this] { return Protocol_status(new Status(this, "error (DM received)")); };
  bool final_response = !command && f;
  switch (state) {
    case 3:
      if (!command && !f && establishable) {
        establish();
        l3Initiated = true;
        change_state(4);
      }
      break;
    case 4:
      if (!final_response) break;
      discard_queues();
      stop(T200);
      change_state(3);
      deactivated(dm());
      break;
    case 5:
      if (!final_response) break;
      stop(T200);
      change_state(3);
      deactivated(dm());
      break;
    case 6:
    case 7:
      if (final_response) {
        on_error(2);
        if (state == 6) break;
      } else {
        on_error(16);
      }
      establish();
      l3Initiated = false;
      change_state(4);
      break;
  }
}

void LAPD::on_FRMR(bool command, bool f) {
  if (traceLevel > 3) log() << "FRMR " << (command ? "command" : "response") << " pf=" << f << std::endl;
  if (state != 6 && state != 7) return;
  on_error(1024);
  establish();
  l3Initiated = false;
  change_state(4);
}

// ---------------------------------------------------------------- local events

void LAPD::local_events() {
  acknowledge();
  send_queued();
  if (ackRQ && (state == 6 || state == 7) && tx_cmd_resp(RR, false, false)) ackRQ = false;
  if (outQueue_.count() < kFlowResume) change_flowstatus(FlowStatus::flowing);
}

void LAPD::acknowledge() {
  unsigned outstanding = (unsigned(vs) - unsigned(va)) & 127;
  unsigned taken = 0;
  while (ackQueue_.count() > outstanding && ackQueue_.get(nullptr)) ++taken;
  if (traceLevel > 2 && taken)
    log() << "acknowledge " << taken << " frames" << " VS=" << unsigned(vs) << " VA=" << unsigned(va) << std::endl;
  if (traceLevel > 2 && outQueue_.empty()) log() << "outgoing queue empty." << std::endl;
  if (!retrRQ) return;
  if (traceLevel > 0 && !ackQueue_.empty())
    log() << "retransmission " << " VS=" << unsigned(vs) << " VA=" << unsigned(va) << std::endl;
  vs = va;
  Packet frame;
  while (ackQueue_.get_last(&frame)) {
    outQueue_.append(frame);
    ++statistics.retrains;
  }
  retrRQ = false;
}

void LAPD::send_queued() {
  while (queuedUpRQ) {
    queuedUpRQ = false;
    switch (state) {
      case 6: {
        if (peerBusy || vs == va + kWindow) {
          queuedUpRQ = true;
          return;
        }
        Packet m;
        if (!outQueue_.get(&m)) return;
        if (!tx_iframe(m, false)) {
          outQueue_.append(m);
          queuedUpRQ = true;
          return;
        }
        if (!ackQueue_.put(m)) {
          log() << "ack queue overflow!" << std::endl;
          ++statistics.ackOverflows;
        }
        ++vs;
        ackRQ = false;
        if (!t200run) {
          stop(T203);
          start(T200);
        }
        if (!outQueue_.empty()) queuedUpRQ = true;
        break;
      }
      case 7: queuedUpRQ = true; return;
      case 4: queuedUpRQ = !l3Initiated; return;
      default: return;
    }
  }
}

// ---------------------------------------------------------------- timers

bool& LAPD::running(Timer_ t) { return t == T200 ? t200run : t == T202 ? t202run : t203run; }

void LAPD::start(Timer_ t) {
  static char const* const kStartWhile[3][3] = {
      {nullptr, "trying to start T200 while T202 running", "trying to start T200 while T203 running"},
      {"trying to start T202 while T200 running", nullptr, "trying to start T202 while T203 running"},
      {"trying to start T203 while T200 running", "trying to start T203 while T202 running", nullptr}};
  for (Timer_ other : {T200, T202, T203}) {
    if (other != t && running(other)) report(kStartWhile[t][other]);
  }
  if (running(t)) stop(t);
  running(t) = true;
  timer_.meant = t;
  timer_.schedule(t == T200 ? kT200 : t == T202 ? kT202 : kT203);
}

void LAPD::stop(Timer_ t) {
  if (!running(t)) return;
  static Timer_ const kOrder[3][2] = {{T203, T202}, {T200, T203}, {T200, T202}};
  static char const* const kStopWhile[3][3] = {
      {nullptr, "trying to stop T200 while T202 running", "trying to stop T200 while T203 running"},
      {"trying to stop T202 while T200 running", nullptr, "trying to stop T202 while T203 running"},
      {"trying to stop T203 while T200 running", "trying to stop T203 while T202 running", nullptr}};
  for (Timer_ other : kOrder[t]) {
    if (running(other)) report(kStopWhile[t][other]);
  }
  running(t) = false;
  timer_.reset();
}

void LAPD::on_expiry(Timer_ t) {
  running(t) = false;
  switch (t) {
    case T200:
      ++statistics.t200;
      t200_expired();
      break;
    case T202:
      ++statistics.t202;
      t202_expired();
      break;
    case T203:
      ++statistics.t203;
      t203_expired();
      break;
  }
  local_events();
}

void LAPD::t200_expired() {
  auto failed = [this] { return Protocol_status(new Status(this, "link error (T200 expired N200 times)")); };
  switch (state) {
    case 4:
      if (rc >= kN200) {
        discard_queues();
        on_error(64);
        change_state(3);
        deactivated(failed());
      } else {
        ++rc;
        tx_cmd_resp(SABME, true, true);
        start(T200);
      }
      break;
    case 5:
      if (rc >= kN200) {
        on_error(128);
        change_state(3);
        deactivated(failed());
      } else {
        ++rc;
        tx_cmd_resp(DISC, true, true);
        start(T200);
      }
      break;
    case 6:
      rc = 0;
      enquiry();
      rc = 1;
      if (traceLevel > 1) log() << "ack expired" << std::endl;
      change_state(7);
      break;
    case 7:
      if (rc >= kN200) {
        if (traceLevel > 1) log() << "ack error !!!" << std::endl;
        on_error(256);
        establish();
        l3Initiated = false;
        change_state(4);
      } else {
        if (traceLevel > 1) log() << "ack timeout expired RC=" << rc << std::endl;
        enquiry();
        ++rc;
      }
      break;
  }
}

void LAPD::t202_expired() {
  if (state != 1 && state != 2) return;
  if (rc < kN202) {
    ri_ = static_cast<uint16_t>(Random::word());
    tx_identity(1, 127);
    start(T202);
    ++rc;
    return;
  }
  state = 0;  // no state-change trace here
  deactivated(Protocol_status(new Status(this, "link error (T202 expired N202 times)")));
}

void LAPD::t203_expired() {
  log() << "T203." << std::endl;
  if (state != 6) return;
  enquiry();
  rc = 0;
  change_state(7);
}

}  // namespace ISDN
