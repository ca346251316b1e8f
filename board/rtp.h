#pragma once
// "/dev/rtp": the voice DSP's RTP sessions. Each open descriptor holds one session: it is begun
// with its connection parameters, given a TDM channel, and then carries the media packets by
// itself; the descriptor delivers one rtp_event record per read.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::rtp {

inline constexpr const char* kPath = "/dev/rtp";

inline constexpr uint32_t RTP_BEGIN_SESSION = 0xC02C5200;   // rtp_connection_params
inline constexpr uint32_t RTP_ADD_CHANNEL = 0xC0105202;     // rtp_channel_info, in and out
inline constexpr uint32_t RTP_END_SESSION = 0x20005203;     // no argument
inline constexpr uint32_t RTP_START_RX = 0x20005204;        // no argument
inline constexpr uint32_t RTP_STOP_RX = 0x20005205;         // no argument
inline constexpr uint32_t RTP_ATTACH = 0xC0085209;          // rtp_attach_session_params
inline constexpr uint32_t RTP_STOP = 0x2000520A;            // no argument
inline constexpr uint32_t RTP_RELEASE = 0x2000520B;         // no argument
inline constexpr uint32_t RTP_SET_EVENT_PD = 0xC024520C;    // rtp_pd_event_params
inline constexpr uint32_t RTP_RESET_EVENT_PD = 0x8004520D;  // EventReset

// Event types of rtp_event.
inline constexpr uint32_t kEventPacketLoss = 1;  // packet loss detection: word 1 the value, word 2 the time-out

// The begin-session block. Addresses are the dotted quad's value (first octet most significant).
struct rtp_connection_params {
  be_u32 remote_addr;
  be_u16 remote_port;
  uint8_t reserved1[2] = {};
  be_u32 local_addr;  // 0: any
  be_u16 local_port;
  be_u16 rx_pt;  // payload types
  be_u16 tx_pt;
  be_u16 packet_factor;
  uint8_t vad = 0;
  uint8_t rate = 0;
  uint8_t reserved2[2] = {};
  be_u32 ssrc;
  uint8_t reserved3[8] = {};
  be_u32 ttl;
  be_u32 dscp;  // the DSCP byte (code point << 2); 0xFFFFFFFF: the driver's default
};
static_assert(sizeof(rtp_connection_params) == 44);
static_assert(offsetof(rtp_connection_params, remote_port) == 4 && offsetof(rtp_connection_params, local_addr) == 8 &&
              offsetof(rtp_connection_params, local_port) == 12 && offsetof(rtp_connection_params, rx_pt) == 14 &&
              offsetof(rtp_connection_params, tx_pt) == 16 && offsetof(rtp_connection_params, packet_factor) == 18 &&
              offsetof(rtp_connection_params, vad) == 20 && offsetof(rtp_connection_params, rate) == 21 &&
              offsetof(rtp_connection_params, ssrc) == 24 && offsetof(rtp_connection_params, ttl) == 36 &&
              offsetof(rtp_connection_params, dscp) == 40);
static_assert(request_size(RTP_BEGIN_SESSION) == sizeof(rtp_connection_params));

// The add-channel block: in, the channel wanted (-1: any); out, word `tdm` is the session's
// TDM channel.
struct rtp_channel_info {
  be_i32 tdm;
  be_i32 dev_no;
  be_i32 chn;
  be_u32 flags;  // 1: best-signal selection on the channel (radio sessions)
};
static_assert(sizeof(rtp_channel_info) == 16);
static_assert(offsetof(rtp_channel_info, dev_no) == 4 && offsetof(rtp_channel_info, chn) == 8 &&
              offsetof(rtp_channel_info, flags) == 12);
static_assert(request_size(RTP_ADD_CHANNEL) == sizeof(rtp_channel_info));

// One event record as read from the device.
struct rtp_event {
  be_u32 type;
  be_u32 value;    // kEventPacketLoss: the detected value
  be_u32 timeout;  // kEventPacketLoss: the time-out it was armed with
  uint8_t reserved[24] = {};
};
static_assert(sizeof(rtp_event) == 36);
static_assert(offsetof(rtp_event, value) == 4 && offsetof(rtp_event, timeout) == 8);

// Arms packet loss detection: {kEventPacketLoss, 0, timeout, 0, 0, timeout, 0, 0, 0}.
struct rtp_pd_event_params {
  be_u32 type;
  be_u32 reserved1;
  be_u32 timeout;
  be_u32 reserved2[2];
  be_u32 timeout2;
  be_u32 reserved3[3];
};
static_assert(sizeof(rtp_pd_event_params) == 36);
static_assert(offsetof(rtp_pd_event_params, timeout) == 8 && offsetof(rtp_pd_event_params, timeout2) == 20);
static_assert(request_size(RTP_SET_EVENT_PD) == sizeof(rtp_pd_event_params));

// The argument of RTP_RESET_EVENT_PD: the event type to disarm.
struct EventReset {
  be_i32 type;
};
static_assert(sizeof(EventReset) == 4 && request_size(RTP_RESET_EVENT_PD) == sizeof(EventReset));

// Joins the session to the media stream of another process's descriptor (radio sessions).
struct rtp_attach_session_params {
  be_i32 fd_rtp;
  be_i32 pid_rtp;
};
static_assert(sizeof(rtp_attach_session_params) == 8 && offsetof(rtp_attach_session_params, pid_rtp) == 4);
static_assert(request_size(RTP_ATTACH) == sizeof(rtp_attach_session_params));

}  // namespace board::rtp
