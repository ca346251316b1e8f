#pragma once
// A software T.38 slot: an external T.38 engine relays fax between the slot's transparent
// controller channel (its standard input) and a T.38 peer on the network. The slot watches the
// engine's end and stops it when destroyed. The slot keeps a descriptor of the channel too, so
// that the channel outlives the engine until no route of it stands, and watches it: a channel
// the board takes back is lost at once, and the engine, which sees the channel end too, is
// stopped if it does not stop by itself; its end reports the abort.
#include "foundation/ChildWait.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/TimerEvent.h"
#include "slots/Slot.h"

class T38SoftSlot : public Slot {
 public:
  // channel: the slot's own descriptor of the engine's channel.
  T38SoftSlot(int pid, int timeslot, Fd channel);
  ~T38SoftSlot() override;

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return held(timeslot); }
  int IGetReceiveChannel() override { return held(timeslot); }
  const char* GetName() const override { return "t38 soft"; }
  // "<slot>: ".
  void PutHeader(std::ostream& os) const;

  // The engine ended with the raw wait status: the channel is lost with it.
  void OnT38Terminate(int status);
  // The channel's descriptor reports a hang-up or an error: the board took the channel back.
  void OnChannelEvent(int fd, short revents);
  // An engine still running this long after its channel was taken back is stopped.
  static constexpr unsigned kEngineEndMs = 1000;
  void StopEngine();

  int pid;  // -1 once the engine has ended
  int timeslot;
  Fd channel;
  ChildWait childWait;
  Event watch;
  Timer engineEnd;
};
