#pragma once
// An echo slot names one channel of an echo canceller bus; it only switches that channel.
#include "slots/Slot.h"

class EchoSlot : public Slot {
 public:
  explicit EchoSlot(unsigned channel) : channel(channel) {}

  void IAfterCreate() override {
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
  }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return static_cast<int>(channel); }
  int IGetReceiveChannel() override { return static_cast<int>(channel); }
  const char* GetName() const override { return "echo"; }

  unsigned channel;  // bus * 32 + channel on the bus
};
