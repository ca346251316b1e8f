// The tone and DSP event readers take records from driver devices: records of any size and
// content, delivered to receivers that may destroy and recreate themselves inside their
// callbacks, must never crash the readers or read past a record.
#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "board/sim/SimBoard.h"
#include "hardware/DSProcReceiver.h"
#include "hardware/DSProcReceiverService.h"
#include "hardware/TonecReceiver.h"
#include "hardware/TonecReceiverService.h"
#include "tests/fuzz/DeviceRecords.h"

namespace {

using Hardware::DSProcReceiver;
using Hardware::TonecReceiver;

class ToneSlot;
class DspSlot;
std::unique_ptr<ToneSlot> g_tone[4];
std::unique_ptr<DspSlot> g_dsp[4];

// Odd slots replace themselves when an event reaches them.
class ToneSlot : public TonecReceiver {
 public:
  explicit ToneSlot(unsigned ts) : ts_(ts) {}
  void tonec_event(const Params& p) override {
    sink_ += p.code ^ p.timestamp;
    if (ts_ % 2 == 1) renew_tone(ts_);
  }
  unsigned tonec_timeslot() const override { return ts_; }
  static void renew_tone(unsigned ts);

 private:
  unsigned ts_;
  uint64_t sink_ = 0;
};

class DspSlot : public DSProcReceiver {
 public:
  explicit DspSlot(unsigned ts) : ts_(ts) {}
  void dsproc_vad_event(const Hardware::DSProcVADEvent& e) override {
    sink_ += static_cast<unsigned>(e.rx) + static_cast<unsigned>(e.tx);
    if (ts_ % 2 == 1) renew_dsp(ts_);
  }
  void dsproc_bss_event(const Hardware::dsproc_bss_event* e) override { sink_ += e->score.bits(); }
  void dsproc_sd_event(const Hardware::DSProcSDEvent& e) override { sink_ += static_cast<unsigned>(e.sd); }
  void dsproc_tone_flt_event(const Hardware::dsproc_tone_event* e) override { sink_ += e->frequency + e->presence; }
  void dsproc_flags_event(const Hardware::dsproc_flags_event* e) override {
    sink_ += e->flags ^ e->mask;
    if (ts_ % 2 == 1) renew_dsp(ts_);
  }
  unsigned dsproc_timeslot() const override { return ts_; }
  static void renew_dsp(unsigned ts);

 private:
  unsigned ts_;
  uint64_t sink_ = 0;
};

void ToneSlot::renew_tone(unsigned ts) {
  g_tone[ts] = std::make_unique<ToneSlot>(ts);  // destroys the caller
  g_tone[ts]->enableDTMF(true);
}

void DspSlot::renew_dsp(unsigned ts) {
  g_dsp[ts] = std::make_unique<DspSlot>(ts);  // destroys the caller
  g_dsp[ts]->enableVAD(true);
  g_dsp[ts]->enableBSS(true);
  g_dsp[ts]->enableSD(true);
}

void setup() {
  fuzz::quiet_with_event_traces();
  for (unsigned ts = 0; ts < 4; ++ts) {
    ToneSlot::renew_tone(ts);
    DspSlot::renew_dsp(ts);
  }
  g_tone[2]->enableDTMF(false);
  g_tone[2]->enableIVA(true);
}

}  // namespace

// Input: chunks of [selector][length][bytes]; the selector's low bit picks the device, the
// length is cut to what is left. Each chunk is one record on that device, read at once.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = (setup(), true);
  (void)ready;
  auto& sim = board::sim::SimBoard::instance();
  auto* tone = Hardware::TonecReceiverService::instance();
  auto* dsp = Hardware::DSProcReceiverService::instance();
  fuzz::for_each_record(data, size, [&](uint8_t selector, std::span<const uint8_t> record) {
    // An empty record reads as the end of the device, which closes it: open it again.
    if (!tone->is_open()) tone->init();
    if (!dsp->is_open()) dsp->init();
    if (selector & 1) {
      sim.inject_raw(board::sim::Device::dsp, record);
      dsp->OnEvent(dsp->fd(), POLLIN);
    } else {
      sim.inject_raw(board::sim::Device::dtmf, record);
      tone->OnEvent(tone->fd(), POLLIN);
    }
  });
  return 0;
}
