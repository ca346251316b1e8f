#include "slots/Slots.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <iterator>
#include <string>

#include "asn1/CoderEnv.h"
#include "foundation/Multiplexer.h"
#include "slots/Connection.h"
#include "slots/Slot.h"
#include "slots/SlotFactory.h"

Slots* Slots::instance() {
  static Slots slots;
  return &slots;
}

// Slots are not destroyed at exit: the process ends with them.
Slots::~Slots() = default;

bool Slots::OnCommand(LGCP::Command const& command) {
  return IsSlotPresent() ? OnSlotCommand(command) : OnBaseCommand(command);
}

bool Slots::OnBaseCommand(LGCP::Command const& command) {
  if (command.getID() != LGCP::Command::e_query) return false;
  CmdQuery();
  return true;
}

bool Slots::OnSlotCommand(LGCP::Command const& command) {
  const int id = command.getID();
  if (id < LGCP::Command::e_connect || id > LGCP::Command::e_ioctl) return false;
  const unsigned number = GetSlot();
  if (!CheckSlot(number)) {
    Error(LGCP::ErrorCause::invalidSlot);
    return true;
  }
  if (id == LGCP::Command::e_create) {
    CmdCreate(number, command.get_create());
    return true;
  }
  Slot* const slot = table[number];
  if (id == LGCP::Command::e_connect) {
    CmdConnect(slot, command.get_connect().getValue());
    return true;
  }
  if (!slot) {
    Error(LGCP::ErrorCause::slotNotExists);
    return true;
  }
  bool done = false;
  switch (id) {
    case LGCP::Command::e_disconnect:
      if (!Disconnect(*slot)) {
        Error(LGCP::ErrorCause::disconnectFail);
        return true;
      }
      done = true;
      break;
    case LGCP::Command::e_destroy:
      CmdDestroy(slot);
      return true;
    case LGCP::Command::e_activate: done = slot->IActivate(command.get_activate()); break;
    case LGCP::Command::e_deactivate: done = slot->IDeactivate(); break;
    case LGCP::Command::e_userData: done = slot->IUserData(command.get_userData()); break;
    case LGCP::Command::e_ioctl: done = slot->Ioctl(command.get_ioctl()); break;
  }
  if (done)
    Success();
  else
    Error(LGCP::ErrorCause::unsupported);
  return true;
}

void Slots::CmdConnect(Slot* slot, unsigned target) {
  if (!CheckSlot(target)) {
    Error(LGCP::ErrorCause::invalidSlot);
    return;
  }
  Slot* const sink = table[target];
  if (!slot || !sink) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  if (Connect(*slot, *sink))
    Success();
  else
    Error(LGCP::ErrorCause::connectFail);
}

void Slots::CmdCreate(unsigned number, LGCP::CreateParams const& params) {
  if (Slot* old = table[number]) {
    if (old->destroying) {
      Error(LGCP::ErrorCause::destroyInProgress);
      return;
    }
    Destroy(old);
    if (table[number]) {
      Error(LGCP::ErrorCause::slotIdBusy);
      return;
    }
  }
  Slot* slot = nullptr;
  for (SlotFactory* f = firstFactory; f && !slot; f = f->next) slot = f->NewSlot(params);
  if (!slot) {
    Error(LGCP::ErrorCause::insufficientResources);
    return;
  }
  slot->number = number;
  live.push_back(slot);
  table[number] = slot;
  Success();
  slot->IAfterCreate();
}

void Slots::CmdDestroy(Slot* slot) {
  if (slot->destroying) {
    Error(LGCP::ErrorCause::destroyInProgress);
    return;
  }
  if (Destroy(slot)) {
    Success();
    return;
  }
  slot->destroySeq = delayResponse();
  slot->destroyDelayed = true;
}

void Slots::CmdQuery() {
  Success();
  UpdateHardwareResources();
}

