#pragma once
// The slot table service (bound second, after the heartbeat): owns every slot from its
// creation to its deletion, takes the slot commands and the resource query, passes the trunk
// status on to the factories, and destroys every slot when the controller is lost. The slots
// of a lost controller that finish their destruction later are its alone: until they are
// gone no next controller is taken, and what they still signal reaches no one.
#include <array>
#include <cstdint>
#include <vector>

#include "control/CtrlSrvService.h"
#include "foundation/TimerEvent.h"

class Slot;

class Slots : public CtrlSrv::Service {
 public:
  static constexpr unsigned kSlots = 1024;
  // How long the slots whose destruction was put off may finish it after a controller loss.
  static constexpr unsigned kPendingDestroyMs = 1000;
  // The longest value notation of a signal that a lost controller's slot writes to the log.
  static constexpr size_t kMaxDroppedText = 1024;

  static Slots* instance();
  static bool CheckSlot(unsigned number) { return number < kSlots; }

  ~Slots() override;

  void OnConnect() override {}
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& command) override;
  void OnSignal(LGCP::Signal const& signal) override;

  // A signal of that slot to the controller; one of a lost controller's slots is logged
  // instead (accounting of a call that now belongs to no one stays on record).
  bool SendSlotSignal(Slot const& slot, LGCP::Signal const& signal);

  // At the daemon's stop, after the controller's departure (OnDisconnect): the slots whose
  // destruction was put off get the time a controller loss gives them, served by loop passes,
  // and are deleted then; their programs end with them.
  void Shutdown();

  // Collects every factory's part of the resources and sends it as the "query" signal.
  void UpdateHardwareResources();

  // Disconnects the slot and starts its destruction: true when it is gone, false when its
  // kind finishes later (through Slot::on_release).
  bool Destroy(Slot* slot);
  // A put-off destruction is complete: answers a delayed destroy and deletes the slot.
  void on_release(Slot* slot);
  // Takes the slot out of every list and deletes it.
  void int_destroy(Slot* slot);

  // The slot under a number, or null (also for a number out of range).
  Slot* Find(unsigned number) const { return CheckSlot(number) ? table[number] : nullptr; }
  // Existing slots in creation order; slots left pending by a controller loss.
  const std::vector<Slot*>& Live() const { return live; }
  const std::vector<Slot*>& Pending() const { return pending; }

 private:
  Slots() = default;
  bool OnBaseCommand(LGCP::Command const& command);
  bool OnSlotCommand(LGCP::Command const& command);
  void CmdCreate(unsigned number, LGCP::CreateParams const& params);
  void CmdDestroy(Slot* slot);
  void CmdConnect(Slot* slot, unsigned target);
  void CmdQuery();
  // Deletes the slots left pending by a controller loss.
  void OnPendingTimer();
  // The last pending slot is gone: the next controller may come.
  void PendingDone();

  std::array<Slot*, kSlots> table{};
  std::vector<Slot*> live;
  std::vector<Slot*> pending;
  Timer pendingTimer;
};
