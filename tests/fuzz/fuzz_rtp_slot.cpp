// An RTP slot reads event records from its RTP device and, through its tone and DSP receivers,
// from the tone-control and DSP devices: records of any size and content, short reads and ends
// of file must never crash the slot, read past a record or leave it spinning.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <span>

#include "board/board.h"
#include "board/rtp.h"
#include "board/sim/SimBoard.h"
#include "hardware/DSProcReceiverService.h"
#include "hardware/TonecReceiverService.h"
#include "slots/RtpSlot.h"
#include "tests/fuzz/DeviceRecords.h"

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

// Reads what is left on a descriptor (the simulated devices are datagram sockets).
void drain(int fd) {
  uint8_t buf[512];
  while (fd >= 0 && ::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

}  // namespace

// Input: chunks of [selector][length][bytes], the length cut to what is left. The selector
// picks the device (RTP, tone control, DSP) or, for 3, ends the RTP device; each chunk is one
// record, read at once by the slot or the receivers' service.
//
// The slot and its session are built once and kept from input to input; only the device's end
// replaces them. What an input leaves (unread records, the request log) is cleared at its end:
// an input that frees what it allocates costs no leak scan.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (std::signal(SIGPIPE, SIG_IGN), fuzz::quiet_with_event_traces(), true);
  (void)ready;
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
      case 3:  // the device ends: reads find the end of file
        ::shutdown(slot->device.get(), SHUT_RD);
        hungUp = true;
        if (slot->rtpEvent.fd() >= 0) slot->OnRtpEvent(slot->rtpEvent.fd(), POLLIN | POLLHUP);
        break;
    }
  });
  if (hungUp) {
    // A new slot at once, the simulator having let the old session go: the input frees what
    // it allocates.
    slot->IBeforeDestroy();
    delete slot;
    sim.open_count(Device::rtp);
    slot = make_slot();
  }
  // Records the slot or the services left unread go, as does the request log.
  for (int fd : {slot ? slot->device.get() : -1, tone->fd(), dsp->fd()}) drain(fd);
  sim.clear_requests();
  return 0;
}
