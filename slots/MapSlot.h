#pragma once
// A map slot names one or two channels of the board's shared TDM buses (switch outputs): a
// receive channel that other slots can feed and a transmit channel that can feed them.
#include "slots/Slot.h"

class MapSlot : public Slot {
 public:
  MapSlot(int txChannel, int rxChannel) : txChannel(txChannel), rxChannel(rxChannel) {}
  ~MapSlot() override;

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return IsTxExists(); }
  bool IOnInputStream() override { return IsRxExists(); }
  int IGetTransmitChannel() override { return txChannel; }
  int IGetReceiveChannel() override { return rxChannel; }
  const char* GetName() const override { return "map"; }

  bool IsTxExists() const { return txChannel >= 0; }
  bool IsRxExists() const { return rxChannel >= 0; }
  // The channel's index among the bus outputs.
  int GetTxLogChannel() const;
  int GetRxLogChannel() const;

  int txChannel;  // -1: none
  int rxChannel;  // -1: none
};
