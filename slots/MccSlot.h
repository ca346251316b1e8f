#pragma once
// One raw channel of the HDLC controller device: user data from the controller is written to it
// as frames, and every frame read from it goes to the controller as user data. Its timeslot is
// connected like any other slot's.
#include "asn1/PEREncoder.h"
#include "foundation/Event.h"
#include "slots/Slot.h"

class MccSlot : public Slot {
 public:
  // Frames read per readiness report, so that a channel that never runs dry cannot hold the loop.
  static constexpr int kFramesPerPass = 64;
  // The longest frame one "userData" signal carries (a longer one would need a fragmented
  // length); a longer frame is dropped, said and counted.
  static constexpr size_t kMaxFrame = ASN1::MaximumUnfragmentedLength;

  // Watches its own duplicate of the channel descriptor `channel`.
  MccSlot(int channel, int timeslot);
  ~MccSlot() override;
  // It holds the channel and hears it: false when a duplicate could not be made.
  bool Complete() const { return channel && event.fd() >= 0; }

  // One frame; false when the channel does not take it whole.
  bool IUserData(std::vector<char> const& data) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return held(timeslot); }
  int IGetReceiveChannel() override { return held(timeslot); }
  const char* GetName() const override { return "MCC"; }

  void OnEvent(int fd, short revents);
  void DoRead();

  int timeslot;
  // The channel, for writing; the watch reads its own duplicate and goes when the channel ends.
  Fd channel;
  Event event;
  uint32_t rxTooLong = 0;
};
