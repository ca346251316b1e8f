#include "radio/RtpRadioFactory.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <sstream>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "board/voice.h"
#include "foundation/Fd.h"
#include "hardware/DevNames.h"
#include "radio/RtpExtSlot.h"
#include "slots/RtpFactory.h"

RtpRadioFactory::RtpRadioFactory(const char* kind) : kind_(kind) { IQuery(); }

std::ostream& RtpRadioFactory::PutHeader(std::ostream& os) const {
  return os << kind_ << "[" << g723 << "," << g729 << "," << g711 << "," << universal << "]: ";
}

void RtpRadioFactory::IQuery() {
  g729 = g723 = g711 = g711mcc = universal = 0;
  Fd voice(board::open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC));
  if (!voice) {
    std::cerr << "device \"" << GetVoiceDevName() << "\" open fail: " << std::strerror(errno) << std::endl;
    return;
  }
  const struct {
    int32_t id;
    uint32_t* count;
  } codecs[] = {{board::voice::kCodecG729, &g729},
                {board::voice::kCodecG723, &g723},
                {board::voice::kCodecG711, &g711},
                {board::voice::kCodecG711Mcc, &g711mcc},
                {board::voice::kCodecUniversal, &universal}};
  for (const auto& c : codecs) {
    board::voice::CodecQuery q;
    q.codec = c.id;
    const int n = board::ioctl(voice.get(), board::voice::VOICE_CODEC_CHANNELS, &q);
    if (n > 0) *c.count = static_cast<uint32_t>(n);
  }
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
  if (!RtpFactory::KnownPayload(rtp.get_payload())) {
    PutHeader(std::clog) << "rtp do not created: payload " << rtp.get_payload() << "not found" << std::endl;
    return nullptr;
  }
  board::rtp::rtp_connection_params block;
  sockaddr_in peer;
  std::ostringstream refused;
  if (!RtpFactory::MakeParams(params, block, peer, refused)) {
    PutHeader(std::clog) << refused.str();
    return nullptr;
  }

  // Unlike the plain RTP factory's, this socket takes no SO_REUSEADDR.
  Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!socket) {
    PutHeader(std::clog) << "rtp do not created: can not create socket [errno=" << std::strerror(errno) << "]"
                         << std::endl;
    return nullptr;
  }
  const auto port = static_cast<uint16_t>(
      (rtp.has_shost() ? rtp.get_shost().get_port().getValue() : rtp.get_dhost().get_port().getValue()) + 1);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    PutHeader(std::clog) << "rtp do not created: can not bind socket [errno=" << std::strerror(errno)
                         << ", port=" << port << "]" << std::endl;
    return nullptr;
  }
  // Non-blocking: the slot reads its events until the device has no more.
  Fd device(board::open(GetRtpDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!device) {
    std::cerr << "device \"" << GetRtpDevName() << "\" open fail: " << std::strerror(errno) << std::endl;
    return nullptr;
  }
  if (board::ioctl(device.get(), board::rtp::RTP_BEGIN_SESSION, &block) < 0) {
    std::cerr << "begin session fail !!! " << std::endl;
    return nullptr;
  }
  board::rtp::rtp_channel_info info;
  info.tdm = -1;
  info.dev_no = -1;
  info.chn = -1;
  info.flags = radio.has_bss_enable() && radio.get_bss_enable() ? 1 : 0;
  if (board::ioctl(device.get(), board::rtp::RTP_ADD_CHANNEL, &info) < 0) {
    std::cerr << "add channel fail !!!" << std::endl;
    return nullptr;
  }
  RtpExtSlot* slot = MakeSlot(info.tdm, device.get(), block, rtp);
  if (!slot) return nullptr;
  slot->radioStatus = radio.get_status();
  slot->startRTPC(socket, peer);
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
