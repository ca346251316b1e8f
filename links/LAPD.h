#pragma once
// ISDN::LAPD: the Q.921 data link of one D channel, user or network side, between an HDLC
// controller channel below and layer 3 above. Point-to-point with SAPI 0 / TEI 0 as on a
// primary-rate channel; after change_to_bri it filters by TEI and runs the user side of TEI
// management as on a basic-rate port.
#include <cstdint>
#include <iosfwd>

#include "asn1/schemas/ACP.h"
#include "control/Protocol.h"
#include "control/Protocol_name.h"
#include "control/Protocol_status.h"
#include "foundation/CleanQueue.h"
#include "foundation/Cyclic.h"
#include "foundation/Packet.h"
#include "foundation/TimerEvent.h"
#include "hardware/HDLC.h"

namespace ISDN {

struct Side {
  enum type : uint32_t { user = 0, network = 1 };
};
std::ostream& operator<<(std::ostream& os, Side::type side);

// "TEI unassigned" ... "Timer recovery"; "(unknown)" above 7.
char const* statetext(unsigned char state);

using Seq = Cyclic<unsigned int, 127u>;

// The variables and conditions of the Q.921 state machine, copied into every status report.
struct LAPDFullState {
  uint32_t state = 3;
  uint32_t ownTei = 0;
  uint32_t ownSapi = 0;
  uint32_t peerTei = 0;
  uint32_t peerSapi = 0;
  uint32_t rc = 0;
  bool peerBusy = false;
  bool ownBusy = false;
  bool rejException = false;
  bool l3Initiated = false;
  bool establishable = true;
  bool queuedUpRQ = false;
  bool retrRQ = false;
  bool ackRQ = false;
  bool t200run = false;
  bool t202run = false;
  bool t203run = false;
  Seq vs, va, vr;

  // The full-state dump: a line end, then one "   - " line per group.
  void put(std::ostream& os) const;
};

class LAPD : public Protocol, private LAPDFullState, public HDLC::Notify {
 public:
  struct Stats {
    uint32_t t200 = 0;          // T200 expiries
    uint32_t t202 = 0;          // T202 expiries
    uint32_t t203 = 0;          // T203 expiries
    uint32_t errors = 0;        // reported, never counted
    uint32_t retrains = 0;      // frames put back for retransmission
    uint32_t outOverflows = 0;  // messages refused, out-queue full
    uint32_t ackOverflows = 0;  // frames sent but not kept, ack-queue full
    uint32_t txMessages = 0;    // messages from layer 3, empty ones included
    uint32_t rxInSequence = 0;  // I frames received in sequence
    uint32_t txEmpty = 0;       // empty messages from layer 3
    uint32_t rejected = 0;      // I frames received out of sequence
    uint32_t badNR = 0;         // N(R) errors
    void put(std::ostream& os) const;
  };

  // The owner, told when the out-queue asks it to stop or resume.
  class Notify {
   public:
    virtual ~Notify() = default;
    virtual void OnLAPD_FlowStatusChange(LAPD* link) = 0;
  };

  struct FlowStatus {
    enum Type { flowing = 0, stopped = 1 };
  };

  // An error report carrying the link's full state at the moment it was made.
  class Status : public Protocol_status_error, private LAPDFullState {
   public:
    Status(LAPD const* link, char const* text);
    void out(std::ostream& os) const override;
    LAPDFullState const& full_state() const { return *this; }
  };

  // Timer periods (ms), retry limits, window and queue limits.
  static constexpr unsigned kT200 = 1000, kT202 = 2000, kT203 = 10000;
  static constexpr unsigned kN200 = 3, kN202 = 4, kWindow = 7;
  static constexpr unsigned kOutRefuse = 128, kFlowStop = 88, kFlowResume = 65;
  static constexpr unsigned kHeadRoom = 4;

  LAPD(Side::type side, unsigned traceLevel);
  ~LAPD() override;

  // Protocol
  Protocol_name const& name() const override { return name_; }
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;    // DL-ESTABLISH request
  void local_deactivate() override;  // DL-RELEASE request
  void message(Packet& p) override;  // DL-DATA request
  void receive(Packet& p) override;  // one frame from below

