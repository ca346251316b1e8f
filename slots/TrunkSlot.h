#pragma once
// Fixed TDM channels of the board's trunks: a trunk slot is one timeslot of an E1 trunk, a BRI
// trunk slot one channel of a BRI line. Both stream from their creation on and connect
// through the TDM switch.
#include "slots/Slot.h"

class TrunkSlot : public Slot {
 public:
  explicit TrunkSlot(int channel) : channel(channel) {}
  ~TrunkSlot() override;

  int GetTrunk() override { return channel >> 5; }
  int GetTrunkTimeSlot() override { return GetTimeSlot(); }
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  const char* GetName() const override { return "trunk"; }
  virtual int GetTimeSlot() { return channel & 31; }

  // The TDM channel: the factory's base plus the timeslot.
  int channel;
};

class TrunkBRISlot : public virtual TrunkSlot {
 public:
  explicit TrunkBRISlot(int channel) : TrunkSlot(channel) {}

  int GetTrunk() override { return channel >> 2; }
  const char* GetName() const override { return "trunkBRI"; }
  int GetTimeSlot() override { return channel & 3; }
};
