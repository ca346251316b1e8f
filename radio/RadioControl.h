#pragma once
// The common base of the radio controllers: one session on the radio-extension device
// ("/dev/rtp_ext") bound to the slot's RTP session, its descriptor watch, the periodic status
// timer, the one-source receive filter, the statistics of the dialect loops and the log prefix.
// The dialect controllers derive from it and do the protocol work.
#include <netinet/in.h>
#include <sys/types.h>

#include <cstdint>
#include <list>
#include <string>

#include "board/rtp_ext.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/INet4.h"
#include "foundation/TimerEvent.h"
#include "radio/RadioInterfaces.h"

namespace RTPSignalling {

// The extension device path: "/dev/rtp_ext".
const char* GetRtpExtDevName();

using rtp_ext_init_params = board::rtp_ext::InitParams;
using rtp_ext_attach_session_params = board::rtp_ext::AttachParams;
using rtp_attach_session_params = board::rtp_ext::AttachParams;
using rtp_ext_rx_info = board::rtp_ext::RxInfo;
using rtp_ext_filter = board::rtp_ext::Filter;

// How the controller binds to the drivers.
enum RadioControlType : int {
  AttachExtSession = 0,  // own extension session, attached to the slot's RTP session
  AttachRtpSession = 1,  // no own session: the RTP session joins one another process owns
  ExtSessionOnly = 2,    // own extension session, not attached
};

// Counters kept by the dialect send and receive loops.
struct RadioControlStats {
  uint32_t rx_info_calls;      // receive-information calls that returned more than 0
  uint32_t packets_decoded;
  uint32_t packets_written;
  uint32_t bytes_read;
  uint32_t bytes_written;
  uint32_t last_pack_error;    // result of the last failed pack
  uint32_t last_unpack_error;  // result of the last failed unpack
  uint32_t rx_info_errno;
  uint32_t read_errno;
  uint32_t write_errno;
};
static_assert(sizeof(RadioControlStats) == 40);

class RadioControl : public IRadioController, private IRadioIntController {
 public:
  static constexpr unsigned long kDefaultInterval = 1000;  // ms

  // Own session, attached to the RTP session named in `attach`.
  RadioControl(int id, rtp_ext_attach_session_params const& attach, rtp_ext_init_params const& init);
  // Own session only (id 0).
  explicit RadioControl(rtp_ext_init_params const& init);
  // Attaches the RTP session on `rtp` (duplicated) to a session another process owns.
  RadioControl(int id, Fd rtp, rtp_attach_session_params const& attach);
  // Closes the watch and both descriptors; issues no detach (RtpExtStop does).
  ~RadioControl() override;
  RadioControl(const RadioControl&) = delete;
  RadioControl& operator=(const RadioControl&) = delete;

  void Init(RadioControlType type);
  // (Re)opens and binds the session by the type; false (logged) when a driver step failed, and
  // then the session is made again on the reconcile timer. Type 2 opens only with `reopen`;
  // type 0 always.
  bool RtpExtStart(bool reopen);
  // Type 0: detach and close the session, which is no longer wanted. Always true.
  bool RtpExtStop();

  // Brings the session, its filter, the dialect's held state and the squelch gate in line with
  // what the controller wants. Runs on the reconcile timer while something is not confirmed,
  // and at each command of the slot.
  void Reconcile();
  // The slot's receive path follows the squelch (GetSQU) through the notify target; a gate the
  // device refused is tried again by Reconcile.
  void FollowSquelch();

  void SetTimerEnable(bool on);
  // Takes effect at the next arming.
  void SetTimerInterval(unsigned long ms) { interval_ = ms; }
  void SetTimer(unsigned long ms);
  void OnProcessStatus(Timer*);

  // Accepts extension packets from `source` only while `access` holds; the filter state
  // follows only the driver's successful answers, and a refused change is tried again until the
  // driver takes it. The request outlives the session: a session opened later gets the same
  // filter. Always 0.
  int UpdateAccess(bool access, in_addr const& source);

  // "rtp_ext[<id>] <time>:" ("rtp_ext <time>:" for the init-only form); every message starts with it.
  std::string& GetPrefix();