  virtual void PutHeader(std::ostream& os) const;
  void on_hdlc_receive(Packet& frame) override;
  // The channel is gone: the link is released at once (queues discarded, timers stopped),
  // reported to layer 3 when it was up or coming up.
  void on_hdlc_error(HDLC::Notify::Cause::Type cause) override;
  void on_hdlc_ready() override;
  virtual void mdl_assign(unsigned char tei);  // MDL-ASSIGN request
  virtual void on_mdl_assign();                // MDL-ASSIGN indication: a TEI is needed
  virtual void mdl_remove();                   // MDL-REMOVE request
  virtual void on_error(unsigned int code);    // MDL-ERROR indication

  void change_to_bri() { bri_ = true; }
  bool is_bri() const { return bri_; }
  void BeginTeiAssignProcedure();
  // Fills the statistics record; true when it differs from the one handed out last.
  bool GetInfo(ACP::IsdnLinkInfo& info) const;
  Protocol_status status() const;
  void show_stat();
  char const* state_text() const { return statetext(static_cast<unsigned char>(state)); }
  void change_flowstatus(FlowStatus::Type s);

  LAPDFullState const& full_state() const { return *this; }
  unsigned out_queued() const { return outQueue_.count(); }
  unsigned ack_queued() const { return ackQueue_.count(); }
  uint16_t ri() const { return ri_; }

  Side::type side;
  Stats statistics;
  Notify* notify = nullptr;
  FlowStatus::Type flowStatus = FlowStatus::flowing;
  uint32_t id = 0;
  uint32_t traceLevel;
  GenericHDLC* device = nullptr;

 private:
  enum U : unsigned char { SABME = 0x6F, DISC = 0x43, UA = 0x63, DM = 0x0F, FRMR = 0x87, UI = 0x03 };
  enum S : int { RR = 0, RNR = 1, REJ = 2 };
  enum Timer_ { T200, T202, T203 };

  // The one timer entry that T200, T202 and T203 share, kept inside the link so that
  // starting a timer for every frame allocates nothing.
  class SharedTimer : public TimerEvent {
   public:
    explicit SharedTimer(LAPD* link) : link_(link) {}
    void fire() override { link_->on_expiry(meant); }
    Timer_ meant = T200;

   private:
    LAPD* link_;
  };

  std::ostream& log() const;
  void change_state(uint32_t next);
  bool is_command(unsigned char octet1) const;
  bool tx_cmd_resp(int type, bool pf, bool command);
  bool tx_iframe(Packet& message, bool p);
  bool tx_identity(unsigned char type, unsigned ai);
  bool xmit(Packet& frame);
  void trace_frame(char const* what, Packet const& frame) const;

  void enquiry();
  void enquiry_response();
  void establish();
  void clear_exceptions();
  void nr_error_recovery();
  void retransmit_from(unsigned nr);
  void discard_queues();
  bool nr_valid(unsigned nr) const;
  void deactivated(Protocol_status st);
  void report(char const* text);

  void local_events();
  void acknowledge();
  void send_queued();

  void on_I(bool p, unsigned ns, unsigned nr, Packet& frame);
  void on_S(int type, bool command, bool pf, unsigned nr);
  void on_SABME(bool command, bool p);
  void on_DISC(bool command, bool p);
  void on_UA(bool command, bool f);
  void on_DM(bool command, bool f);
  void on_FRMR(bool command, bool f);
  void on_UI(Packet& frame);

  void start(Timer_ t);
  void stop(Timer_ t);
  bool& running(Timer_ t);
  void on_expiry(Timer_ t);
  void t200_expired();
  void t202_expired();
  void t203_expired();

  bool bri_ = false;
  uint16_t ri_ = 0;
  SharedTimer timer_{this};
  CleanQueue<Packet, 135> outQueue_;
  CleanQueue<Packet, 7> ackQueue_;
  Protocol_name_str name_{"ISDN::LAPD"};
  mutable ACP::IsdnLinkInfo lastInfo_;  // the record GetInfo handed out last
};

}  // namespace ISDN
