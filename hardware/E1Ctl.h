#pragma once
// E1 trunk, clock and CAS control for the board's four E1 trunks: reports each trunk's
// synchronisation status every second, keeps the trunks' transmit-clock (TCLK) mask on
// "/dev/maintenance", and runs channel-associated signalling on "/dev/e1-cas": the
// controller opens and closes CAS per trunk and timeslot, sets and asks for the signalling
// bits, and every change the driver reports goes to the controller as a "cas" signal.
// The mask and each trunk's CAS state are kept as the daemon wants them, apart from whether the
// board confirmed them: what a refusal, a departed controller or a lost descriptor left
// different is put right on the status tick, once, and before the trunk is used again.
#include <array>
#include <cstdint>
#include <iosfwd>

#include "control/CtrlSrvService.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/TimerEvent.h"

class E1Ctl : public CtrlSrv::Service {
 public:
  static constexpr int kTrunks = 4;
  static constexpr unsigned kStatusPeriodMs = 1000;
  // Trunk status codes in the rx field of a trunk-level "cas" signal.
  static constexpr int kCasTrunkOpen = 0;
  static constexpr int kCasTrunkClosed = 1;

  static E1Ctl* instance();

  E1Ctl();
  ~E1Ctl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& command) override;

  // The status timer: a status round, and what the board has not confirmed yet (the mask, the
  // CAS device and its trunks) tried again.
  void OnCheckStatus(Timer*);
  void SendStatus();
  // Applies a trunk's clock mode. A negative trunk is ignored; one beyond the mask's 32 bits
  // is refused before anything changes; failed: the driver did not take the mask.
  enum class ModeResult { ok, ignored, invalid, failed };
  ModeResult SetMode(LGCP::TrunkCfg const& cfg);
  // Writes the mask to the driver; it becomes the kept mask only when the driver took it, so
  // that a refused change is not carried by a later one. A refusal leaves the kept mask to be
  // written again on the status tick.
  bool UpdateTclk(uint32_t mask);
  // What became of a CAS command: carried out (its "cas" signals sent, a driver failure in
  // them), refused for want of the device, or refused with nothing to act on (a trunk out of
  // range or not open, a close of timeslot 16).
  enum class CasResult { done, noDevice, invalid };
  CasResult HandleCas(LGCP::CasCommand const& cas);
  // Opens the CAS device when it is closed; opened again after a loss, it opens the trunks and
  // enables the channels that were open before and reports their bits.
  bool CheckOpenCas();
  // Brings every trunk to what the daemon wants of it: a close owed by a controller that left,
  // a trunk or channel that did not come back after a loss. A failure is reported (and logged)
  // once, the trunk's return once.
  void ReconcileCas();
  void OnUpdateCas(int fd, short revents);

  CasResult HandleCasOpen(int trunk, int timeslot, int bits);
  CasResult HandleCasClose(int trunk, int timeslot);
  CasResult HandleCasGet(int trunk, int timeslot);
  void SendCASSignal(int trunk, int timeslot, int rx, int tx);
  void SendCASTrunkStatus(int trunk, int code) { SendCASSignal(trunk, 0, code, 0); }

  void PutHeader(std::ostream& os) const;

  uint32_t tclk_mask() const { return tclk_; }
  // The driver took the kept mask (since the last reset of it or loss of the device).
  bool tclk_confirmed() const { return tclkConfirmed_; }
  // The board holds the trunk as the daemon wants it (open with its channels, or closed).
  bool cas_confirmed(int trunk) const {
    if (!ValidTrunk(trunk)) return false;
    const auto t = static_cast<size_t>(trunk);
    return casConfirmed_[t] && (!casOpen_[t] || (casEnabled_[t] & ~casChannelsConfirmed_[t]) == 0);
  }
  bool cas_open(int trunk) const { return ValidTrunk(trunk) && casOpen_[static_cast<size_t>(trunk)]; }
  // The channels of a trunk enabled for CAS (bit n: timeslot n).
  uint32_t cas_enabled(int trunk) const { return ValidTrunk(trunk) ? casEnabled_[static_cast<size_t>(trunk)] : 0; }
  int maintenance_fd() const { return maintenance_; }
  int cas_fd() const { return cas_.get(); }
  bool timer_armed() const { return timer_.is_set(); }

 private:
  bool IsOpen();
  // Gives up a maintenance device that is gone, so that the next use opens it again.
  void CheckMaintenanceError(int error);
  // Gives up the CAS device after an end of file, a hang-up or a persistent error; the next
  // status tick or CAS command opens it again.
  void ReleaseCas(const char* why);
  // Writes the kept mask when the driver has not confirmed it; a failure is logged once.
  void ReconcileTclk();
  // One write of mask on the open maintenance descriptor; taken, it is the kept mask. A failure
  // is logged (once: only when none was logged since the last success).
  bool WriteTclk(uint32_t mask, bool once);
  // One trunk brought to what is wanted of it; 0, or the driver's result of the request that
  // failed.
  int ReconcileTrunk(int trunk);
  // ReconcileTrunk for one trunk outside the status tick (a command on it).
  int SettleTrunk(int trunk);
  // A request on the CAS device; a descriptor the driver gave up (ENODEV, EBADF) is dropped and
  // the request tried once more on a new one (not while reconciling: the next tick opens it
  // again). The driver's result (negative on failure).
  int CasRequest(uint32_t number, void* arg);
  int CasRequestValue(uint32_t number, unsigned long value);
  template <typename Call>
  int CasRetry(Call call);
  // Enables (or disables) a channel with these initial transmitted bits; the driver's result.
  int CasChannelRequest(int trunk, int timeslot, int bits, bool disable);
  // Reads a channel's current bits and reports them (or the failure).
  void ReportChannelBits(int trunk, int timeslot);
  static bool ValidTrunk(int trunk) { return trunk >= 0 && trunk < kTrunks; }

  int maintenance_ = -1;
  Timer timer_;
  Fd cas_;
  Event casEvent_;
  // What the controller has: open trunks, and their enabled channels with their bits.
  std::array<bool, kTrunks> casOpen_{};
  std::array<uint32_t, kTrunks> casEnabled_{};            // bit n: timeslot n enabled
  std::array<std::array<uint8_t, 32>, kTrunks> casTx_{};  // the bits each channel was enabled with
  // What the board confirmed of it: the trunk open or closed as wanted (false: a close owed by
  // a controller that left, or an open trunk not yet back after a loss), and the channels it
  // enabled since the trunk was last opened.
  std::array<bool, kTrunks> casConfirmed_ = {true, true, true, true};
  std::array<uint32_t, kTrunks> casChannelsConfirmed_{};
  // A failure to bring the trunk (or a channel) back was reported: the retries are quiet.
  std::array<bool, kTrunks> casTrouble_{};
  std::array<uint32_t, kTrunks> casChannelTrouble_{};
  bool casLost_ = false;         // given up after it was open: the next open restores the trunks
  bool casReconciling_ = false;  // ReconcileCas or SettleTrunk runs (a loss in it is not retried)
  uint32_t tclk_ = 0;  // bit n set: trunk n takes its transmit clock from the line ("slave")
  bool tclkConfirmed_ = false;  // the driver took tclk_
  bool tclkTrouble_ = false;    // a failure to write it was logged: the retries are quiet
};
