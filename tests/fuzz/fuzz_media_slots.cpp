// What the media slots take from outside (controller frames, MCC channel frames, driver and
// engine reports, phrase names and hosts); after every step the slot table and mixers agree.
#include "board/sim/SimBoard.h"
#include "control/CtrlSrvServer.h"
#include "slots/EchoFactory.h"
#include "slots/ExtFactory.h"
#include "slots/MccFactory.h"
#include "slots/MccSlot.h"
#include "slots/Mixer.h"
#include "slots/MixerFactory.h"
#include "slots/MixerSlot.h"
#include "slots/Slots.h"
#include "slots/T38SoftFactory.h"
#include "slots/VoiceFactory.h"
#include "slots/VoiceSlot.h"
#include "tests/fuzz/DeviceRecords.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TestClock.h"

namespace {

struct Setup {
  Setup() {
    fuzz::quiet_with_event_traces();
    ctrlServer.Bind(Slots::instance());
  }
  // A still clock: nothing (the switch's background refresh among them) falls due by itself.
  vxtest::TestClock clock;
  Mixer::MixerFactory mixer;
  ExtFactory ext;
  MccFactory mcc;
  EchoFactory echo;
};

int32_t word(std::span<const uint8_t> r, size_t at) {
  uint32_t v = 0;
  for (size_t i = at; i < at + 4; ++i) v = (v << 8) | (i < r.size() ? r[i] : 0);
  return static_cast<int32_t>(v);
}

void check(const Setup& setup) {
  const auto& live = Slots::instance()->Live();
  for (Mixer::Mixer* m : setup.mixer.mixers) {
    fuzz::require(!m->stale);
    for (Mixer::MixerSlot* port : m->slots) fuzz::require(port->mixer == m && fuzz::has(live, port));
  }
  for (Slot* s : live)
    if (auto* port = dynamic_cast<Mixer::MixerSlot*>(s)) fuzz::require(fuzz::has(port->mixer->slots, port));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  auto& sim = board::sim::SimBoard::instance();
  Slots& slots = *Slots::instance();
  fuzz::for_each_record(data, size, [&](uint8_t selector, std::span<const uint8_t> r) {
    switch (selector % 6) {
      case 0:  // one controller frame
        ctrlServer.OnMessage(reinterpret_cast<const char*>(r.data()), static_cast<int>(r.size()));
        break;
      case 1: {  // a frame on the channel of one MCC slot
        std::vector<MccSlot*> mccs;
        for (Slot* s : slots.Live())
          if (auto* m = dynamic_cast<MccSlot*>(s)) mccs.push_back(m);
        if (mccs.empty() || r.empty()) break;
        sim.hdlc_frame(mccs[r[0] % mccs.size()]->timeslot, r.subspan(1));
        multiplexer.run_once(0);
        break;
      }
      case 2: {  // a mixer unit as the driver reports it, or its end; then a resource query
        auto& units = sim.state().mixer.units;
        const int32_t unit = r.empty() ? 0 : r[0] % 8;
        if (r.size() < 9) units.erase(unit);
        else units[unit] = board::sim::MixerUnit{word(r, 1) % 80, word(r, 5), {}};
        slots.UpdateHardwareResources();
        break;
      }
      case 3: {  // the echo buses marked present; then a resource query
        const uint32_t mask = static_cast<uint32_t>(word(r, 0));
        for (unsigned bus = 0; bus < EchoFactory::kBuses; ++bus) setup.echo.present[bus] = (mask >> bus) & 1;
        slots.UpdateHardwareResources();
        break;
      }
      case 4: {  // the T.38 engine's reply line
        const std::string line(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(r.size(), 31)));
        fuzz::require(T38SoftFactory::ParseInstances(line.c_str()) >= 0);
        break;
      }
      case 5: {  // a phrase name and a host
        const std::string text(r.begin(), r.end());
        const bool escapes = text.empty() || text[0] == '/' || text == ".." || text.rfind("../", 0) == 0;
        fuzz::require(!(PlaySlotFile::SafeName(text) && escapes));
        TERM::HostAddress host;
        host.set_iaddr(text);
        host.set_port(r.empty() ? 0 : r[0]);
        VoiceFactory::ValidHost(host);
        break;
      }
    }
    check(setup);
  });
  slots.OnDisconnect();
  while (!slots.Pending().empty()) slots.int_destroy(slots.Pending().front());
  fuzz::require(slots.Live().empty());
  sim.state().mixer = board::sim::SimMixer{};
  setup.echo.present.fill(false);
  // Deferred work, closed channels and the request log go with the input: no leak scan.
  multiplexer.run_once(0);
  sim.open_count(board::sim::Device::mcc);
  sim.clear_requests();
  return 0;
}
