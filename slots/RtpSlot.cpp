#include "slots/RtpSlot.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <unordered_set>

#include "board/board.h"
#include "foundation/RandomWord.h"
#include "hardware/DevNames.h"
#include "hardware/SwitchRoutes.h"
#include "slots/Rtcp.h"

namespace {

// Records taken per readiness report: a device that never runs dry must not hold the loop.
constexpr int kEventsPerPass = 64;

// The source description texts of every session.
constexpr const char* kCname = "Quorvex Tessaline";
constexpr const char* kEmail = "support@quorvex.example";
constexpr const char* kPhone = "+1 555 0100";

std::ostream& put_errno(std::ostream& os, int error) { return os << " errno=" << '"' << std::strerror(error) << '"'; }

// The source identifiers of the live sessions, the controller's own choices included. Never
// destroyed: sessions may outlive other statics at exit.
std::unordered_multiset<uint32_t>& live_ssrcs() {
  static auto* ssrcs = new std::unordered_multiset<uint32_t>;
  return *ssrcs;
}

}  // namespace

RtpSlot::RtpSlot(int channel, int device, rtp_connection_params const& params)
    : channel(channel), device(::fcntl(device, F_DUPFD_CLOEXEC, 0)), params(params), codecPayload(params.rx_pt) {
  rtpEvent.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
  rtpEvent.Schedule(this->device, POLLIN);
  live_ssrcs().insert(params.ssrc);
}

RtpSlot::~RtpSlot() {
  if (auto it = live_ssrcs().find(params.ssrc); it != live_ssrcs().end()) live_ssrcs().erase(it);
  send(RTPC::BYE(params.ssrc, "session end"));
  rtcp.close();
  // A lost channel's features were undone when it went; its number is not ours to touch.
  if (!channelLost) IReleaseChannel();
  rtpEvent.Release();
  device.close();
}

std::ostream& RtpSlot::put(std::ostream& os) const { return os << "rtp[" << channel << "]: "; }

bool RtpSlot::request(uint32_t number) { return board::ioctl(device.get(), number, nullptr) >= 0; }

void RtpSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy() {
  request(board::rtp::RTP_STOP);
  request(board::rtp::RTP_END_SESSION);
  // The session gives its channel back only once its output is disabled and no route into
  // or out of it stands; until the switch lets the route book take them down, the book keeps
  // a duplicate of the descriptor, whose close ends the session.
  if (channelLost || SwitchRoutes::give_up(channel, device.dup())) request(board::rtp::RTP_RELEASE);
  board::rtp::EventReset reset;
  reset.type = static_cast<int32_t>(board::rtp::kEventPacketLoss);
  board::ioctl(device.get(), board::rtp::RTP_RESET_EVENT_PD, &reset);
  rtpEvent.Release();
  device.close();
  return true;
}

void RtpSlot::IReleaseChannel() {
  // The generator and its sequence go with the detectors.
  TonecReceiver::CleanBeforeDestroy();
  DSProcReceiver::CleanBeforeDestroy();
}

// The receive path is what the device confirmed: a refused start fails the connect, which then
// changes nothing, and the controller's next connect asks again. A radio-gated path is the
// squelch's alone: a connect or a release leaves it as the gate set it, so that the radio's
// voice runs on whoever feeds the slot.
bool RtpSlot::IOnInputStream() {
  if (radioInput) return true;
  if (!inputStarted && !request(board::rtp::RTP_START_RX)) return false;
  inputStarted = true;
  return true;
}

void RtpSlot::IOnInputRelease() {
  if (radioInput) return;
  request(board::rtp::RTP_STOP_RX);
  inputStarted = false;
}