  // Shared steps of the dialect receive and send loops. ReadExtPacket refreshes the receive
  // information, then reads one packet: the byte count, or 0 when nothing more is queued (the
  // descriptor is non-blocking, so an empty queue ends the loop) or the read failed.
  ssize_t ReadExtPacket(uint8_t* buf, size_t size);
  // Writes one packet; the bytes written or -1 (errno kept in the statistics).
  ssize_t WriteExtPacket(const uint8_t* buf, size_t size);

  // --- settings made by the owning slot
  void SetNotify(IRadioControlNotify* notify) { notify_ = notify; }
  void SetTrace(bool on) { trace_ = on; }
  void SetSide(uint32_t side) { side_ = side; }
  // The RTP device descriptor a type-1 controller attaches through: the slot's session moves
  // to a new descriptor on a codec change, and the old one must not outlive it.
  void SetRtpDevice(Fd rtp) { rtp_fd_ = std::move(rtp); }
  // The RTP device descriptor a type-0 session attaches to at its next start.
  void SetAttachDevice(int rtp) { ext_attach_.fd_rtp = rtp; }

  // --- state, for the dialects and for inspection
  RadioControlType type() const { return type_; }
  unsigned long id() const { return id_; }
  int ext_fd() const { return ext_fd_.get(); }
  int rtp_fd() const { return rtp_fd_.get(); }
  bool timer_enabled() const { return timer_enabled_; }
  bool timer_pending() const { return status_timer_.is_set(); }
  unsigned long interval() const { return interval_; }
  bool filter_set() const { return filter_set_; }
  uint32_t filter_addr() const { return filter_.src_addr; }
  const rtp_ext_init_params& init_params() const { return init_params_; }
  const rtp_ext_rx_info& rx_info() const { return rx_info_; }
  const RadioControlStats& stats() const { return stats_; }
  uint32_t side() const { return side_; }
  bool trace() const { return trace_; }
  uint32_t time_stamp() const { return time_stamp_; }
  IRadioControlNotify* notify() const { return notify_; }
  const INet4::Addr& local_addr() const { return local_addr_; }
  const Event& watch() const { return watch_; }
  // What is wanted and not yet confirmed: a session, the filter, the gate.
  bool session_wanted() const { return want_session_; }
  bool has_session() const;
  bool filter_holds() const;
  bool gate_confirmed() const { return gate_confirmed_; }
  bool reconcile_pending() const { return reconcile_timer_.is_set(); }
  // The session of its own (types 0 and 2) that the controller has or wants. The type-1 form
  // has none by design: what it sends has nowhere to go here, and that is no failure.
  bool owns_session() const { return type_ != AttachRtpSession && (want_session_ || ext_fd_); }
  bool held_state_owed() const { return held_owed_; }

  // This gateway's own address: the first private-range address, else 127.0.0.1.
  static INet4::Addr PickLocalAddress(const std::list<INet4::Addr>& private_addresses);

 protected:
  void OnRtpExtEvent(int fd, short revents) override;
  unsigned long ProcessRadioStatus(unsigned long now_ms, unsigned long interval_ms) override {
    return IRadioIntController::ProcessRadioStatus(now_ms, interval_ms);
  }
  // Opens and initialises a new session; the open descriptor or -1 (logged unless quiet).
  int OpenSession(bool attach, bool quiet = false);
  // A controller's command whose holder address text names no IPv4 address: one line on the
  // error stream, and false, for the command to change nothing (the holder's reports would
  // otherwise be filtered out).
  bool RefuseAddress(const std::string& text);

