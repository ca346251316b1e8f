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
  // Writes the mask to the driver; it becomes the kept mask only when the driver took it, so
  // that a refused change is not carried by a later one.
  bool UpdateTclk(uint32_t mask);
  // What became of a CAS command: carried out (its "cas" signals sent, a driver failure in
  // them), refused for want of the device, or refused with nothing to act on (a trunk out of
  // range or not open, a close of timeslot 16).
  enum class CasResult { done, noDevice, invalid };
  CasResult HandleCas(LGCP::CasCommand const& cas);
  // Opens the CAS device when it is closed; opened again after a loss, it opens the trunks and
  // enables the channels that were open before and reports their bits.
  bool CheckOpenCas();
  void OnUpdateCas(int fd, short revents);

  CasResult HandleCasOpen(int trunk, int timeslot, int bits);
  CasResult HandleCasClose(int trunk, int timeslot);
  CasResult HandleCasGet(int trunk, int timeslot);
  void SendCASSignal(int trunk, int timeslot, int rx, int tx);
  void SendCASTrunkStatus(int trunk, int code) { SendCASSignal(trunk, 0, code, 0); }

  void PutHeader(std::ostream& os) const;

  uint32_t tclk_mask() const { return tclk_; }
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
  // After a loss: the closes owed to a controller that left first, then the open trunks and
  // enabled channels opened again on the new descriptor.
  void RestoreCas();
  // Closes the trunks whose close failed when their controller left; a failure keeps the trunk
  // owed, to be tried again on the next descriptor or status tick (quiet: without a line).
  void CloseOwedTrunks(bool quiet = false);
  // A request on the CAS device; a descriptor the driver gave up (ENODEV, EBADF) is dropped and
  // the request tried once more on a new one. The driver's result (negative on failure).
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
  std::array<bool, kTrunks> casOpen_{};
  std::array<uint32_t, kTrunks> casEnabled_{};            // bit n: timeslot n enabled
  std::array<std::array<uint8_t, 32>, kTrunks> casTx_{};  // the bits each channel was enabled with
  // Trunks left open by a controller that is gone (the close failed): closed as soon as the
  // device takes it, never opened again for anyone.
  std::array<bool, kTrunks> casCloseOwed_{};
  bool casLost_ = false;       // given up after it was open: the next open restores the trunks
  bool casRestoring_ = false;  // RestoreCas runs (a loss in it is not retried)
  uint32_t tclk_ = 0;  // bit n set: trunk n takes its transmit clock from the line ("slave")
};
