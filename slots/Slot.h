#pragma once
// One media or signalling endpoint of the gateway, named by the controller with a slot number.
// Each slot kind derives from Slot and overrides the hooks it needs; the Slots service owns
// every slot, and the connection model (slots/Connection.h) links the output of one slot to
// the inputs of others.
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "asn1/schemas/LGCP.h"
#include "hardware/DSProcReceiver.h"
#include "hardware/TonecReceiver.h"

namespace board::rtp {
struct rtp_event;
}
using rtp_event = board::rtp::rtp_event;

class Fd;
class SlotFactory;

class Slot {
 public:
  // The number of a slot that the Slots service has not numbered yet.
  static constexpr uint32_t kNoNumber = 0xFFFFFFFF;

  Slot();
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  // Hooks, in the order every kind sees them; the base behaviour is that of a slot that has
  // no trunk, no streams and supports no command.
  virtual ~Slot();
  virtual int GetTrunk();
  virtual int GetTrunkTimeSlot();
  virtual void OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber const& state);
  // Once, after the create command was answered with success.
  virtual void IAfterCreate();
  // True: destruction may finish at once. False: the kind finishes later and then calls
  // on_release().
  virtual bool IBeforeDestroy();
  virtual bool IActivate(TERM::TermActivateParams const& params);
  virtual bool IDeactivate();
  virtual bool IUserData(std::vector<char> const& data);
  virtual bool Ioctl(LGCP::IoctlParams const& params);
  // The side with the higher priority makes the hardware connection.
  virtual int GetConnectionPriority();
  virtual bool IHwConnectTransmitter(Slot& sink);
  virtual bool IHwConnectReceiver(Slot& source);
  virtual bool IHwDisconnectTransmitter(Slot& sink);
  virtual bool IHwDisconnectReceiver(Slot& source);
  // For a kind that makes its paths itself: its path to sink (from source) is there, as the
  // newest route the switch carries. True by default.
  virtual bool IHwTransmitterStands(Slot& sink);
  virtual bool IHwReceiverStands(Slot& source);
  // For a kind that makes its paths itself: whether it would take source, asked before a connect
  // touches any path, so that a connect it refuses changes nothing. True by default.
  virtual bool IHwAcceptsSource(Slot& source);
  // Asked for the output (input) stream when the first sink (the source) is connected.
  virtual bool IOnOutputStream();
  virtual bool IOnInputStream();
  virtual void IOnOutputRelease();
  virtual void IOnInputRelease();
  // A connect from (to) this slot made its path: a release of the stream from now on is a
  // disconnect's, not the failure of the connect that asked for it.
  virtual void IOnOutputMade();
  virtual void IOnInputMade();
  // The slot's TDM channels; -1 when it has none.
  virtual int IGetTransmitChannel();
  virtual int IGetReceiveChannel();
  // The kind's short name ("trunk", "rtp", ...).
  virtual const char* GetName() const = 0;
  // Called once by LoseChannel, after the paths into and out of the channel are down and while
  // the number is still the slot's own: the kind undoes what else it set on it (tone and DSP
  // features, slots that hold channels through this one).
  virtual void IReleaseChannel();

  // "07:rtp": the number in at least two digits, "na" unnumbered, "i<n>" above 1023.
  void Put(std::ostream& os) const;

  // Sends a signal for this slot's number to the controller (other services see it first);
  // false when it did not go out.
  bool SendSignal(LGCP::Signal const& signal);

  // Signal senders: each sends one signal holding a copy of its argument.
  void OnTonecEvent(LGCP::TonecEvent const& event);
  void OnNumber(std::string const& number);
  void OnModem(TERM::ModemProceeding const& value);
  void OnModem(TERM::ModemInformation const& value);
  void OnActivated();
  // Always with the cause "networkError".
  void OnDeactivated();
  void OnAbort(int cause);
  void OnUserData(std::vector<char> const& data);
  // Reports the input (output) stream active with its channel or inactive; going inactive
  // first takes the slot off its source (its sinks off it). Nothing when unchanged.
  void OnChangeInputStream(bool active);
  void OnChangeOutputStream(bool active);
  void OnIoctlResponse(LGCP::IoctlResponse const& response);
  bool OnRtpRadioEvent(TERM::RtpRadioRequest const& request);
  void OnVADEvent(LGCP::VADEvent const& event);
  void OnProtoLemzEvent(LEMZGW::ProtoLemzPackets const& packets);
  void OnSDEvent(LGCP::SDEvent const& event);
  void OnRtpEvent(LGCP::RtpEvent const& event);

  // A kind calls this at the moment it loses or gives up its channel (a failed restart, a
  // hang-up, the end of the slot or program that owned it): the board may hand the number to
  // the next slot that asks. While it is still the slot's own, the slot leaves its source and
  // its sinks (every path into and out of it is taken down, as by disconnects) and
  // IReleaseChannel undoes the rest; from then on the slot holds no channel: its channels read
  // -1, connects to and from it fail, and nothing it does touches the number again. The slot
  // stays until the controller destroys it. Once; later calls do nothing.
  void LoseChannel();

  // A kind calls this when a destruction that it had put off is complete; the slot is
  // deleted inside, so the caller must not touch it afterwards.
  void on_release();
  // IBeforeDestroy, and on true the slot leaves its factory's list.
  bool BeforeDestroy();
  // The bookkeeping halves of a connection (no hardware, no signal).
  void LogicalConnect(Slot& src);
  void LogicalDisconnect();

  // Event converters: driver records to controller signals.
  void processTonecEvent(Hardware::TonecReceiver::Params const& params);
  void processToneGenEvent();
  void processVADEvent(Hardware::DSProcVADEvent const& event);
  void processToneFltEvent(Hardware::dsproc_tone_event const* event);
  void processFlagsEvent(Hardware::dsproc_flags_event const* event);
  void processBSSEvent(Hardware::dsproc_bss_event const* event);
  void processSDEvent(Hardware::DSProcSDEvent const& event);
  void processRtpEvent(rtp_event const& event);

  uint32_t number = kNoNumber;
  // The slots this one feeds, each once (not owned).
  std::vector<Slot*> sinks;
  Slot* source = nullptr;
  SlotFactory* factory = nullptr;
  bool inputActive = false;
  bool outputActive = false;
  bool destroying = false;
  // Sequence number of a destroy command whose answer was delayed (none when the command
  // carried none), valid while destroyDelayed is set.
  std::optional<int32_t> destroySeq;
  bool destroyDelayed = false;
  // The slot lost or gave up its channel (LoseChannel).
  bool channelLost = false;
  // LoseChannel is taking the slot's paths down: only the routes it made itself are touched.
  bool losingChannel = false;

 protected:
  // What a kind answers for a channel or timeslot it was given: the number while it holds it,
  // -1 once it is lost.
  int held(int channel) const { return channelLost ? -1 : channel; }
  // The slot gives up `channel`, which `holder` (a descriptor of the device that allocated it)
  // keeps allocated: the route book takes the descriptor and closes it once no route into or
  // out of the channel stands, so that the board gives the channel to no later slot while a
  // route of this one may still feed it or be fed by it. holder is closed (empty) afterwards.
  static void HandOverChannel(int channel, Fd& holder);
};

std::ostream& operator<<(std::ostream& os, Slot const& slot);