bool RtpSlot::Ioctl(LGCP::IoctlParams const& p) {
  // Every request works on the session or its timeslot, which a lost channel took along.
  if (channelLost) return false;
  switch (p.getID()) {
    case LGCP::IoctlParams::e_echoSuppressor: return echoCancel(p.get_echoSuppressor());
    case LGCP::IoctlParams::e_activateWaitTone: return activateAudibleCall();
    case LGCP::IoctlParams::e_deactivateWaitTone: cancelAudibleCall(); return true;
    case LGCP::IoctlParams::e_translateDTMF: return translateDTMF(p.get_translateDTMF());
    case LGCP::IoctlParams::e_dtmf_params: return configureDTMF(p.get_dtmf_params());
    case LGCP::IoctlParams::e_dtmf_enable: return enableDTMF(p.get_dtmf_enable());
    case LGCP::IoctlParams::e_encoder_mode: return changeCodec(p.get_encoder_mode(), true);
    case LGCP::IoctlParams::e_decoder_mode: return changeCodec(p.get_decoder_mode(), false);
    case LGCP::IoctlParams::e_vad_params: return configureVAD(p.get_vad_params());
    case LGCP::IoctlParams::e_vad_enable: return enableVAD(p.get_vad_enable());
    case LGCP::IoctlParams::e_vad_disable: return disableVAD();
    case LGCP::IoctlParams::e_dtmf_reject_enable: return enableDTMFReject(p.get_dtmf_reject_enable());
    case LGCP::IoctlParams::e_sd_params: return configureSD();
    case LGCP::IoctlParams::e_sd_enable: return enableSD(p.get_sd_enable());
    case LGCP::IoctlParams::e_sd_disable: return disableSD();
    case LGCP::IoctlParams::e_pd_enable: return enablePD(p.get_pd_enable());
    case LGCP::IoctlParams::e_pd_disable: return disablePD();
    case LGCP::IoctlParams::e_rx_gain:
      return configureRxGain(static_cast<char>(p.get_rx_gain().get_gainDB().getValue() & 0xFF));
    case LGCP::IoctlParams::e_tone_filter: {
      const LGCP::ToneFilter& f = p.get_tone_filter();
      return configureToneFilter(static_cast<unsigned>(f.get_freq().getValue()), f.get_enable() ? 1u : 0u,
                                 f.get_duration_th_msec(), f.get_det_level_dB());
    }
    case LGCP::IoctlParams::e_selcal: return translateSelcal(p.get_selcal()) >= 0;
  }
  return false;
}

uint32_t RtpSlot::NewSsrc() {
  // A clash among 32 random bits is rare; a few draws make it never happen in practice, and
  // the table of live sessions is bounded by the board's channels.
  uint32_t ssrc = Random::word();
  for (int draw = 0; draw < 8 && live_ssrcs().count(ssrc); ++draw) ssrc = Random::word();
  return ssrc;
}

int RtpSlot::translate_payload(LGCP::CodecMode const& mode) const {
  switch (mode.getValue()) {
    case LGCP::CodecMode::alaw: return 8;
    case LGCP::CodecMode::ulaw: return 0;
  }
  return codecPayload;
}

bool RtpSlot::changeCodec(LGCP::CodecMode const& mode, bool transmit) {
  put(std::clog) << "do restart RTP session (change tx payload):" << mode;
  const int pt = translate_payload(mode);
  board::be_u16& field = transmit ? params.tx_pt : params.rx_pt;
  if (field == pt) {
    std::clog << " - Nothing to do" << std::endl;
    return true;
  }
  field = static_cast<uint16_t>(pt);
  if (!restart()) {
    std::clog << std::endl;
    put(std::cerr) << "fail to restart RTP session!" << std::endl;
    // The old session's channel went with its descriptor: the board may give it to the next
    // session that asks.
    LoseChannel();
    return false;
  }
  if (transmit) std::clog << " - OK";
  std::clog << std::endl;
  // The new session starts without the detection the controller set on the old one. The
  // session runs the new codec whatever the device says to the detection, so the change is
  // made; a detection refused now is owed to it, and armed once the device takes it.
  if (pdEnabled && !armPD(pdTimeout) && !pdRetry.is_set()) {
    pdRetryMs = kPdRetryMs;
    pdRetry.set(pdRetryMs, &RtpSlot::OnPdRetry, this);
  }
  return true;
}

void RtpSlot::OnPdRetry() {
  // A lost session, or a detection switched off since, owes nothing.
  if (channelLost || !device || !pdEnabled || armPD(pdTimeout, true)) return;
  pdRetryMs = std::min(pdRetryMs * 2, kPdRetryMaxMs);
  pdRetry.set(pdRetryMs, &RtpSlot::OnPdRetry, this);
}

