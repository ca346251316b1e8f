#include "radio/RtpRadioFactory.h"

#include <iostream>
#include <sstream>

#include "asn1/schemas/LGCP.h"
#include "radio/RtpExtSlot.h"
#include "slots/RtpFactory.h"

RtpRadioFactory::RtpRadioFactory(const char* kind) : kind_(kind) { IQuery(); }

std::ostream& RtpRadioFactory::PutHeader(std::ostream& os) const {
  return os << kind_ << "[" << g723 << "," << g729 << "," << g711 << "," << universal << "]: ";
}

void RtpRadioFactory::IQuery() {
  g729 = g723 = g711 = g711mcc = universal = 0;
  RtpFactory::QueryCodecs(g729, g723, g711, g711mcc, universal);
}

void RtpRadioFactory::Query(LGCP::Resources& r) {
  IQuery();
  r.set_rtp_g729(static_cast<int>(g729));
  r.set_rtp_g723(static_cast<int>(g723));
  r.set_rtp_g711(static_cast<int>(g711));
  r.set_rtp_g711mcc(static_cast<int>(g711mcc));
  r.set_universal(static_cast<int>(universal));
}

Slot* RtpRadioFactory::INewSlot(LGCP::CreateParams const& create) {
  if (create.getID() != LGCP::CreateParams::e_rtp) return nullptr;
  const LGCP::CreateRtpParams& params = create.get_rtp();
  const TERM::RtpParams& rtp = params.get_codecRTP();
  if (!rtp.has_radio() || !Takes(rtp.get_radio().get_status())) return nullptr;
  const TERM::RtpRadioRequest& radio = rtp.get_radio();
  PutHeader(std::clog) << "do create " << kind_ << ": " << rtp << std::endl;
  std::ostringstream header;
  PutHeader(header);
  // Unlike the plain RTP factory's, the RTCP socket takes no SO_REUSEADDR.
  RtpFactory::Session session;
  const uint32_t flags = radio.has_bss_enable() && radio.get_bss_enable() ? 1 : 0;
  if (!RtpFactory::BeginSession(params, false, flags, header.str(), session)) return nullptr;
  RtpExtSlot* slot = MakeSlot(session.channel, session.device.get(), session.block, rtp);
  if (!slot) return nullptr;
  if (!RtpFactory::SlotHolds(*slot, header.str())) {
    delete slot;
    return nullptr;
  }
  slot->channelFlags = flags;
  slot->codecPayload = session.codecPayload;
  slot->radioStatus = radio.get_status();
  slot->startRTPC(std::move(session.rtcp), session.peer);
  if (rtp.has_echo() && rtp.get_echo().get_suppressor()) slot->echoCancel(rtp.get_echo().get_canceller());
  if (radio.has_rx_delay() || radio.has_tx_delay() || radio.has_selcal_delay()) {
    auto delay = [](bool has, ASN1::INTEGER const& v) { return has ? static_cast<unsigned>(v.getValue()) : 0u; };
    slot->configureDelays(delay(radio.has_rx_delay(), radio.get_rx_delay()),
                          delay(radio.has_tx_delay(), radio.get_tx_delay()),
                          delay(radio.has_selcal_delay(), radio.get_selcal_delay()));
  }
  if (radio.has_bss_enable()) slot->enableBSS(radio.get_bss_enable());
  if (radio.has_ng_enable()) slot->enableNG(radio.get_ng_enable());
  return slot;
}
