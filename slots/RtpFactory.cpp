#include "slots/RtpFactory.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "asn1/schemas/LGCP.h"
#include "board/board.h"
#include "board/voice.h"
#include "foundation/Escaped.h"
#include "foundation/Fd.h"
#include "foundation/INet4.h"
#include "hardware/DevNames.h"
#include "hardware/SwitchRoutes.h"
#include "slots/RtpSlot.h"

namespace {

// The address of a "iaddr" text, first octet most significant; false when it does not parse
// (inet_addr would give 255.255.255.255 for it).
bool address_of(std::string const& text, uint32_t& address) {
  uint32_t network_order = 0;
  if (!INet4::ParseAddress(text, network_order)) return false;
  address = ntohl(network_order);
  return true;
}

}  // namespace

RtpFactory::RtpFactory() { IQuery(); }

std::ostream& RtpFactory::PutHeader(std::ostream& os) const {
  return os << "rtp[" << g723 << "," << g729 << "," << g711 << "," << universal << "]: ";
}

int RtpFactory::translateCodec(TERM::Payload const& codec) {
  switch (codec.getValue()) {
    case TERM::Payload::ptG711_Alaw: return 8;
    case TERM::Payload::ptG723: return 4;
    case TERM::Payload::ptG729: return 18;
    case TERM::Payload::ptG711mcc_Alaw: return 136;
    case TERM::Payload::ptG711mcc_Ulaw: return 128;
    case TERM::Payload::ptG728: return 15;
  }
  return 0;
}

int RtpFactory::translateCodec(TERM::Payload const& codec, TERM::Payload const& other) {
  const int o = other.getValue();
  if (o != codec.getValue() && (o == TERM::Payload::ptG711_Alaw || o == TERM::Payload::ptG711_Ulaw))
    return translateCodec(other);
  return translateCodec(codec);
}

bool RtpFactory::KnownPayload(TERM::Payload const& payload) {
  switch (payload.getValue()) {
    case TERM::Payload::ptG711_Alaw:
    case TERM::Payload::ptG711_Ulaw:
    case TERM::Payload::ptG723:
    case TERM::Payload::ptG729:
    case TERM::Payload::ptG711mcc_Alaw:
    case TERM::Payload::ptG711mcc_Ulaw:
    case TERM::Payload::ptG728: return true;
  }
  return false;
}

bool RtpFactory::MakeParams(LGCP::CreateRtpParams const& create, board::rtp::rtp_connection_params& p,
                            sockaddr_in& peer, std::ostream& log) {
  const TERM::RtpParams& rtp = create.get_codecRTP();
  const TERM::HostAddress& dhost = rtp.get_dhost();
  uint32_t remote = 0, local = 0;
  if (!address_of(dhost.get_iaddr(), remote)) {
    log << "rtp do not created: bad address " << ext::escaped(dhost.get_iaddr()) << std::endl;
    return false;
  }
  if (rtp.has_shost() && !address_of(rtp.get_shost().get_iaddr(), local)) {
    log << "rtp do not created: bad address " << ext::escaped(rtp.get_shost().get_iaddr()) << std::endl;
    return false;
  }
  // The block's field is 16 bits wide: a larger factor would reach the board cut.
  if (rtp.has_pfactor() && (rtp.get_pfactor().getValue() < 0 || rtp.get_pfactor().getValue() > 0xFFFF)) {
    log << "rtp do not created: pfactor " << rtp.get_pfactor().getValue() << " out of range" << std::endl;
    return false;
  }
  p = board::rtp::rtp_connection_params{};
  p.remote_addr = remote;
  p.remote_port = static_cast<uint16_t>(dhost.get_port().getValue());
  p.local_addr = local;
  p.local_port = static_cast<uint16_t>(rtp.has_shost() ? rtp.get_shost().get_port().getValue() : dhost.get_port().getValue());
  p.rx_pt = static_cast<uint16_t>(translateCodec(rtp.get_payload(), create.get_rxPayload()));
  p.tx_pt = static_cast<uint16_t>(translateCodec(rtp.get_payload(), create.get_txPayload()));
  p.packet_factor = static_cast<uint16_t>(rtp.has_pfactor() ? rtp.get_pfactor().getValue() : 0);
  p.vad = rtp.has_vad() && rtp.get_vad() ? 1 : 0;
  p.rate = rtp.has_crate() && rtp.get_crate().getValue() != 0 ? 1 : 0;
  p.ssrc = rtp.has_ssrc() ? rtp.get_ssrc().getValue() : RtpSlot::NewSsrc();
  p.ttl = rtp.has_ttl() ? rtp.get_ttl().getValue() : 0u;
  p.dscp = rtp.has_qos_dscp() ? (static_cast<uint32_t>(rtp.get_qos_dscp().getValue()) * 4) & 0xFC : 0xFFFFFFFFu;
  peer = sockaddr_in{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(dhost.get_port().getValue() + 1));
  peer.sin_addr.s_addr = htonl(remote);
  return true;
}

int RtpFactory::CodecPayload(LGCP::CreateRtpParams const& create) {
  const TERM::Payload& payload = create.get_codecRTP().get_payload();
  switch (payload.getValue()) {
    case TERM::Payload::ptG711_Alaw:
    case TERM::Payload::ptG711_Ulaw: return translateCodec(payload, create.get_rxPayload());
  }
  return translateCodec(payload);
}