bool Slots::Destroy(Slot* slot) {
  Disconnect(*slot);
  if (!DisconnectSinks(*slot)) std::cerr << "mux internal error: expected slots not exists." << std::endl;
  if (!slot->sinks.empty()) std::cerr << "mux internal error: unexpected slots exists." << std::endl;
  slot->destroying = true;
  if (!slot->BeforeDestroy()) return false;
  on_release(slot);
  return true;
}

void Slots::on_release(Slot* slot) {
  if (slot->destroyDelayed) delayedSuccess(slot->number, slot->destroySeq);
  int_destroy(slot);
}

void Slots::int_destroy(Slot* slot) {
  // Connect still reaches a slot whose destroy is pending: paths made since Destroy took its
  // links down go now, or a sink would stay switched to the channel of a deleted slot.
  Disconnect(*slot);
  DisconnectSinks(*slot);
  std::erase(live, slot);
  const bool wasPending = std::erase(pending, slot) > 0;
  if (CheckSlot(slot->number) && table[slot->number] == slot) table[slot->number] = nullptr;
  // Whatever path led here, the factory forgets the slot before it is deleted.
  if (slot->factory) slot->factory->Remove(slot);
  delete slot;
  if (wasPending && pending.empty()) PendingDone();
}

// The controller is gone: every slot is destroyed. Slots whose kind puts its destruction off
// get kPendingDestroyMs to finish it and are deleted then, finished or not. Their destroy
// answers, if any were delayed, went with the lost connection. Until the last of them is gone
// the next controller is not taken (the loop serves everything else meanwhile): it finds every
// number, modem, interface and channel free, and nothing of the old calls reaches it.
void Slots::OnDisconnect() {
  while (!live.empty()) {
    Slot* const slot = live.front();
    slot->destroyDelayed = false;
    if (slot->destroying || !Destroy(slot)) {
      std::erase(live, slot);
      pending.push_back(slot);
    }
  }
  if (pending.empty()) return;
  pendingTimer.set(kPendingDestroyMs, &Slots::OnPendingTimer, this);
  HoldController(true);
}

void Slots::OnPendingTimer() {
  while (!pending.empty()) int_destroy(pending.front());
}

void Slots::Shutdown() {
  // The pending timer ends the wait; the deadline only bounds it should the clock not move.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2 * kPendingDestroyMs);
  while (!pending.empty() && std::chrono::steady_clock::now() < deadline) {
    if (!multiplexer.run_once(50)) break;
  }
  OnPendingTimer();
}

void Slots::PendingDone() {
  pendingTimer.reset();
  HoldController(false);
}

bool Slots::SendSlotSignal(Slot const& slot, LGCP::Signal const& signal) {
  if (pending.empty() || std::find(pending.begin(), pending.end(), &slot) == pending.end())
    return SendSignal(slot.number, signal);
  static const ASN1::CoderEnv avn(ASN1::CoderEnv::avn);
  std::string notation, text;
  if (!ASN1::encode(signal, &avn, std::back_inserter(notation))) notation = "?";
  // On one line: the notation writes control characters as numbers, so its line breaks and
  // their indents are the only ones, and they only lay it out.
  for (size_t i = 0; i < notation.size() && text.size() <= kMaxDroppedText; ++i) {
    if (notation[i] != '\n') {
      text += notation[i];
      continue;
    }
    text += ' ';
    while (i + 1 < notation.size() && notation[i + 1] == ' ') ++i;
  }
  if (text.size() > kMaxDroppedText) text.replace(kMaxDroppedText, std::string::npos, "...");
  std::clog << "slot " << slot << ": controller lost, signal not sent: " << text << std::endl;
  return false;
}

void Slots::OnSignal(LGCP::Signal const& signal) {
  if (signal.getID() != LGCP::Signal::e_trunkStatus) return;
  for (SlotFactory* f = firstFactory; f; f = f->next) f->SelfSignal(signal);
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
  r.set_mux(true);
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
