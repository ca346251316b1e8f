#pragma once
// SS7 message transfer part level 2 of one signalling link: signal unit checks, initial
// alignment with proving, and basic error correction over one HDLC controller channel.
// Level 3 messages come down through message(), accepted MSUs go up through on_message();
// the link reports coming into service with on_activate and every fall to idle with
// on_deactivate. One signal unit per HDLC frame, from its BSN octet onward (no flags, no FCS).
#include <cstdint>
#include <iosfwd>

#include "control/Protocol.h"
#include "foundation/CleanQueue.h"
#include "foundation/Cyclic.h"
#include "foundation/Packet.h"
#include "foundation/TimerEvent.h"
#include "hardware/HDLC.h"

namespace LGCP {
class SS7L2Log;
}

namespace SS7 {

class SLC : public Protocol, public HDLC::Notify {
 public:
  using Seq = Cyclic<unsigned int, 127u>;

  // The status octet of an LSSU.
  enum Indication : unsigned char { SIO = 0, SIN = 1, SIE = 2, SIOS = 3 };

  class State {
   public:
    enum Type { idle = 0, not_aligned = 1, aligned = 2, proving = 3, aligned_ready = 4, worked = 5 };
    explicit State(Type t) : type(t) {}
    virtual ~State() = default;
    virtual void on_enter(SLC& link) = 0;
    virtual void on_leave(SLC& link) = 0;
    virtual void fisu(SLC& link) = 0;
    virtual void lssu(SLC& link, Indication ind) = 0;
    virtual void msu(SLC& link, Packet& p) = 0;
    virtual void message(SLC& link, Packet& p) = 0;
    virtual Type get_state_id() const = 0;

    const Type type;
  };

  // A state whose every event calls the link's member of the same name overloaded on this
  // state's type; a state without its own overload falls to the general one, which ignores it.
  template <State::Type N, class Base>
  class TState : public Base {
   public:
    TState() : Base(N) {}
    void on_enter(SLC& link) override { link.on_enter(*this); }
    void on_leave(SLC& link) override { link.on_leave(*this); }
    void fisu(SLC& link) override { link.fisu(*this); }
    void lssu(SLC& link, Indication ind) override { link.lssu(*this, ind); }
    void msu(SLC& link, Packet& p) override { link.msu(*this, p); }
    void message(SLC& link, Packet& p) override { link.message(*this, p); }
    State::Type get_state_id() const override { return N; }

   protected:
    explicit TState(State::Type t) : Base(t) {}  // for a state derived from this one
  };

  using Idle = TState<State::idle, State>;
  using NotAligned = TState<State::not_aligned, State>;
  using Aligned = TState<State::aligned, State>;
  using Proving = TState<State::proving, State>;
  // Aligned ready takes the proving state's unit handlers and has its own entry and exit.
  class AlignedReady : public Proving {
   public:
    AlignedReady() : Proving(State::aligned_ready) {}
    void on_enter(SLC& link) override { link.on_enter(*this); }
    void on_leave(SLC& link) override { link.on_leave(*this); }
    State::Type get_state_id() const override { return State::aligned_ready; }
  };
  using Worked = TState<State::worked, State>;

  // A timer's interval and the member that handles its expiry.
  struct TimerRecord {
    unsigned ms;
    void (SLC::*handler)(Timer*);
  };
  static const TimerRecord T1, T2, T3, T4n, T4e, T7;

  // Trace switches, in the order of the control protocol's SS7L2Log fields. A switch only
  // decides whether a line is written, never what the link does.
  struct LogFlags {
    bool state = false;
    bool raw_receive = false;
    bool raw_transmit = false;
    bool mtp_transmit = false;
    bool mtp_receive = false;
    bool mtp_activate = false;
    bool timers = false;
    bool msu_processing = false;
  };

  // The statistics block, in the order the PSTN slot reports it.
  struct Statistics {
    uint32_t su_sent = 0;           // FISUs and MSUs passed to the channel
    uint32_t su_received = 0;       // units of 3 octets or more
    uint32_t octets_sent = 0;       // header octets included
    uint32_t octets_received = 0;   // every frame, before any check
    uint32_t tb_overflow = 0;       // MSUs refused because the TB was full
    uint32_t rtb_fill = 0;          // refreshed by statistics()
    uint32_t retransmissions = 0;
    uint32_t nacks_sent = 0;
  };

  static constexpr unsigned kHeaderOctets = 3;
  static constexpr unsigned kRtbLimit = 127;  // MSUs the RTB holds at most
  static constexpr unsigned kTbLimit = 200;   // TB fill from which new MSUs are refused

  SLC();
  ~SLC() override;

  // --- Protocol
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void protocol_info(std::ostream& os) const override;

  // --- HDLC::Notify
  void on_hdlc_receive(Packet& p) override { receive(p); }
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;

  // Copies the controller's trace switches, field by field in their order.
  void set_log(const LGCP::SS7L2Log& l);

  // The trunk's line state; a trunk going down takes a link that is not idle to idle.
  void OnTrunkHardStatus(bool up);
  // The counters, with the RTB fill brought up to date.
  const Statistics* statistics() const;
  // Sends p at once with the current header, outside error correction.
  void send_msu(Packet& p);
  // True while less than a second has passed since it last answered false.
  bool CoutCongestion();

