#include "slots/Slots.h"

#include "slots/SlotFactory.h"

Slots* Slots::instance() {
  static Slots slots;
  return &slots;
}

bool Slots::OnCommand(LGCP::Command const& command) {
  return IsSlotPresent() ? OnSlotCommand(command) : OnBaseCommand(command);
}

bool Slots::OnBaseCommand(LGCP::Command const& command) {
  if (command.getID() != LGCP::Command::e_query) return false;
  Success();
  UpdateHardwareResources();
  return true;
}

bool Slots::OnSlotCommand(LGCP::Command const& command) {
  switch (command.getID()) {
    case LGCP::Command::e_connect:
      if (command.get_connect().getValue() >= kSlots) {
        Error(LGCP::ErrorCause::invalidSlot);
        return true;
      }
      Error(LGCP::ErrorCause::slotNotExists);
      return true;
    case LGCP::Command::e_create:
      // No factory of this build makes a slot of any kind.
      Error(LGCP::ErrorCause::insufficientResources);
      return true;
    case LGCP::Command::e_disconnect:
    case LGCP::Command::e_destroy:
    case LGCP::Command::e_activate:
    case LGCP::Command::e_deactivate:
    case LGCP::Command::e_userData:
    case LGCP::Command::e_ioctl:
      Error(LGCP::ErrorCause::slotNotExists);
      return true;
    default:
      return false;
  }
}

void Slots::UpdateHardwareResources() {
  LGCP::Signal signal;
  LGCP::Resources& r = signal.select_query();
  r.set_boardMajor(0);
  r.set_boardMinor(0);
  r.set_rtp_g729(0);
  r.set_rtp_g723(0);
  r.set_rtp_g711(0);
  r.set_rtp_g711mcc(0);
  r.set_modem(0);
  r.set_mux(false);
  r.set_mcc_data(0);
  r.set_mcc_bri(0);
  r.set_mcc_trans(0);
  r.set_t38_instances(0);
  r.set_digital_modems(0);
  r.set_lin16(0);
  r.set_universal(0);
  for (SlotFactory* f = firstFactory; f; f = f->next) f->Query(r);
  SendSignal(signal);
}
