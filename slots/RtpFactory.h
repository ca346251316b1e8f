#pragma once
// Maker of RTP media slots (creates without a radio part), and the reporter of the voice DSP's
// codec capacities. Its static helpers are shared with the radio RTP factories.
#include <netinet/in.h>

#include <iosfwd>
#include <string>

#include "board/rtp.h"
#include "foundation/Fd.h"
#include "slots/SlotFactory.h"

namespace LGCP {
class CreateRtpParams;
}
namespace TERM {
class Payload;
}

class RtpSlot;

class RtpFactory : public SlotFactory {
 public:
  RtpFactory();

  const char* GetName() const override { return "RTP"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // Reads the codec capacities from the voice device.
  void IQuery();
  // "rtp[<g723>,<g729>,<g711>,<universal>]: ", the start of the factory's lines.
  std::ostream& PutHeader(std::ostream& os) const;

  // The RTP payload type of a codec.
  static int translateCodec(TERM::Payload const& codec);
  // The payload type of `codec`, or of `other` when that is a different G.711 law.
  static int translateCodec(TERM::Payload const& codec, TERM::Payload const& other);
  // Whether the session payload is one the DSP runs.
  static bool KnownPayload(TERM::Payload const& payload);
  // The begin-session block and the RTCP peer of a create; false (with the reason on `log`)
  // when an address does not parse or a value does not fit its field, so that nothing is sent
  // to a made-up address and the board gets no value other than the one asked for.
  static bool MakeParams(LGCP::CreateRtpParams const& create, board::rtp::rtp_connection_params& params,
                         sockaddr_in& peer, std::ostream& log);

  // The payload type "lbrc" asks for on a session of this create: the session codec's own,
  // whatever law the receive side started in. A G.711 session has no low bit-rate codec: there
  // it is the receive side's payload type.
  static int CodecPayload(LGCP::CreateRtpParams const& create);

  // A session begun on the RTP device: the block it was given, the RTCP peer and socket (none
  // when a port of RTCP would lie past 65535), the device descriptor, the channel the device
  // added and the payload type of "lbrc".
  struct Session {
    board::rtp::rtp_connection_params block;
    sockaddr_in peer;
    Fd rtcp;
    Fd device;
    int channel = -1;
    int codecPayload = 0;
  };
  // The set-up every RTP create shares: the payload check, the session block, the RTCP socket
  // bound to any address and the RTP port + 1 (with SO_REUSEADDR when `reuse_address`; none,
  // logged, when the local or the remote RTP port is 65535), the
  // RTP device opened non-blocking, the session begun and its channel added with `flags`.
  // False when a step fails: refusals on std::clog after `header`, device failures on std::cerr.
  static bool BeginSession(LGCP::CreateRtpParams const& create, bool reuse_address, uint32_t flags,
                           std::string const& header, Session& session);
  // Whether a slot made on a begun session holds it (RtpSlot::Complete); when not, a line on
  // std::cerr after `header` says so and the caller deletes the slot, which ends the session.
  static bool SlotHolds(RtpSlot const& slot, std::string const& header);
  // Asks the voice device for its channels of each codec (G.729, G.723, G.711, G.711 MCC and
  // universal) and stores a positive answer in the matching count; the others stay as they are.
  template <class Count>
  static void QueryCodecs(Count& g729, Count& g723, Count& g711, Count& g711mcc, Count& universal) {
    int channels[5];
    if (!CodecChannels(channels)) return;
    Count* counts[] = {&g729, &g723, &g711, &g711mcc, &universal};
    for (int i = 0; i < 5; ++i)
      if (channels[i] > 0) *counts[i] = static_cast<Count>(channels[i]);
  }
  // The voice device's answers for the codecs in QueryCodecs' order; false (reason on
  // std::cerr) when the device does not open.
  static bool CodecChannels(int (&channels)[5]);

  // Codec capacities: channels of G.729, G.723, G.711, G.711 MCC and universal channels.
  int g729 = 0;
  int g723 = 0;
  int g711 = 0;
  int g711mcc = 0;
  int universal = 0;
};
