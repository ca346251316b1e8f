#include "board/sim/SimRtp.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace board::sim {

using namespace board::rtp;

namespace {
using K = FieldDef::Kind;
#define F(Record, member, width, kind) FieldDef{#member, static_cast<uint8_t>(offsetof(Record, member)), width, kind}
constexpr RequestDef kRequests[] = {
    {RTP_BEGIN_SESSION, "RTP_BEGIN_SESSION", ArgForm::record, 12,
     {F(rtp_connection_params, remote_addr, 4, K::u), F(rtp_connection_params, remote_port, 2, K::u),
      F(rtp_connection_params, local_addr, 4, K::u), F(rtp_connection_params, local_port, 2, K::u),
      F(rtp_connection_params, rx_pt, 2, K::u), F(rtp_connection_params, tx_pt, 2, K::u),
      F(rtp_connection_params, packet_factor, 2, K::u), F(rtp_connection_params, vad, 1, K::u),
      F(rtp_connection_params, rate, 1, K::u), F(rtp_connection_params, ssrc, 4, K::u),
      F(rtp_connection_params, ttl, 4, K::u), F(rtp_connection_params, dscp, 4, K::u)}},
    {RTP_ADD_CHANNEL, "RTP_ADD_CHANNEL", ArgForm::record, 4,
     {F(rtp_channel_info, tdm, 4, K::s), F(rtp_channel_info, dev_no, 4, K::s), F(rtp_channel_info, chn, 4, K::s),
      F(rtp_channel_info, flags, 4, K::u)}},
    {RTP_END_SESSION, "RTP_END_SESSION", ArgForm::none, 0, {}},
    {RTP_START_RX, "RTP_START_RX", ArgForm::none, 0, {}},
    {RTP_STOP_RX, "RTP_STOP_RX", ArgForm::none, 0, {}},
    {RTP_ATTACH, "RTP_ATTACH", ArgForm::record, 2,
     {F(rtp_attach_session_params, fd_rtp, 4, K::s), F(rtp_attach_session_params, pid_rtp, 4, K::s)}},
    {RTP_STOP, "RTP_STOP", ArgForm::none, 0, {}},
    {RTP_RELEASE, "RTP_RELEASE", ArgForm::none, 0, {}},
    {RTP_SET_EVENT_PD, "RTP_SET_EVENT_PD", ArgForm::record, 3,
     {F(rtp_pd_event_params, type, 4, K::u), F(rtp_pd_event_params, timeout, 4, K::u),
      F(rtp_pd_event_params, timeout2, 4, K::u)}},
    {RTP_RESET_EVENT_PD, "RTP_RESET_EVENT_PD", ArgForm::record, 1, {F(EventReset, type, 4, K::s)}},
};
#undef F
}  // namespace

std::span<const RequestDef> SimRtp::requests() { return kRequests; }

std::optional<uint64_t> SimRtp::handle_of(int channel) const {
  for (const auto& [handle, s] : sessions_) {
    if (s.channel >= 0 && s.channel == channel) return handle;
  }
  return std::nullopt;
}

const RtpSession* SimRtp::session_of(int channel) const {
  auto h = handle_of(channel);
  return h ? &sessions_.at(*h) : nullptr;
}

unsigned SimRtp::channels_in_use() const {
  unsigned n = 0;
  for (const auto& [handle, s] : sessions_) n += s.channel >= 0 ? 1 : 0;
  return n;
}

void SimRtp::release(uint64_t handle) { sessions_.erase(handle); }

int SimRtp::add_channel(RtpSession& s, rtp_channel_info& info, int& error) {
  if (!s.begun || s.ended) {
    error = EINVAL;
    return -1;
  }
  if (s.channel >= 0 || channels_in_use() >= std::min<unsigned>(capacity, kMaxChannels)) {
    error = s.channel >= 0 ? EBUSY : ENOSPC;
    return -1;
  }
  int wanted = info.tdm;
  int channel = -1;
  if (wanted >= 0) {
    // A restarted session asks for the channel it had.
    if (wanted < kFirstChannel || wanted >= kFirstChannel + kMaxChannels) {
      error = EINVAL;
      return -1;
    }
    if (handle_of(wanted)) {
      error = EBUSY;
      return -1;
    }
    channel = wanted;
  } else {
    for (int c = kFirstChannel; c < kFirstChannel + kMaxChannels && channel < 0; ++c) {
      if (!handle_of(c)) channel = c;
    }
  }
  s.channel = channel;
  info.tdm = channel;
  info.dev_no = 0;
  info.chn = channel - kFirstChannel;
  return 0;
}

int SimRtp::request(uint64_t handle, uint32_t number, uint8_t* record, int& error) {
  RtpSession& s = sessions_[handle];
  switch (number) {
    case RTP_BEGIN_SESSION:
      if (s.begun) {
        error = EBUSY;
        return -1;
      }
      std::memcpy(static_cast<void*>(&s.params), record, sizeof s.params);
      s.begun = true;
      return 0;
    case RTP_ADD_CHANNEL: {
      rtp_channel_info info;
      std::memcpy(static_cast<void*>(&info), record, sizeof info);
      int r = add_channel(s, info, error);
      if (r == 0) std::memcpy(record, &info, sizeof info);
      return r;
    }
    case RTP_START_RX:
    case RTP_STOP_RX:
      if (s.channel < 0) break;
      s.receiving = number == RTP_START_RX;
      return 0;
    case RTP_ATTACH:
      if (s.channel < 0) break;
      s.attach.emplace();
      std::memcpy(static_cast<void*>(&*s.attach), record, sizeof *s.attach);
      return 0;
    case RTP_SET_EVENT_PD: {
      auto* p = reinterpret_cast<rtp_pd_event_params*>(record);
      if (!s.begun || p->type != kEventPacketLoss) break;
      s.pd = true;
      s.pd_timeout = p->timeout;
      return 0;
    }
    case RTP_RESET_EVENT_PD:
      if (reinterpret_cast<EventReset*>(record)->type != static_cast<int32_t>(kEventPacketLoss)) break;
      s.pd = false;
      return 0;
    case RTP_STOP:
      s.stopped = true;
      s.receiving = false;
      return 0;
    case RTP_END_SESSION:
      s.ended = true;
      return 0;
    case RTP_RELEASE:
      s.channel = -1;
      return 0;
  }
  error = EINVAL;
  return -1;
}

rtp_event SimRtp::event(int channel, uint32_t type, uint32_t value, std::optional<uint32_t> timeout) const {
  rtp_event e;
  e.type = type;
  e.value = value;
  const RtpSession* s = session_of(channel);
  e.timeout = timeout ? *timeout : (s ? s->pd_timeout : 0);
  return e;
}

}  // namespace board::sim
