// The hardware services take driver records (CAS changes, trunk status words, SPI status
// registers) and controller commands with any integer in them: no sequence of those may crash
// a service, index past a table or shift past a word.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <vector>

#include "asn1/schemas/LGCP.h"
#include "board/sim/SimBoard.h"
#include "control/CtrlSrvServer.h"
#include "foundation/Multiplexer.h"
#include "foundation/Mux.h"
#include "hardware/BusCtl.h"
#include "hardware/E1Ctl.h"
#include "hardware/HwMux.h"
#include "hardware/HwTests.h"
#include "hardware/spiCtrl.h"

namespace {

using board::sim::Device;

// Lines about every refused request would drown the fuzzer's own output.
struct NullBuffer : std::streambuf {
  int overflow(int c) override { return c; }
};

// Built once; an input starts from whatever the inputs before it left, as the daemon would.
struct Services {
  Services() {
    std::cout.rdbuf(&sink);
    std::cerr.rdbuf(&sink);
    std::clog.rdbuf(&sink);
    // The loop's clock stands still: no timer or switch refresh runs on its own between the
    // steps of an input, so an input costs what its steps cost and replays alike.
    Mux::test_clock_set(1'000'000'000'000ull);
    HwMux::instance();
    server.Bind(&tests);
    server.Bind(&bus);
    server.Bind(&e1);
    server.Bind(&spi);
    // Encoded but sent nowhere: the answers and signals still go through the encoder.
    e1.OnConnect();
    spi.OnConnect();
  }
  NullBuffer sink;
  CtrlSrv::Server server;
  HwTests tests;
  BusCtl bus;
  E1Ctl e1;
  spiCtrl spi;
};

}  // namespace

// The services and the simulated board keep state from one input to the next by design, so
// libFuzzer's leak check after an input that allocated more than it freed finds growth that is
// no leak, and scanning the heap each time costs most of the run. Leaks are still looked for
// when the run ends; a -detect_leaks given on the command line still wins.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<char*> args(*argv, *argv + *argc);
  static char no_leak_check_per_input[] = "-detect_leaks=0";
  args.insert(args.begin() + 1, no_leak_check_per_input);
  args.push_back(nullptr);
  *argc += 1;
  *argv = args.data();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Services s;
  auto& sim = board::sim::SimBoard::instance();
  sim.fail_next(Device::hal, 0, 0);
  sim.fail_next(Device::maintenance, 0, 0);
  sim.fail_next(Device::e1cas, 0, 0);
  sim.state().spi_present = true;
  FuzzedDataProvider in(data, size);
  auto byte = [&] { return in.ConsumeIntegral<uint8_t>(); };
  auto word = [&] { return in.ConsumeIntegral<uint32_t>(); };
  while (in.remaining_bytes() > 0) {
    switch (byte() % 7) {
      case 0:  // a CAS record of any length
        sim.inject_raw(Device::e1cas, in.ConsumeBytes<uint8_t>(byte() % 24));
        multiplexer.run_once(0);
        break;
      case 1: {  // any trunk status words
        const uint32_t trunk = byte() % 4;
        board::sim::TrunkState t{word(), word(), word(), word(), word(), word()};
        sim.set_trunk_status(trunk, t);
        s.e1.OnCheckStatus(nullptr);
        break;
      }
      case 2: {  // any status register
        const uint8_t channel = byte() % 8;
        sim.state().spi[channel][spiCtrl::kRegStatus] = byte();
        s.spi.status();
        break;
      }
      case 3: {  // one controller frame
        const std::vector<uint8_t> frame = in.ConsumeBytes<uint8_t>(byte());
        s.server.OnMessage(reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size()));
        break;
      }
      case 4: {  // the next request of a device fails
        static const Device devices[] = {Device::hal, Device::maintenance, Device::e1cas};
        sim.fail_next(devices[byte() % 3], byte() % 2 ? EIO : ENODEV, 1);
        break;
      }
      case 5:  // the CAS or maintenance device goes away
        sim.hangup(byte() % 2 ? Device::e1cas : Device::maintenance);
        multiplexer.run_once(0);
        break;
      case 6:  // the controller leaves and comes back
        s.e1.OnDisconnect();
        s.bus.OnDisconnect();
        s.e1.OnConnect();
        s.bus.OnConnect();
        break;
    }
  }
  sim.clear_requests();  // nobody reads them; a small heap keeps the run fast
  return 0;
}