  void PutHeader(std::ostream& os) const;
  void PutShortInfo(std::ostream& os) const;

  State::Type state() const { return state_->get_state_id(); }
  unsigned tb_count() const { return tb_.count(); }
  int rtb_count() const { return rtb_count_; }

  // The last received header, printed as " BSN=.. BIB=.. FSN=.. FIB=..".
  struct DumpPtr {
    const SLC* link;
  };

  LogFlags log;
  // Identity, from the creation parameters; trunk, slc and dpc appear in the log header.
  uint32_t trunk = 0;
  uint32_t slc = 0;
  uint32_t dpc = 0;
  uint32_t opc = 0;
  // Emergency alignment (SIE, T4e) instead of normal (SIN, T4n).
  bool emergency = false;
  // The channel's sending side, set by the owner; not owned.
  GenericHDLC* hdlc = nullptr;

  // Header of the last received unit.
  Seq BSNR{0};
  bool BIBR = false;
  Seq FSNR{0};
  bool FIBR = false;
  uint32_t LI = 0;

  // Sending state, written into every sent FISU and MSU.
  Seq BSNT{127};
  bool BIBT = true;
  Seq FSNT{127};
  bool FIBT = true;

 private:
  // What became of a signal unit handed to send().
  enum class Sent { ok, refused, lost };

  // Generic handlers: a state without its own overload ignores the event.
  void on_enter(State&) {}
  void on_leave(State&) {}
  void fisu(State&) {}
  void lssu(State&, Indication) {}
  void msu(State&, Packet&) {}
  void message(State&, Packet&) {}

  // SIO or SIN/SIE heard while idle or not aligned.
  void start_alignment(Indication ind);
  void on_enter(Idle&);
  void lssu(Idle&, Indication ind);
  void on_enter(NotAligned&);
  void on_leave(NotAligned&) { cancel_timer(); }
  void lssu(NotAligned&, Indication ind);
  void on_enter(Aligned&);
  void on_leave(Aligned&) { cancel_timer(); }
  void lssu(Aligned&, Indication ind);
  void on_enter(Proving&);
  void on_leave(Proving&) { cancel_timer(); }
  void fisu(Proving&);
  void lssu(Proving&, Indication ind);
  void msu(Proving&, Packet& p);
  void on_enter(AlignedReady&);
  void on_leave(AlignedReady&) { cancel_timer(); }
  void on_enter(Worked&);
  void on_leave(Worked&) { cancel_timer(); }
  void fisu(Worked&);
  void lssu(Worked&, Indication ind);
  void msu(Worked&, Packet& p);
  void message(Worked&, Packet& p);

  void next_state(State& s);
  void set_timer(const TimerRecord& t);
  void cancel_timer();
  void on_T1(Timer*);
  void on_T2(Timer*);
  void on_T3(Timer*);
  void on_T4(Timer*);
  void on_T7(Timer*);
  void timer_expired(const char* text, State& to);

  Sent send(Packet p);
  void fisu();
  void lssu(Indication ind);
  void sio() { lssu(SIO); }
  void sin() { lssu(SIN); }
  void sie() { lssu(SIE); }
  void sios() { lssu(SIOS); }

  void reset();
  void clear_rtb();
  // Releases the n oldest MSUs of the RTB.
  void release_rtb(unsigned n);
  void process_tb();
  void put_to_tb(Packet& p);
  void make_expected();
  // False when the link went to idle.
  bool process_bsnr();
  void retransmit();
  void ack();
  void nack();
  // A unit whose FIB is not the expected one; false when the link went to idle.
  bool unexpected_fib();

  // The header, what, and every octet as " 0x.." on the trace stream.
  void trace_octets(const char* what, const Packet& p) const;

  // Expectation snapshot of the unit being handled.
  Seq FSNX{127};
  bool FIBX = true;
  bool FIBT_copy = true;

  bool nack_outstanding_ = false;
  bool bsn_out_of_range_ = false;
  bool fib_unexpected_ = false;

  // Retransmission buffer, indexed by FSN.
  Packet rtb_[128];
  Seq rtb_first_{0};   // FSN of the oldest unacknowledged MSU
  Seq rtb_last_{127};  // FSN of the last MSU moved into the RTB
  int32_t rtb_count_ = 0;

  CleanQueue<Packet, 327> tb_;

  Timer timer_;
  const TimerRecord* pending_ = nullptr;  // the record the held timer entry was made for

  Idle idle_;
  NotAligned not_aligned_;
  Aligned aligned_;
  Proving proving_;
  AlignedReady aligned_ready_;
  Worked worked_;
  State* state_ = &idle_;

  uint32_t congestion_time_;
  mutable Statistics stats_;
};

std::ostream& operator<<(std::ostream& os, SLC::State::Type t);
std::ostream& operator<<(std::ostream& os, SLC::Indication ind);
std::ostream& operator<<(std::ostream& os, const SLC::DumpPtr& d);

}  // namespace SS7
