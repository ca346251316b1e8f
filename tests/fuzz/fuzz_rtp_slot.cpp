// Event records of any size and content, and ends of file, for an RTP slot and its tone and
// DSP receivers: no crash, no read past a record, no spinning.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <csignal>

#include "board/board.h"
#include "board/rtp.h"
#include "board/sim/SimBoard.h"
#include "hardware/DSProcReceiverService.h"
#include "hardware/TonecReceiverService.h"
#include "slots/RtpSlot.h"
#include "tests/fuzz/DeviceRecords.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using board::sim::Device;

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static bool ready = (std::signal(SIGPIPE, SIG_IGN), fuzz::quiet_with_event_traces(), true);
  static RtpSlot* slot = nullptr;
  auto& sim = board::sim::SimBoard::instance();
  auto* tone = Hardware::TonecReceiverService::instance();
  auto* dsp = Hardware::DSProcReceiverService::instance();
  if (!slot) slot = make_slot();
  if (!slot) return 0;
  bool hungUp = false;
  fuzz::for_each_record(data, size, [&](uint8_t selector, std::span<const uint8_t> record) {
    if (!tone->is_open()) tone->init();
    if (!dsp->is_open()) dsp->init();
    switch (selector % 4) {
      case 0:
        sim.inject_raw(Device::rtp, record);
        if (slot->rtpEvent.fd() >= 0) slot->OnRtpEvent(slot->rtpEvent.fd(), POLLIN);
        break;
      case 1:
        sim.inject_raw(Device::dtmf, record);
        tone->OnEvent(tone->fd(), POLLIN);
        break;
      case 2:
        sim.inject_raw(Device::dsp, record);
        dsp->OnEvent(dsp->fd(), POLLIN);
        break;
      case 3:
        ::shutdown(slot->device.get(), SHUT_RD);
        hungUp = true;
        if (slot->rtpEvent.fd() >= 0) slot->OnRtpEvent(slot->rtpEvent.fd(), POLLIN | POLLHUP);
        break;
    }
  });
  if (hungUp) {  // the simulator lets the old session go at once
    slot->IBeforeDestroy();
    delete slot;
    sim.open_count(Device::rtp);
    slot = make_slot();
  }
  // Unread records and the request log go with the input: no leak scan for what it allocates.
  uint8_t buf[512];
  for (int fd : {slot ? slot->device.get() : -1, tone->fd(), dsp->fd()})
    while (fd >= 0 && ::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
  sim.clear_requests();
  return 0;
}