bool RtpSlot::restart() {
  // The old session goes with its last descriptor, the watch's included, so that its channel
  // is free for the new one; the watch then follows the new descriptor.
  rtpEvent.Release();
  device.close();
  Fd fresh(board::open(GetRtpDevName(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fresh) return false;
  rtp_connection_params block = params;
  if (board::ioctl(fresh.get(), board::rtp::RTP_BEGIN_SESSION, &block) < 0) return false;
  board::rtp::rtp_channel_info info;
  info.tdm = channel;
  info.dev_no = -1;
  info.chn = -1;
  info.flags = channelFlags;
  if (board::ioctl(fresh.get(), board::rtp::RTP_ADD_CHANNEL, &info) < 0) return false;
  device = std::move(fresh);
  // A session nobody hears is no better than none.
  if (!rtpEvent.Schedule(device, POLLIN)) {
    device.close();
    return false;
  }
  // A receive path that ran before runs on the new session too.
  if (inputStarted && !request(board::rtp::RTP_START_RX)) inputStarted = false;
  return true;
}

void RtpSlot::OnRtpEvent(int, short events) {
  const bool hungUp = events & (POLLHUP | POLLERR);
  if (!(events & POLLIN) && !hungUp) return;
  board::rtp::rtp_event e;
  for (int n = 0; n < kEventsPerPass; ++n) {
    const ssize_t got = ::read(device.get(), &e, sizeof e);
    if (got == static_cast<ssize_t>(sizeof e)) {
      put(std::clog) << "rtp event: " << " type=" << static_cast<uint32_t>(e.type) << std::endl;
      processRtpEvent(e);
      continue;
    }
    if (got > 0 || (got < 0 && errno == EINTR)) continue;  // a short record carries nothing usable
    if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      put(std::cerr) << "fail to read from rtp: " << std::strerror(errno) << std::endl;
      return;
    }
    if (got < 0 && !hungUp) return;
    // End of file, or drained with a hang-up: the device will deliver nothing more, and a
    // watch that stayed would be served on every pass. The session ended with it and the board
    // freed its channel for the next session that asks.
    put(std::cerr) << "fail to read from rtp: " << "device hung up" << std::endl;
    rtpEvent.Release();
    LoseChannel();
    return;
  }
}

bool RtpSlot::enablePD(LGCP::PDParams const& p) {
  // The device takes the time-out as an unsigned word: a negative one would arm it for weeks.
  const int timeout = p.get_timeout().getValue();
  if (timeout < 0) {
    put(std::cerr) << "RTP SET EVENT PD fail:" << " timeout=" << timeout << " out of range" << std::endl;
    return false;
  }
  return armPD(static_cast<uint32_t>(timeout));
}

bool RtpSlot::armPD(uint32_t timeout, bool quiet) {
  board::rtp::rtp_pd_event_params block;
  block.type = board::rtp::kEventPacketLoss;
  block.timeout = timeout;
  block.timeout2 = timeout;
  if (board::ioctl(device.get(), board::rtp::RTP_SET_EVENT_PD, &block) < 0) {
    const int error = errno;
    if (!quiet) put_errno(put(std::cerr) << "RTP SET EVENT PD fail:", error) << std::endl;
    return false;
  }
  put(std::clog) << "RTP SET EVENT PD " << "timeout=" << timeout << std::endl;
  pdEnabled = true;
  pdTimeout = timeout;
  pdRetry.reset();
  return true;
}

bool RtpSlot::disablePD() {
  board::rtp::EventReset reset;
  reset.type = static_cast<int32_t>(board::rtp::kEventPacketLoss);
  if (board::ioctl(device.get(), board::rtp::RTP_RESET_EVENT_PD, &reset) < 0) {
    const int error = errno;
    put_errno(put(std::cerr) << "RTP RESET EVENT PD fail:", error) << std::endl;
    return false;
  }
  put(std::clog) << "RTP RESET EVENT PD" << std::endl;
  pdEnabled = false;
  pdRetry.reset();
  return true;
}

void RtpSlot::startRTPC(Fd socket, sockaddr_in const& to) {
  peer = to;
  rtcp = std::move(socket);
  RTPC::SDES sdes(params.ssrc);
  sdes.items = {{RTPC::SDES::Item::CNAME, kCname}, {RTPC::SDES::Item::EMAIL, kEmail}, {RTPC::SDES::Item::PHONE, kPhone}};
  send(sdes);
}

void RtpSlot::send(RTPC::Msg const& msg) {
  if (!rtcp) return;
  char buffer[1024];
  const unsigned length = msg.encode(buffer, sizeof buffer);
  if (length == 0) return;
  ::sendto(rtcp.get(), buffer, length, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
}
