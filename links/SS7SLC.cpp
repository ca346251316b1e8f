#include "links/SS7SLC.h"

#include <iostream>
#include <new>

#include "asn1/schemas/LGCP.h"
#include "foundation/Hex.h"
#include "foundation/Mux.h"
#include "links/Deliverable.h"

namespace SS7 {

const SLC::TimerRecord SLC::T1{45000, &SLC::on_T1};
const SLC::TimerRecord SLC::T2{7000, &SLC::on_T2};
const SLC::TimerRecord SLC::T3{1500, &SLC::on_T3};
const SLC::TimerRecord SLC::T4n{8200, &SLC::on_T4};
const SLC::TimerRecord SLC::T4e{500, &SLC::on_T4};
const SLC::TimerRecord SLC::T7{12000, &SLC::on_T7};

namespace {

// LI as sent: the payload length below 63, else 63; the two spare bits stay 0.
unsigned char length_indicator(unsigned payload) { return payload < 63 ? payload : 63; }

}  // namespace

std::ostream& operator<<(std::ostream& os, SLC::State::Type t) {
  switch (t) {
    case SLC::State::idle: return os << "idle";
    case SLC::State::not_aligned: return os << "not aligned";
    case SLC::State::aligned: return os << "aligned";
    case SLC::State::proving: return os << "proving";
    case SLC::State::aligned_ready: return os << "aligned ready";
    case SLC::State::worked: return os << "worked";
  }
  return os << "unknown";
}

std::ostream& operator<<(std::ostream& os, SLC::Indication ind) {
  switch (ind) {
    case SLC::SIO: return os << "out of alignment";
    case SLC::SIN: return os << "normal alignment";
    case SLC::SIE: return os << "emergency alignment";
    case SLC::SIOS: return os << "out of service";
  }
  return os << "unknown:" << ext::OutUnsignedInHex(ind);
}

std::ostream& operator<<(std::ostream& os, const SLC::DumpPtr& d) {
  const SLC& l = *d.link;
  return os << " BSN=" << unsigned(l.BSNR) << " BIB=" << (l.BIBR ? 1 : 0) << " FSN=" << unsigned(l.FSNR)
            << " FIB=" << (l.FIBR ? 1 : 0);
}

SLC::SLC() : congestion_time_(Mux::milliseconds()) {}

SLC::~SLC() = default;

// --- Protocol -------------------------------------------------------------------------------

void SLC::local_prepare_head(Packet& p) { p.reserve_head(kHeaderOctets); }

void SLC::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void SLC::protocol_info(std::ostream& os) const { os << "MTP/L2"; }

void SLC::local_activate() {
  if (state_ == &idle_) {
    if (log.mtp_activate) std::clog << ext::header(this) << "local_activate: executing..." << std::endl;
    next_state(not_aligned_);
    return;
  }
  if (log.mtp_activate) std::clog << ext::header(this) << "local_activate: ignored." << std::endl;
  if (state_ == &worked_) on_activate();
}

void SLC::local_deactivate() {
  if (log.mtp_activate) std::clog << ext::header(this) << "local_deactivate()" << std::endl;
  next_state(idle_);
}

void SLC::message(Packet& p) {
  if (log.mtp_transmit) trace_octets(" mtp tx", p);
  state_->message(*this, p);
}

void SLC::receive(Packet& p) {
  if (log.raw_receive) trace_octets(" rx raw", p);
  stats_.octets_received += p.length();
  if (p.length() < kHeaderOctets) {
    std::cerr << ext::header(this) << "ignore packet, length too small " << p.text() << std::endl;
    return;
  }
  const unsigned char* h = p.data();
  BSNR = h[0] & 0x7F;
  BIBR = (h[0] & 0x80) != 0;
  FSNR = h[1] & 0x7F;
  FIBR = (h[1] & 0x80) != 0;
  LI = h[2];
  try {
    p.pull(kHeaderOctets);  // copies a frame somebody else still holds
  } catch (const std::bad_alloc&) {
    std::cerr << ext::header(this) << "no packet buffer: signal unit lost" << std::endl;
    return;
  }

  unsigned rest = p.length();
  unsigned seen = rest < 63 ? rest : 63;
  if (LI != seen) {
    std::cerr << ext::header(this) << "invalid packet length," << " expected = " << LI << ", received = " << rest
              << std::endl;
    if (rest >= 63) {
      std::cerr << ext::header(this) << "can't truncate signalling unit." << std::endl;
    } else if (LI < rest) {
      unsigned n = rest - LI;
      std::cerr << ext::header(this) << "truncate " << n << " octet(s) : " << p.text() << std::endl;
      p.trim(n);
      rest = LI;
    }
  }
  LI = rest;
  ++stats_.su_received;

  if (rest == 0)
    state_->fisu(*this);
  else if (rest <= 2)
    state_->lssu(*this, static_cast<Indication>(p.data()[0]));
  else
    state_->msu(*this, p);
}

// --- HDLC::Notify and owner calls -----------------------------------------------------------

void SLC::on_hdlc_error(HDLC::Notify::Cause::Type cause) {
  std::clog << ext::header(this) << "hdlc error [cause=" << static_cast<int>(cause) << "]" << std::endl;
  // The channel is closed: nothing sent reaches the far end any more, and in service nothing
  // else would notice (no MSU gets into the RTB, so T7 never runs). Out of service, as when
  // the trunk goes down; the owner's next activation starts on a new channel.
  OnTrunkHardStatus(false);
}

void SLC::on_hdlc_ready() {
  std::clog << ext::header(this) << "hdlc ready" << std::endl;
  process_tb();
}

void SLC::set_log(const LGCP::SS7L2Log& l) {
  log = {l.get_state(),        l.get_raw_receive(), l.get_raw_transmit(), l.get_mtp_transmit(),
         l.get_mtp_receive(),  l.get_mtp_activate(), l.get_timers(),      l.get_msu_processing()};
}

void SLC::OnTrunkHardStatus(bool up) {
  if (up || state_ == &idle_) return;
  std::clog << ext::header(this) << " transport OFF by low level terminated" << std::endl;
  next_state(idle_);
}

const SLC::Statistics* SLC::statistics() const {
  stats_.rtb_fill = static_cast<uint32_t>(rtb_count_);
  return &stats_;
}

void SLC::send_msu(Packet& p) {
  if (p.length() == 0) {
    if (log.msu_processing) std::cerr << ext::header(this) << "fail to send msu (bad packet)" << std::endl;
    return;
  }
  send(p);
}

bool SLC::CoutCongestion() {
  uint32_t now = Mux::milliseconds();
  if (now - congestion_time_ <= 999) return true;
  congestion_time_ = now;
  return false;
}

void SLC::PutShortInfo(std::ostream& os) const {
  os << "SS7/L2 " << "[" << "dpc=" << dpc << ", slc=" << slc << ", trunk=" << trunk << "]";
}

void SLC::PutHeader(std::ostream& os) const {
  os << "SS7/L2 " << "[" << "dpc=" << dpc << ", slc=" << slc << ", trunk=" << trunk << "] " << "("
     << state_->get_state_id() << ")" << ": ";
}

void SLC::trace_octets(const char* what, const Packet& p) const {
  std::clog << ext::header(this) << what;
  for (unsigned i = 0; i < p.length(); ++i) std::clog << ' ' << ext::OutUnsignedInHex(p.data()[i]);
  std::clog << std::endl;
}

// --- states ---------------------------------------------------------------------------------

void SLC::next_state(State& s) {
  if (log.state) {
    PutShortInfo(std::clog);
    std::clog << ": " << "change state from " << '"' << state_->get_state_id() << '"' << " to " << '"'
              << s.get_state_id() << '"' << std::endl;
  }
  state_->on_leave(*this);
  state_ = &s;
  state_->on_enter(*this);
}

void SLC::on_enter(Idle&) {
  reset();
  sios();
  on_deactivate(Protocol_status(new Protocol_status_error(this, "impossible phasing")));
}

void SLC::lssu(Idle&, Indication ind) { start_alignment(ind); }

void SLC::start_alignment(Indication ind) {
  if (ind == SIO)
    next_state(aligned_);
  else if (ind == SIN || ind == SIE)
    next_state(proving_);
}

void SLC::on_enter(NotAligned&) {
  reset();
  set_timer(T2);
  sio();
}

void SLC::lssu(NotAligned&, Indication ind) { start_alignment(ind); }

void SLC::on_enter(Aligned&) {
  set_timer(T3);
  if (log.timers) std::clog << ext::header(this) << "set T3" << std::endl;
  if (emergency)
    sie();
  else
    sin();
}

void SLC::lssu(Aligned&, Indication ind) {
  if (ind == SIN || ind == SIE) next_state(proving_);
}

void SLC::on_enter(Proving&) {
  if (emergency) {
    set_timer(T4e);
    sie();
  } else {
    set_timer(T4n);
    sin();
  }
  if (log.timers) std::clog << ext::header(this) << "set T4" << std::endl;
}

void SLC::fisu(Proving&) { next_state(worked_); }

void SLC::lssu(Proving&, Indication ind) {
  if (ind != SIN && ind != SIE) next_state(idle_);
}

void SLC::msu(Proving&, Packet&) { next_state(worked_); }

void SLC::on_enter(AlignedReady&) {
  set_timer(T1);
  fisu();
}

void SLC::on_enter(Worked&) {
  if (!tb_.empty()) {
    std::cerr << ext::header(this) << "discard " << tb_.count() << " msu in TB" << std::endl;
    tb_.clear();
  }
  reset();
  fisu();
  process_tb();
  on_activate();
}

void SLC::lssu(Worked&, Indication ind) {
  std::cerr << ext::header(this) << "receive lssu: " << ind << " " << DumpPtr{this} << std::endl;
  next_state(idle_);
}

void SLC::message(Worked&, Packet& p) {
  put_to_tb(p);
  process_tb();
}

void SLC::fisu(Worked&) {
  make_expected();
  if (FIBR == FIBX) {
    nack_outstanding_ = false;
    fib_unexpected_ = false;
    if (!process_bsnr()) return;
    if (FSNR != FSNX) nack();
    return;
  }
  unexpected_fib();
}

void SLC::msu(Worked&, Packet& p) {
  make_expected();
  if (FSNR == FSNX) {
    if (log.msu_processing)
      std::clog << ext::header(this) << "discard msu due to 5.2.2/i Q.702" << " fsnr=" << unsigned(FSNR)
                << " fsnx=" << unsigned(FSNX) << std::endl;
    return;
  }
  if (FIBR == FIBX) {
    nack_outstanding_ = false;
    fib_unexpected_ = false;
    if (!process_bsnr()) return;
    if (FSNR == FSNX + 1u && p.length() > Links::kMaxDeliverable) {
      // No signal carries it to the controller: the BSN stays, so the far end keeps it for
      // retransmission instead of counting it delivered.
      std::cerr << ext::header(this) << "msu of " << p.length() << " octets too long for the controller, not acknowledged"
                << std::endl;
    } else if (FSNR == FSNX + 1u) {
      ack();
      if (log.mtp_receive) trace_octets(" mtp rx", p);
      on_message(p);
    } else {
      if (log.msu_processing)
        std::clog << ext::header(this) << "discard msu due to 5.2.2/ii Q.702" << " fsnr=" << unsigned(FSNR)
                  << " fsnx=" << unsigned(FSNX) << std::endl;
      nack();
    }
    return;
  }
  unexpected_fib();
}

bool SLC::unexpected_fib() {
  if (nack_outstanding_) return process_bsnr();
  if (!fib_unexpected_) {
    fib_unexpected_ = true;
    return true;
  }
  if (log.msu_processing) std::cerr << ext::header(this) << "bad start of a retransmission: " << DumpPtr{this} << std::endl;
  next_state(idle_);
  return false;
}

// --- timers ---------------------------------------------------------------------------------

void SLC::set_timer(const TimerRecord& t) {
  // T7 is re-armed with nearly every MSU: the pending entry is moved rather than replaced, so
  // that steady traffic allocates nothing.
  if (timer_.get() && pending_ == &t) {
    timer_.get()->schedule(t.ms);
    return;
  }
  timer_.reset(new ObjTimerEvent2<SLC>(&timer_, t.handler, this, t.ms));
  pending_ = &t;
}

void SLC::cancel_timer() {
  if (timer_.get()) timer_.get()->reset();  // disarmed, kept for the next arming of the same timer
}

void SLC::timer_expired(const char* text, State& to) {
  if (log.timers) std::clog << ext::header(this) << text << std::endl;
  next_state(to);
}

void SLC::on_T1(Timer*) { timer_expired("T1 expired", idle_); }
void SLC::on_T2(Timer*) { timer_expired("T2 expired", idle_); }
void SLC::on_T3(Timer*) { timer_expired("T3 expired", idle_); }
void SLC::on_T4(Timer*) { timer_expired("T4 expired.", aligned_ready_); }

void SLC::on_T7(Timer*) {
  if (log.timers) std::clog << ext::header(this) << "T7 expired: " << rtb_count_ << " packets in RTB." << std::endl;
  next_state(idle_);
}

// --- sending --------------------------------------------------------------------------------

SLC::Sent SLC::send(Packet p) {
  if (!hdlc) {
    std::clog << ext::header(this) << "no HDLC interface attached!!!" << std::endl;
    return Sent::refused;
  }
  // p shares its buffer with the TB or the RTB: the first push makes it a private copy, so a
  // buffered MSU keeps its bare payload and every transmission writes a fresh header. That
  // copy needs a pool buffer; with the pool empty the unit is lost on the way (the far end's
  // error correction asks for it again), not refused by the channel, which would never report
  // itself ready again.
  try {
    unsigned payload = p.length();
    if (p.is_null()) p.reserve_head(kHeaderOctets);
    else if (p.headroom() < kHeaderOctets) p.reserve_head(kHeaderOctets - p.headroom());
    p.push8(length_indicator(payload));
    p.push8(static_cast<unsigned char>((FIBT ? 0x80 : 0) | unsigned(FSNT)));
    p.push8(static_cast<unsigned char>((BIBT ? 0x80 : 0) | unsigned(BSNT)));
  } catch (const std::bad_alloc&) {
    std::cerr << ext::header(this) << "no packet buffer: signal unit lost" << std::endl;
    return Sent::lost;
  }
  if (!hdlc->hdlc_transmit(p)) {
    if (log.raw_transmit) std::clog << ext::header(this) << " tx full!" << std::endl;
    return Sent::refused;
  }
  if (log.raw_transmit) trace_octets(" tx raw", p);
  ++stats_.su_sent;
  stats_.octets_sent += p.length();
  return Sent::ok;
}

void SLC::fisu() {
  Packet p;
  try {
    prepare_head(p);
  } catch (const std::bad_alloc&) {
    std::cerr << ext::header(this) << "no packet buffer: signal unit lost" << std::endl;
    return;
  }
  send(p);
}

void SLC::lssu(Indication ind) {
  if (!hdlc) return;
  Packet p;
  try {
    p.reserve_head(kHeaderOctets);
  } catch (const std::bad_alloc&) {
    std::cerr << ext::header(this) << "no packet buffer: signal unit lost" << std::endl;
    return;
  }
  p.put8(ind);
  p.push8(0x01);
  p.push8(0xFF);
  p.push8(0xFF);
  hdlc->hdlc_transmit(p);
}

// --- buffers and error correction -----------------------------------------------------------

void SLC::reset() {
  clear_rtb();
  nack_outstanding_ = bsn_out_of_range_ = fib_unexpected_ = false;
  BSNT = FSNT = 127u;
  BIBT = FIBT = true;
}

void SLC::release_rtb(unsigned n) {
  // Bounded by what the RTB holds: a count never goes negative and an acknowledgement of
  // nothing new releases nothing (rather than walking the whole ring).
  if (n > static_cast<unsigned>(rtb_count_)) n = static_cast<unsigned>(rtb_count_);
  for (; n > 0; --n) {
    rtb_[unsigned(rtb_first_)] = Packet();
    ++rtb_first_;
    --rtb_count_;
  }
}

void SLC::clear_rtb() {
  release_rtb(static_cast<unsigned>(rtb_count_));
  rtb_first_ = 0u;
  rtb_last_ = 127u;
  rtb_count_ = 0;
}

void SLC::process_tb() {
  if (state_ != &worked_) return;
  if (tb_.empty()) {
    fisu();
    return;
  }
  Packet p;
  while (static_cast<unsigned>(rtb_count_) < kRtbLimit && tb_.preview(&p)) {
    FSNT = rtb_last_ + 1u;
    if (send(p) == Sent::refused) return;
    tb_.get(nullptr);
    rtb_[unsigned(FSNT)] = std::move(p);
    p = Packet();
    rtb_last_ = FSNT;
    if (++rtb_count_ == 1) set_timer(T7);
  }
}

void SLC::put_to_tb(Packet& p) {
  if (tb_.count() >= kTbLimit) {
    ++stats_.tb_overflow;
    std::cerr << ext::header(this) << "no space in TB buffer," << " TB=" << tb_.count() << " RTB=" << rtb_count_
              << " ignoring msu: " << p.text() << std::endl;
    return;
  }
  tb_.put(p);
}

void SLC::make_expected() {
  FSNX = BSNT;
  FIBX = BIBT;
  FIBT_copy = FIBT;
}

bool SLC::process_bsnr() {
  Seq last_acked = rtb_first_ + 127u;  // oldest - 1
  unsigned distance = (unsigned(BSNR) - unsigned(last_acked)) & 127u;
  if (distance > ((unsigned(rtb_last_) - unsigned(last_acked)) & 127u)) {
    if (!bsn_out_of_range_) {
      bsn_out_of_range_ = true;
      return true;
    }
    if (log.msu_processing) std::cerr << ext::header(this) << "bad su acknowledgement received: " << DumpPtr{this} << std::endl;
    next_state(idle_);
    return false;
  }
  bsn_out_of_range_ = false;
  if (distance != 0) set_timer(T7);
  release_rtb(distance);
  if (rtb_count_ == 0) cancel_timer();
  if (BIBR != FIBT_copy)
    retransmit();
  else if (distance != 0 && !tb_.empty())
    process_tb();  // MSUs held back by a full RTB go out as room is made, not with the next message
  return true;
}

void SLC::retransmit() {
  if (log.msu_processing) std::cerr << ext::header(this) << "retransmit" << " rtb=" << rtb_count_ << std::endl;
  ++stats_.retransmissions;
  FSNT = rtb_first_ + 127u;
  FIBT = BIBR;
  for (Seq i = rtb_last_; rtb_count_ > 0; --i) {
    tb_.append(rtb_[unsigned(i)]);
    rtb_[unsigned(i)] = Packet();
    --rtb_count_;
  }
  rtb_first_ = FSNT + 1u;
  rtb_last_ = FSNT;
  process_tb();
}

void SLC::ack() {
  BSNT = FSNR;
  if (log.msu_processing) std::cerr << ext::header(this) << "ack!" << std::endl;
  fisu();
}

void SLC::nack() {
  BIBT = !BIBT;
  FIBX = BIBT;
  nack_outstanding_ = true;
  fisu();
  ++stats_.nacks_sent;
  if (log.msu_processing) std::cerr << ext::header(this) << "nack!" << std::endl;
}

}  // namespace SS7
