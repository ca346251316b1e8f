#pragma once
// One RTP media session of the voice DSP. The RTP device carries the media itself and gives the
// session a TDM channel, through which the slot is switched to other slots; the slot watches
// the device for packet-loss events, drives the tone-control and DSP-processing features of
// its channel, restarts the session when the controller changes the codec, and sends one RTCP
// source description at the start and one goodbye at the end. The radio RTP slots derive
// from it: they extend IAfterCreate, IBeforeDestroy and Ioctl, and switch the receive path
// themselves while radioInput is set.
#include <netinet/in.h>

#include "board/rtp.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/TimerEvent.h"
#include "slots/Slot.h"

namespace RTPC {
class Msg;
}

using board::rtp::rtp_connection_params;

class RtpSlot : public Slot, public Hardware::TonecReceiver, public Hardware::DSProcReceiver {
 public:
  // The slot keeps its own duplicates of the session's device descriptor; Complete() tells
  // whether it got them.
  RtpSlot(int channel, int device, rtp_connection_params const& params);
  ~RtpSlot() override;

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override;
  void IOnOutputRelease() override {}
  void IOnInputRelease() override;
  int IGetTransmitChannel() override { return held(channel); }
  int IGetReceiveChannel() override { return held(channel); }
  const char* GetName() const override { return "rtp"; }
  // The session's tone and DSP features go with the channel.
  void IReleaseChannel() override;

  void tonec_event(Hardware::TonecReceiver::Params const& event) override { processTonecEvent(event); }
  unsigned tonec_timeslot() const override { return static_cast<unsigned>(held(channel)); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { processVADEvent(event); }
  void dsproc_bss_event(Hardware::dsproc_bss_event const* event) override { processBSSEvent(event); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { processSDEvent(event); }
  void dsproc_tone_flt_event(Hardware::dsproc_tone_event const* event) override { processToneFltEvent(event); }
  void dsproc_flags_event(Hardware::dsproc_flags_event const* event) override { processFlagsEvent(event); }
  unsigned dsproc_timeslot() const override { return static_cast<unsigned>(held(channel)); }

  // The slot holds its own descriptor of the session and hears the device's events: without
  // them the session ends with the factory's descriptor, or runs unheard.
  bool Complete() const { return device && rtpEvent.fd() >= 0; }
  // Takes the RTCP socket and announces the session to peer (source description).
  void startRTPC(Fd socket, sockaddr_in const& peer);
  // Sends one RTCP packet to the peer without waiting.
  void send(RTPC::Msg const& msg);
  // The device has event records.
  void OnRtpEvent(int fd, short events);
  bool enablePD(LGCP::PDParams const& params);
  bool disablePD();
  // A new session on a new descriptor with `params` and the same channel; false leaves the slot
  // without a device descriptor.
  bool restart();
  // The payload type a codec mode asks for.
  int translate_payload(LGCP::CodecMode const& mode) const;
  // A source identifier for a new session that no live session uses (they must differ on
  // the wire), drawn anew on every call so that a restarted daemon picks others.
  static uint32_t NewSsrc();

  // The session's TDM channel: the slot's transmit and receive channel and the timeslot of its
  // tone and DSP features while the slot holds it (a failed restart loses it).
  int channel;
  Fd device;
  Event rtpEvent;
  rtp_connection_params params;
  sockaddr_in peer{};  // RTCP destination
  Fd rtcp;
  // The payload type "lbrc" asks for: the session codec's own, which the factory sets
  // (RtpFactory::CodecPayload); until then the receive side's.
  int codecPayload;
  // The device's receive path runs.
  bool inputStarted = false;
  // The flags the session's channel was added with (best-signal selection of a radio create);
  // a codec restart adds the new session's channel with them.
  uint32_t channelFlags = 0;
  // The packet-loss detection the controller set, with its time-out; a codec restart puts it
  // back on the new session, and while the device refuses that, the retry timer is set.
  bool pdEnabled = false;
  uint32_t pdTimeout = 0;
  Timer pdRetry;
  // A refused re-arm is tried again after this, then at twice the last interval up to
  // kPdRetryMaxMs: soon when the device was only busy, without flooding it when it stays so.
  static constexpr unsigned kPdRetryMs = 10;
  static constexpr unsigned kPdRetryMaxMs = 1000;
  unsigned pdRetryMs = kPdRetryMs;
  // The receive path follows a radio controller, not the input stream.
  bool radioInput = false;

 private:
  // "rtp[<channel>]: ", the start of the slot's device lines.
  std::ostream& put(std::ostream& os) const;
  bool changeCodec(LGCP::CodecMode const& mode, bool transmit);
  // Asks the device for the detection; a refusal is logged unless `quiet`.
  bool armPD(uint32_t timeout, bool quiet = false);
  void OnPdRetry();
  // A request on the session that takes no argument.
  bool request(uint32_t number);
};
