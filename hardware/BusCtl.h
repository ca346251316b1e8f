#pragma once
// Bus clock control: selects the clock source of the TDM buses on "/dev/hal" on the
// controller's "clockCfg", and falls back to the free-running clock whenever a controller
// connects or goes away. Start-up can leave the clock to the board (--disable-clock).
#include <iosfwd>

#include "control/CtrlSrvService.h"

class BusCtl : public CtrlSrv::Service {
 public:
  // Clock source numbers the driver knows by name.
  static constexpr int kFreeRun = 4;
  static constexpr int kX3 = 5;

  static BusCtl* instance();

  BusCtl() = default;
  ~BusCtl() override;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& command) override;

  // Leaves the bus clock to the board from now on.
  void DisableControl();
  bool control_enabled() const { return enabled_; }

  void SetDefaultClock();
  // Applies a clock configuration; false when the device could not be opened or refused
  // the source (a configuration that selects nothing succeeds).
  bool SetClockSrc(LGCP::ClockCfg const& cfg);
  bool DrvSetClkSrc(int source);

  // The name of a clock source number ("f0" ... "?2"); the number itself outside the table.
  static void PutSourceName(std::ostream& os, int source);
  void PutHeader(std::ostream& os) const;
  int fd() const { return fd_; }

 private:
  bool IsOpen();

  int fd_ = -1;
  bool enabled_ = true;
};
