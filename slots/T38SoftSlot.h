#pragma once
// A software T.38 slot: an external T.38 engine relays fax between the slot's transparent
// controller channel (its standard input) and a T.38 peer on the network. The slot watches the
// engine's end and stops it when destroyed.
#include "foundation/ChildWait.h"
#include "slots/Slot.h"

class T38SoftSlot : public Slot {
 public:
  T38SoftSlot(int pid, int timeslot);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return timeslot; }
  int IGetReceiveChannel() override { return timeslot; }
  const char* GetName() const override { return "t38 soft"; }
  // "<slot>: ".
  void PutHeader(std::ostream& os) const;

  // The engine ended with the raw wait status.
  void OnT38Terminate(int status);

  int pid;  // -1 once the engine has ended
  int timeslot;
  ChildWait childWait;
};
