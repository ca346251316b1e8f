#pragma once
// D-channel slots for a controller that keeps layer 3 itself: the slot runs Q.921 LAPD over
// one HDLC channel of a board driver and passes layer-3 messages as "userData" both ways.
// IsdnSlot uses a channel of the HDLC controller on an E1 or BRI trunk, AtsQsigSlot one of the
// DSP data device; AtsQsigBSlot is a B channel that an ATS-QSIG slot opens beside its own.
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "control/Protocol_name.h"
#include "control/ProtocolsFamily.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/TimerEvent.h"
#include "hardware/HDLC.h"
#include "links/LAPD.h"
#include "slots/Slot.h"

class IsdnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public GenericHDLC {
 public:
  // Takes the channel's descriptor and the link (owned from here on, as a layer of the slot).
  IsdnSlot(Fd fd, ISDN::LAPD* lapd);
  ~IsdnSlot() override;
  // It has its channel and hears it: false when the watch could not take its duplicate, which
  // is the slot's only hold of the channel.
  bool Complete() const { return channel >= 0 && is_open(); }

  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IDeactivate() override;
  bool IUserData(std::vector<char> const& data) override;
  bool Ioctl(LGCP::IoctlParams const&) override { return false; }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return held(channel); }
  int IGetReceiveChannel() override { return held(channel); }
  const char* GetName() const override { return "MCC"; }

  // GenericHDLC: the link's frames go straight to the descriptor.
  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return event.fd() >= 0; }
  bool is_ready() const override { return ready; }

  // ProtocolsFamily: what the link reports upwards.
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status status) override;
  void on_message(Packet& p) override;
  void transmit(Packet&) override {}
  void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}
  Protocol_name const& name() const override { return familyName; }

  void UpdateISDN_Statistics();
  // "isdn-slot[<channel>]: "
  void PutHeader(std::ostream& os) const;
  void OnEvent(int fd, short revents);

  int channel = -1;
  Event event;
  ISDN::LAPD* lapd = nullptr;
  bool ready = false;
  Protocol_name_str familyName{"ISDN/HDLC"};

 protected:
  // For kinds that find their channel another way: only the link is set up.
  explicit IsdnSlot(ISDN::LAPD* lapd);
  // Watches the descriptor for frames and for room to send.
  void watch(Fd const& fd, const char* name);
  // A new channel of the slot's kind for a slot that lost its own: its descriptor and number,
  // or no descriptor (reason logged).
  virtual Fd OpenChannel(int& next);
  // Watches a new channel's descriptor.
  virtual void Rewatch(Fd const& fd);
  // Closes the descriptor and hands a duplicate of it, with the channel, to the route book,
  // which keeps the channel from a later owner until no route into or out of it stands.
  void close_holding_routes();
  // Channels that the board closes with the slot's descriptor, beside its own: the book keeps
  // the descriptor until none of their routes stands either.
  virtual std::vector<int> ChannelsWithDescriptor() const;

 private:
  // Stops reading a descriptor that reports its end, so that the loop is not woken for it
  // again and again; the link notices on its own timers. Closing the descriptor frees the
  // channel on the board: the slot loses it first.
  void lost_channel(const char* why);
  // Releases the channel's switch routes, once: after a lost channel its number may already
  // serve another owner when this slot goes. held, a descriptor that still holds the channel
  // (closed here or by the route book), keeps it while a route the switch refused stands.
  void release_routes(int held = -1);
  // True when the slot holds a channel, after taking a new one if it had lost its own.
  bool HoldChannel();

  bool routes_released = false;
  // The streams that were active when the channel was lost, signalled inactive then.
  bool inputLost = false;
  bool outputLost = false;
};

class AtsQsigSlot : public IsdnSlot {
 public:
  // channel: the signalling channel that the descriptor got (DSPDATA_TIMESLOT).
  AtsQsigSlot(Fd fd, int channel, ISDN::LAPD* lapd);
  ~AtsQsigSlot() override;

  bool IBeforeDestroy() override;
  const char* GetName() const override { return "ATS-QSIG"; }
  // The B channels go with the signalling channel's descriptor.
  void IReleaseChannel() override { OrphanBChannels(); }
  void OnAtsEvent(int fd, short revents) { OnEvent(fd, revents); }

 protected:
  Fd OpenChannel(int& next) override;
  void Rewatch(Fd const& fd) override;
  // The B channels still open: closes owed, and those of its B slots.
  std::vector<int> ChannelsWithDescriptor() const override;

 public:
  // Opens B channel b (0 to 2) beside this signalling channel: a new slot, or null.
  Slot* NewBChannel(unsigned b);
  // Closes B channel b (its TDM channel `channel`). A close the device refuses is logged and
  // kept: it is made again before the next B channel opens, and on a timer until it holds.
  void CloseBChannel(uint32_t b, int channel);

  // A refused close is tried again after this, then at twice the last interval up to
  // kCloseRetryMaxMs: soon when the device was only busy, without flooding it when it stays so.
  static constexpr unsigned kCloseRetryMs = 10;
  static constexpr unsigned kCloseRetryMaxMs = 1000;

 private:
  // A B channel whose close the device refused.
  struct Unclosed {
    uint32_t b;
    int channel;
  };
  // Keeps the close of B channel b (TDM channel `channel`) owed, and starts the retry timer
  // unless it runs.
  void OweClose(uint32_t b, int channel);
  // Tries every refused close once more; true when none is left.
  bool RetryCloses();
  void OnCloseRetry();

  // The board closes the B channels with this slot's descriptor: the B slots that this slot
  // opened lose them first, while the numbers are still theirs.
  void OrphanBChannels();

  std::vector<Unclosed> unclosed;
  Timer closeRetry;
  unsigned closeRetryMs = kCloseRetryMs;
};

class AtsQsigBSlot : public Slot {
 public:
  AtsQsigBSlot(unsigned signalling, uint32_t b, int channel) : signalling(signalling), b(b), channel(channel) {}

  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return held(channel); }
  int IGetReceiveChannel() override { return held(channel); }
  const char* GetName() const override { return "ATS-QSIG-B"; }
  // "ats-qsig-b: "
  void PutHeader(std::ostream& os) const;

  unsigned signalling;  // number of the ATS-QSIG slot that opened it
  uint32_t b;
  int channel;
};
