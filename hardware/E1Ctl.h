#pragma once
// E1 trunk, clock and CAS control for the board's four E1 trunks: reports each trunk's
// synchronisation status every second, keeps the trunks' transmit-clock (TCLK) mask on
// "/dev/maintenance", and runs channel-associated signalling on "/dev/e1-cas": the
// controller opens and closes CAS per trunk and timeslot, sets and asks for the signalling
// bits, and every change the driver reports goes to the controller as a "cas" signal.
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

  // The status timer: a status round and a retry of the CAS device.
  void OnCheckStatus(Timer*);
  void SendStatus();
  // Applies a trunk's clock mode. A negative trunk is ignored; one beyond the mask's 32 bits
  // is refused before anything changes; failed: the driver did not take the mask.
  enum class ModeResult { ok, ignored, invalid, failed };
  ModeResult SetMode(LGCP::TrunkCfg const& cfg);
  bool UpdateTclk();
  // Runs a CAS command; false when the CAS device cannot be opened.
  bool HandleCas(LGCP::CasCommand const& cas);
  bool CheckOpenCas();
  void OnUpdateCas(int fd, short revents);

  void HandleCasOpen(int trunk, int timeslot, int bits);
  void HandleCasClose(int trunk, int timeslot);
  void HandleCasGet(int trunk, int timeslot);
  void SendCASSignal(int trunk, int timeslot, int rx, int tx);
  void SendCASTrunkStatus(int trunk, int code) { SendCASSignal(trunk, 0, code, 0); }

  void PutHeader(std::ostream& os) const;

  uint32_t tclk_mask() const { return tclk_; }
  bool cas_open(int trunk) const { return trunk >= 0 && trunk < kTrunks && casOpen_[static_cast<size_t>(trunk)]; }
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
  // Reads a channel's current bits and reports them (or the failure).
  void ReportChannelBits(int trunk, int timeslot);
  static bool ValidTrunk(int trunk) { return trunk >= 0 && trunk < kTrunks; }

  int maintenance_ = -1;
  Timer timer_;
  Fd cas_;
  Event casEvent_;
  std::array<bool, kTrunks> casOpen_{};
  uint32_t tclk_ = 0;  // bit n set: trunk n takes its transmit clock from the line ("slave")
};
