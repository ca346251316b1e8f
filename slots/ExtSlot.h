#pragma once
// An ext slot names a pair of TDM channels given by the controller: the one it transmits on and
// the one it receives on. It only switches them; an input is taken only while it is activated.
#include "slots/Slot.h"

class ExtSlot : public Slot {
 public:
  ExtSlot(int transmitter, int receiver) : transmitter(transmitter), receiver(receiver) {}

  void IAfterCreate() override { OnChangeOutputStream(true); }
  bool IBeforeDestroy() override;
  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IDeactivate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return inputActive; }
  int IGetTransmitChannel() override { return transmitter; }
  int IGetReceiveChannel() override { return receiver; }
  const char* GetName() const override { return "bri"; }

  int transmitter;
  int receiver;
};