bool RtpFactory::BeginSession(LGCP::CreateRtpParams const& create, bool reuse_address, uint32_t flags,
                              std::string const& header, Session& s) {
  const TERM::RtpParams& rtp = create.get_codecRTP();
  if (!KnownPayload(rtp.get_payload())) {
    std::clog << header << "rtp do not created: payload " << rtp.get_payload() << "not found" << std::endl;
    return false;
  }
  s.codecPayload = CodecPayload(create);
  std::ostringstream refused;
  if (!MakeParams(create, s.block, s.peer, refused)) {
    // The reason was ended on a string stream: the log stream is flushed here, so that in
    // daemon mode the line goes out now and not with the next line written.
    std::clog << header << refused.str() << std::flush;
    return false;
  }

  // RTCP goes from the local RTP port + 1 to the remote one + 1: past 65535 there is no such
  // port, and a socket there would be bound anywhere or send to port 0. The media runs without.
  const unsigned port = (rtp.has_shost() ? rtp.get_shost().get_port().getValue() : rtp.get_dhost().get_port().getValue()) + 1;
  const unsigned remote = rtp.get_dhost().get_port().getValue() + 1;
  const bool rtcp = port <= 0xFFFF && remote <= 0xFFFF;
  if (!rtcp) std::clog << header << "rtp without rtcp: no port after 65535" << std::endl;
  if (rtcp) s.rtcp = Fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (rtcp && !s.rtcp) {
    std::clog << header << "rtp do not created: can not create socket [errno=" << std::strerror(errno) << "]"
              << std::endl;
    return false;
  }
  if (rtcp && reuse_address) {
    const int on = 1;
    ::setsockopt(s.rtcp.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<uint16_t>(port));
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (rtcp && ::bind(s.rtcp.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
    std::clog << header << "rtp do not created: can not bind socket [errno=" << std::strerror(errno)
              << ", port=" << port << "]" << std::endl;
    return false;
  }
  // Non-blocking: the slot reads its events until the device has no more, on the one thread.
  // The board picks the session's channel (tdm -1): one still routed for an earlier owner is
  // kept aside on its session, and another session asked for.
  bool failed = false;
  s.device = SwitchRoutes::for_new_owner(
      [&](int& channel) {
        Fd device(board::open(GetRtpDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!device) {
          std::cerr << "device \"" << GetRtpDevName() << "\" open fail: " << std::strerror(errno) << std::endl;
          failed = true;
          return device;
        }
        if (board::ioctl(device.get(), board::rtp::RTP_BEGIN_SESSION, &s.block) < 0) {
          std::cerr << "begin session fail !!! " << std::endl;
          failed = true;
          return Fd();
        }
        board::rtp::rtp_channel_info info;
        info.tdm = -1;
        info.dev_no = -1;
        info.chn = -1;
        info.flags = flags;
        if (board::ioctl(device.get(), board::rtp::RTP_ADD_CHANNEL, &info) < 0) {
          std::cerr << "add channel fail !!!" << std::endl;
          failed = true;
          return Fd();
        }
        channel = info.tdm;
        return device;
      },
      s.channel);
  if (!s.device && !failed) std::cerr << header << "rtp do not created: every channel offered is still routed" << std::endl;
  return static_cast<bool>(s.device);
}

bool RtpFactory::SlotHolds(RtpSlot const& slot, std::string const& header) {
  if (slot.Complete()) return true;
  std::cerr << header << "rtp do not created: can not hold the session [errno=" << std::strerror(errno) << "]"
            << std::endl;
  return false;
}

Slot* RtpFactory::INewSlot(LGCP::CreateParams const& create) {
  if (create.getID() != LGCP::CreateParams::e_rtp) return nullptr;
  const LGCP::CreateRtpParams& params = create.get_rtp();
  const TERM::RtpParams& rtp = params.get_codecRTP();
  if (rtp.has_radio()) return nullptr;
  PutHeader(std::clog) << "do create rtp: " << rtp << std::endl;
  std::ostringstream header;
  PutHeader(header);
  Session session;
  if (!BeginSession(params, true, 0, header.str(), session)) return nullptr;
  auto* slot = new RtpSlot(session.channel, session.device.get(), session.block);
  if (!SlotHolds(*slot, header.str())) {
    delete slot;
    return nullptr;
  }
  slot->codecPayload = session.codecPayload;
  slot->startRTPC(std::move(session.rtcp), session.peer);
  if (rtp.has_echo() && rtp.get_echo().get_suppressor()) slot->echoCancel(rtp.get_echo().get_canceller());
  return slot;
}

bool RtpFactory::CodecChannels(int (&channels)[5]) {
  Fd voice(board::open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC));
  if (!voice) {
    std::cerr << "device \"" << GetVoiceDevName() << "\" open fail: " << std::strerror(errno) << std::endl;
    return false;
  }
  const int32_t codecs[] = {board::voice::kCodecG729, board::voice::kCodecG723, board::voice::kCodecG711,
                            board::voice::kCodecG711Mcc, board::voice::kCodecUniversal};
  for (int i = 0; i < 5; ++i) {
    board::voice::CodecQuery q;
    q.codec = codecs[i];
    channels[i] = board::ioctl(voice.get(), board::voice::VOICE_CODEC_CHANNELS, &q);
  }
  return true;
}

void RtpFactory::IQuery() {
  g729 = g723 = g711 = 0;
  QueryCodecs(g729, g723, g711, g711mcc, universal);
}

void RtpFactory::Query(LGCP::Resources& r) {
  IQuery();
  r.set_rtp_g729(g729);
  r.set_rtp_g723(g723);
  r.set_rtp_g711(g711);
  r.set_rtp_g711mcc(g711mcc);
  r.set_universal(universal);
}
