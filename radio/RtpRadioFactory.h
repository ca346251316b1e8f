#pragma once
// What the two radio RTP factories share: an RTP create that carries a radio part of their
// dialect becomes an RTP session on the voice DSP with an RTCP socket, then a radio slot whose
// controller the dialect makes; and the codec capacities of the voice DSP for the resources.
#include <cstdint>
#include <iosfwd>

#include "board/rtp.h"
#include "slots/SlotFactory.h"

namespace TERM {
class RadioStatus;
class RtpParams;
}  // namespace TERM
class RtpExtSlot;

class RtpRadioFactory : public SlotFactory {
 public:
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // Reads the codec capacities from the voice device.
  void IQuery();
  // "<kind>[<g723>,<g729>,<g711>,<universal>]: ", the start of the factory's lines.
  std::ostream& PutHeader(std::ostream& os) const;

  // Codec capacities: channels of G.729, G.723, G.711, G.711 MCC and universal channels.
  uint32_t g729 = 0;
  uint32_t g723 = 0;
  uint32_t g711 = 0;
  uint32_t g711mcc = 0;
  uint32_t universal = 0;

 protected:
  // `kind` names the slots in the factory's lines ("rtp ext LEMZ").
  explicit RtpRadioFactory(const char* kind);
  // The radio status of a create this factory's dialect takes.
  virtual bool Takes(TERM::RadioStatus const& status) const = 0;
  // The dialect's slot on the begun session (the device descriptor stays the caller's).
  virtual RtpExtSlot* MakeSlot(int channel, int device, board::rtp::rtp_connection_params const& params,
                               TERM::RtpParams const& rtp) = 0;

 private:
  const char* kind_;
};