  // The receive loop of the dialects: reads the queued extension packets, unpacks each into
  // `current` (stamped with its sender from the receive information), and hands `process`
  // only the last packet of each run from one sender with one type (`differ` non-zero ends a
  // run). At most kPacketsPerEvent packets per event keep a flooding sender from holding the
  // loop; the rest wait for the next pass.
  static constexpr int kPacketsPerEvent = 64;
  template <class Record, class Unpack, class Differ, class Process>
  void ReceiveRuns(Record& current, Record& previous, Unpack unpack, Differ differ, Process process) {
    uint8_t buf[board::rtp_ext::kMaxPacket];
    previous = Record{};
    int run = 0;
    for (int n = 0; n < kPacketsPerEvent; ++n) {
      const ssize_t got = ReadExtPacket(buf, sizeof buf);
      if (got <= 0) break;
      if (!Accepts(rx_info_.src_addr)) continue;  // as the device's filter would have
      current = Record{};
      const int r = unpack(&current, buf, static_cast<size_t>(got));
      if (r != 0) {
        stats_.last_unpack_error = static_cast<uint32_t>(r);
        continue;
      }
      ++stats_.packets_decoded;
      current.src_addr = rx_info_.src_addr;
      current.src_ssrc = rx_info_.ssrc;
      if (run > 0 && differ(&previous, &current) != 0) process(previous);
      previous = current;
      ++run;
    }
    if (run > 0) process(previous);
  }
  // Packs one record with `pack` and writes it: the bytes written, or the pack result (kept
  // as the last pack error) below 1, or -1 when there is no session or the write failed.
  template <class Record, class Pack>
  int SendRecord(const Record& record, Pack pack) {
    uint8_t buf[board::rtp_ext::kMaxPacket];
    const int n = pack(&record, buf, sizeof buf);
    if (n < 1) {
      stats_.last_pack_error = static_cast<uint32_t>(n);
      return n;
    }
    const bool written = ext_fd_ && WriteExtPacket(buf, static_cast<size_t>(n)) >= 0;
    return written ? n : -1;
  }
  // A packet that SendRecord did not get onto a session of the controller's own.
  bool Undelivered(int sent) const { return sent < 1 && owns_session(); }
  // What a dialect holds for the radio beyond the filter (an ED-137 transmit PTT), written to a
  // new session at its start and again on the reconcile timer while it is owed: a session made
  // again must carry on what the controller was told the radio does. True when the session got
  // it, or nothing is held.
  virtual bool WriteHeldState() { return true; }
  // Packets from a source other than the holder are dropped here too: until the driver takes
  // the filter asked for, nothing else keeps a foreign sender from taking the radio.
  bool Accepts(uint32_t src_addr) const {
    return !access_ || src_addr == access_source_.s_addr || (filter_set_ && filter_.src_addr == access_source_.s_addr);
  }
  // Asks the driver for the filter last asked for; true when the session has it (or there is
  // no session to filter). A refusal is logged once per change.
  bool ApplyFilter();
  // A session that hung up reports itself on every pass: its watch and descriptor go, and a new
  // session is made in its place.
  void DropHungUpSession(short revents);
  // Opens, initialises, attaches (as the type asks) and watches a session, with the filter and
  // the dialect's held state. A failure arms the reconcile timer; a driver step's failure is
  // logged unless `quiet`, a watch that cannot be made once per loss.
  bool StartSession(bool quiet);
  // Type 1: joins the slot's RTP session to the other process's extension session.
  bool JoinRtpSession(bool quiet);
  void ArmReconcile();
  bool Settled() const;
  // How long an unconfirmed session, filter or gate waits for the next try.
  static constexpr unsigned kReopenMs = 1000;

  RadioControlType type_ = AttachExtSession;
  Fd rtp_fd_;
  Fd ext_fd_;
  Event watch_;
  Timer status_timer_;
  Timer reconcile_timer_;  // armed while something wanted is not confirmed
  rtp_attach_session_params rtp_attach_{};
  rtp_ext_attach_session_params ext_attach_{};
  rtp_ext_init_params init_params_{};
  rtp_ext_rx_info rx_info_{};
  uint32_t side_ = 0;  // 0 gateway, 1 workstation
  RadioControlStats stats_{};
  uint32_t time_stamp_ = 0;
  unsigned long interval_ = kDefaultInterval;
  unsigned long id_ = 0;
  bool trace_ = false;
  bool timer_enabled_ = false;
  bool filter_set_ = false;  // what the open session has
  rtp_ext_filter filter_{};
  bool access_ = false;  // what the radio state last asked for
  in_addr access_source_{};
  bool filter_logged_ = false;  // a refusal of the filter asked for was logged
  bool want_session_ = false;   // a session attached and watched (type 1: the RTP session joined)
  bool joined_ = false;         // type 1: the driver took the join
  bool watch_logged_ = false;   // a session that could not be watched was logged
  bool gate_confirmed_ = true;  // the slot's receive path follows the squelch
  bool held_owed_ = false;      // the open session lacks the dialect's held state
  IRadioControlNotify* notify_ = nullptr;
  std::string prefix_;
  INet4::Addr local_addr_;
};

}  // namespace RTPSignalling
