#pragma once
// Maker of RTP media slots (creates without a radio part), and the reporter of the voice DSP's
// codec capacities. Its static helpers are shared with the radio RTP factories.
#include <netinet/in.h>

#include <iosfwd>

#include "board/rtp.h"
#include "slots/SlotFactory.h"

namespace LGCP {
class CreateRtpParams;
}
namespace TERM {
class Payload;
}

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
  // when an address does not parse, so that nothing is sent to a made-up address.
  static bool MakeParams(LGCP::CreateRtpParams const& create, board::rtp::rtp_connection_params& params,
                         sockaddr_in& peer, std::ostream& log);

  // Codec capacities: channels of G.729, G.723, G.711, G.711 MCC and universal channels.
  int g729 = 0;
  int g723 = 0;
  int g711 = 0;
  int g711mcc = 0;
  int universal = 0;
};
