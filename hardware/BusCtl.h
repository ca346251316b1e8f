#pragma once
// Bus clock control: selects the clock source of the TDM buses on "/dev/hal" on the
// controller's "clockCfg", and falls back to the free-running clock whenever a controller
// connects or goes away. Start-up can leave the clock to the board (--disable-clock).
//
// The source the daemon wants is kept apart from the one the device confirmed on the present
// descriptor: a refused or impossible write, a device that was away, or one that was reset
// (its descriptor hangs up) leaves the wanted source owed, and a retry timer with back-off
// writes it until the device takes it.
#include <iosfwd>

#include "control/CtrlSrvService.h"
#include "foundation/Event.h"
#include "foundation/TimerEvent.h"

class BusCtl : public CtrlSrv::Service {
 public:
  // Clock source numbers the driver knows by name.
  static constexpr int kFreeRun = 4;
  static constexpr int kX3 = 5;
  // The retry of an owed source: the first after this, doubled after each failure up to the
  // last.
  static constexpr unsigned kRetryFirstMs = 500;
  static constexpr unsigned kRetryLastMs = 8000;

  static BusCtl* instance();

  BusCtl();
  ~BusCtl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& command) override;

  // Leaves the bus clock to the board from now on.
  void DisableControl();
  bool control_enabled() const { return enabled_; }

  // The free-running clock, owed until the device takes it.
  void SetDefaultClock();
  // Applies a clock configuration; false when the device could not be opened or refused
  // the source (a configuration that selects nothing succeeds). A refused configuration
  // leaves the source wanted before it.
  bool SetClockSrc(LGCP::ClockCfg const& cfg);
  bool DrvSetClkSrc(int source);

  // The name of a clock source number ("f0" ... "?2"); the number itself outside the table.
  static void PutSourceName(std::ostream& os, int source);
  void PutHeader(std::ostream& os) const;
  int fd() const { return fd_; }
  // The source the daemon wants (-1: none chosen) and whether the device still owes it.
  int wanted() const { return wanted_; }
  bool owed() const { return wanted_ >= 0 && confirmed_ != wanted_; }

 private:
  // How the last attempt failed, so that a failure is logged once, not at every retry.
  enum class Failure { none, open, request };

  bool IsOpen();
  // The source a configuration selects; -1 when it selects none.
  static int SourceOf(LGCP::ClockCfg const& cfg);
  // One write of the wanted source when it is owed; arms the retry while it stays owed.
  void Reconcile();
  void OnRetry();
  // The device hung up its descriptor (it was reset or went away): it is opened anew and
  // told the wanted source again.
  void OnDeviceEvent(int fd, short revents);
  void Drop();
  void Failed(Failure failure);

  int fd_ = -1;
  bool enabled_ = true;
  int wanted_ = -1;
  int confirmed_ = -1;  // the source the device took on the present descriptor; -1: unknown
  Failure logged_ = Failure::none;
  unsigned retry_ms_ = 0;
  Timer retry_;
  Event watch_;
};
