#pragma once
// Everything the simulated drivers hold, shared by every descriptor open on them.
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "board/sim/SimMixer.h"
#include "board/sim/SimRtp.h"
#include "board/sim/SimSwitch.h"
#include "board/sim/SimVoice.h"

namespace board::sim {

using Bytes = std::vector<uint8_t>;

// One HDLC controller channel of "/dev/mcc/ctl".
struct HdlcChannel {
  int channel = -1;   // switch numbering
  bool open = false;  // false once the daemon closed every descriptor of it
  uint32_t type = 0;
  uint32_t rx_packet_size = 0;
  uint32_t rx_threshold = 0;
  uint32_t tx_threshold = 0;
  std::deque<Bytes> sent;  // frames the daemon wrote, oldest first (the last kFrameLimit)
  uint64_t sent_count = 0;
  uint64_t received_count = 0;  // frames delivered to the daemon
  uint64_t dropped_count = 0;   // frames the daemon did not read in time
};

struct TrunkState {
  uint32_t state = 0;  // trunk state code, 0 normal
  uint32_t slips = 0;
  uint32_t loss_bf = 0;
  uint32_t loss_carrier = 0;
  uint32_t ais = 0;
  uint32_t rai = 0;
};

struct CasChannelState {
  bool enabled = false;
  uint8_t rx = 0;
  uint8_t tx = 0;
};

struct ToneTimeslot {
  bool detector = false;
  uint32_t detector_id = 0;
  uint32_t twist = 0, ratio = 0, silence = 0, noise = 0;
  uint16_t frequency1 = 0, frequency2 = 0, amplitude1 = 0, amplitude2 = 0;
  bool echo_canceller = false;
  bool rejection = false;
  bool iva = false;
  int32_t iva_level_db = 0;
  std::string selcal;  // the last signs dialled
};

struct DspTimeslot {
  uint32_t enabled = 0;                   // feature mask bits that are on
  std::map<uint32_t, uint32_t> ids;       // feature bit -> request id of its enable
  std::map<uint32_t, std::array<uint8_t, 12>> configured;  // "what" code -> last payload
  // The tone filters running, by frequency: the payload of the configure that switched each on
  // (one with enable 0 switches its frequency off, a disable of the tone filter bit all of them).
  std::map<uint16_t, std::array<uint8_t, 12>> filters;
};

// Everything the drivers hold. Tests read and set it directly.
struct BoardState {
  // "/dev/hal"
  SimSwitch mux;
  int32_t clock_source = -1;
  bool spi_present = true;
  std::array<std::array<uint8_t, 256>, 8> spi{};  // [channel][address]
  uint8_t dip = 0;
  uint8_t power = 0;
  uint8_t leds = 0;
  // "/dev/mcc/ctl": capacity by kind (data and ss7 share the data channels)
  uint32_t mcc_data_capacity = 32, mcc_bri_capacity = 8, mcc_transparent_capacity = 16;
  // "/dev/maintenance"
  uint32_t tclk_mask = 0;
  std::array<TrunkState, 4> trunks{};
  // "/dev/e1-cas"
  std::array<bool, 4> cas_trunk_open{};
  std::array<std::array<CasChannelState, 32>, 4> cas{};
  // "/dev/dtmf", "/dev/dsp": by timeslot
  std::map<uint32_t, ToneTimeslot> tones;
  std::map<uint32_t, DspTimeslot> dsp;
  uint32_t vad_version = 2;
  // "/dev/rtp", "/dev/voice"
  SimRtp rtp;
  SimVoice voice;
  // "/dev/mixer"
  SimMixer mixer;
};

}  // namespace board::sim
