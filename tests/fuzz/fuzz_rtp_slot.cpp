// An RTP slot reads event records from its RTP device and, through its tone and DSP receivers,
// from the tone-control and DSP devices: records of any size and content, short reads, ends of
// file and hang-ups must never crash the slot, read past a record or leave it spinning.
#include <fcntl.h>
#include <poll.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <span>
#include <sstream>
#include <streambuf>

#include "board/board.h"
#include "board/rtp.h"
#include "board/sim/SimBoard.h"
#include "foundation/IniFile.h"
#include "foundation/Multiplexer.h"
#include "foundation/Traces.h"
#include "hardware/DSProcReceiverService.h"
#include "hardware/TonecReceiverService.h"
#include "slots/RtpSlot.h"

namespace {

using board::sim::Device;

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

void setup() {
  static NullBuffer sink;
  std::clog.rdbuf(&sink);
  std::cerr.rdbuf(&sink);
  std::signal(SIGPIPE, SIG_IGN);
  IniFile::File f;
  std::istringstream in("[traces]\nsignalling.events = yes\n");
  in >> f;
  traces.Configure(f["traces"]);
}

// A slot on a session of its own, with the detectors on whose events it converts.
RtpSlot* make_slot() {
  int fd = board::open(board::rtp::kPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  board::rtp::rtp_connection_params params;
  params.remote_addr = 0x7F000001;
  params.remote_port = 9;
  board::rtp::rtp_channel_info info;
  info.tdm = -1;
  RtpSlot* slot = nullptr;
  if (board::ioctl(fd, board::rtp::RTP_BEGIN_SESSION, &params) == 0 &&
      board::ioctl(fd, board::rtp::RTP_ADD_CHANNEL, &info) == 0)
    slot = new RtpSlot(info.tdm, fd, params);
  board::close(fd);
  if (slot) {
    slot->enableDTMF(true);
    slot->enableIVA(true);
    slot->enableVAD(true);
    slot->enableBSS(true);
    slot->enableSD(true);
  }
  return slot;
}

}  // namespace

// Input: chunks of [selector][length][bytes], the length cut to what is left. The selector
// picks the device (RTP, tone control, DSP) or, for 3, hangs the RTP device up; each chunk is
// one record, then the loop runs one pass.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (setup(), true);
  (void)ready;
  auto& sim = board::sim::SimBoard::instance();
  auto* tone = Hardware::TonecReceiverService::instance();
  auto* dsp = Hardware::DSProcReceiverService::instance();
  RtpSlot* slot = make_slot();
  if (!slot) return 0;
  size_t at = 0;
  while (at + 2 <= size) {
    const unsigned selector = data[at] % 4;
    size_t len = data[at + 1];
    at += 2;
    if (len > size - at) len = size - at;
    std::span<const uint8_t> record(data + at, len);
    at += len;
    if (!tone->is_open()) tone->init();
    if (!dsp->is_open()) dsp->init();
    static constexpr Device kDevices[] = {Device::rtp, Device::dtmf, Device::dsp};
    if (selector == 3)
      sim.hangup(Device::rtp);
    else
      sim.inject_raw(kDevices[selector], record);
    multiplexer.run_once(0);
  }
  slot->IBeforeDestroy();
  delete slot;
  return 0;
}
