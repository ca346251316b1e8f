#pragma once
// The heartbeat watchdog service, bound first so that it sees every command: the first
// command of a connection arms a 120-second watchdog and each one restarts it, "ping" is
// answered here, and a controller that then stays silent for the whole period is dropped.
#include <cstdint>
#include <iosfwd>

#include "control/CtrlSrvService.h"
#include "foundation/TimerEvent.h"

class HeartBeatCtl : public CtrlSrv::Service {
 public:
  static constexpr unsigned kTimeoutMs = 120000;

  static HeartBeatCtl* instance();
  ~HeartBeatCtl() override = default;

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& command) override;

  void ResetTimeOut();
  bool armed() const { return watchdog_.is_set(); }
  // The watchdog period; only tests shorten it.
  void set_timeout_ms(unsigned ms) { timeout_ms_ = ms; }
  unsigned timeout_ms() const { return timeout_ms_; }

  void PutHeader(std::ostream& os) const;

 private:
  HeartBeatCtl() = default;
  void OnHeartbeatTimeout(Timer*);

  Timer watchdog_;
  unsigned timeout_ms_ = kTimeoutMs;
  uint32_t last_command_ms_ = 0;
};
