#pragma once
// "/dev/rtp_ext": the radio-extension driver. The RTP driver hands it the header extensions of
// a session's packets; one read returns one extension packet, one write sends one. A session
// is initialised with the extension identifier, attached to an RTP session and may accept one
// source address only.
#include <cstddef>
#include <cstdint>

#include "board/BigEndian.h"

namespace board::rtp_ext {

inline constexpr const char* kPath = "/dev/rtp_ext";

inline constexpr uint32_t RTP_EXT_INIT = 0xc0144500;          // InitParams, in/out
inline constexpr uint32_t RTP_EXT_ATTACH = 0xc0084501;        // AttachParams
inline constexpr uint32_t RTP_EXT_DETACH = 0x20004502;        // AttachParams passed, nothing copied
inline constexpr uint32_t RTP_EXT_RX_INFO = 0xc00c4503;       // RxInfo of the next queued packet
inline constexpr uint32_t RTP_EXT_SET_FILTER = 0xc0084504;    // Filter
inline constexpr uint32_t RTP_EXT_RESET_FILTER = 0x20004505;  // Filter passed, nothing copied
// Issued on the RTP device: attach its session to an extension session another process owns.
inline constexpr uint32_t RTP_ATTACH_EXT_SESSION = 0xc0085209;  // RtpAttachParams

// Header-extension identifiers and modes of the two dialects.
inline constexpr uint16_t kEtypeLemz = 0x1337;
inline constexpr uint16_t kEtypeEd137 = 0x0167;

struct InitParams {  // rtp_ext_init_params
  be_u16 etype;
  uint8_t reserved[2] = {};
  be_u32 mode;                 // 0 LEMZ, 1 ED-137
  be_u32 keepalive_pt;         // RTP payload type of keep-alive packets
  be_u32 keepalive_period;     // ED-137: packet times between keep-alives
  be_u32 keepalive_sigtime;    // ED-137
};
static_assert(sizeof(InitParams) == 20);
static_assert(offsetof(InitParams, mode) == 4 && offsetof(InitParams, keepalive_pt) == 8 &&
              offsetof(InitParams, keepalive_period) == 12 && offsetof(InitParams, keepalive_sigtime) == 16);
static_assert(request_size(RTP_EXT_INIT) == sizeof(InitParams));

struct AttachParams {  // rtp_ext_attach_session_params, rtp_attach_session_params
  be_i32 fd_rtp;
  be_i32 pid_rtp;
};
static_assert(sizeof(AttachParams) == 8 && offsetof(AttachParams, pid_rtp) == 4);
static_assert(request_size(RTP_EXT_ATTACH) == sizeof(AttachParams));
static_assert(request_size(RTP_ATTACH_EXT_SESSION) == sizeof(AttachParams));

struct RxInfo {
  be_u32 ssrc;        // RTP SSRC of the sender of the next packet
  uint32_t src_addr;  // its IPv4 address, an in_addr as stored (network order)
  be_u32 driver;      // filled by the driver, not read
};
static_assert(sizeof(RxInfo) == 12 && offsetof(RxInfo, src_addr) == 4 && offsetof(RxInfo, driver) == 8);
static_assert(request_size(RTP_EXT_RX_INFO) == sizeof(RxInfo));

struct Filter {
  uint32_t src_addr;  // the one accepted source, an in_addr as stored
  be_u32 reserved;
};
static_assert(sizeof(Filter) == 8 && offsetof(Filter, reserved) == 4);
static_assert(request_size(RTP_EXT_SET_FILTER) == sizeof(Filter));

// Extension packets are read into buffers of this size.
inline constexpr size_t kMaxPacket = 1024;

}  // namespace board::rtp_ext
