#pragma once
// The slot table service (bound second, after the heartbeat): takes the slot commands and
// the resource query. This is its start-up shell: no factory makes a slot yet, so the table
// stays empty and every slot command is answered with the cause that an empty table gives.
#include "control/CtrlSrvService.h"

class Slots : public CtrlSrv::Service {
 public:
  static constexpr unsigned kSlots = 1024;

  static Slots* instance();

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const& command) override;
  void OnSignal(LGCP::Signal const&) override {}

  // Collects every factory's part of the resources and sends it as the "query" signal.
  void UpdateHardwareResources();

 private:
  Slots() = default;
  bool OnBaseCommand(LGCP::Command const& command);
  bool OnSlotCommand(LGCP::Command const& command);
};
