// The local authentication channel takes any byte stream from a local client: it must cut
// records without reading past its buffer or the record, and hand only whole records to the
// slots (a DSP modem slot of session 0 and an HDLC one of session -1), whatever their
// lengths, kinds, sessions and texts. Input: chunks, each a length octet and its bytes, as
// the client writes them.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>

#include "board/sim/SimBoard.h"
#include "control/CtrlSrvServer.h"
#include "slots/AuthClient.h"
#include "slots/ChildLauncher.h"
#include "slots/DspModemSlot.h"
#include "slots/HdlcModemSlot.h"
#include "slots/ModemFactory.h"
#include "slots/Slots.h"

namespace {

// Starts nothing: the slots believe their pppd runs.
class NoLauncher : public ChildLauncher {
 public:
  int Start(const std::vector<std::string>&, const Prelude&) override { return 77777; }
  int Kill(int, int) override { return 0; }
};

struct Setup {
  Setup() {
    std::cout.rdbuf(sink.rdbuf());
    std::cerr.rdbuf(sink.rdbuf());
    std::clog.rdbuf(sink.rdbuf());
    ctrlServer.Bind(Slots::instance());
    ChildLauncher::current = &launcher;
    board::sim::SimBoard::instance().netif().add("hdlc0", 300);
    factory = new ModemFactory(0);
    LGCP::CreateParams p;
    TERM::ModemParams& modem = p.select_modem();
    modem.set_cid("1");
    dsp = factory->NewSlot(p);
    dsp->IOnOutputStream();
    modem.include_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddm8BIT));
    hdlc = factory->NewSlot(p);
  }
  std::ostringstream sink;
  NoLauncher launcher;
  ModemFactory* factory;
  Slot* dsp;
  Slot* hdlc;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) < 0) return 0;
  auto* client = new AuthClient(Fd(sv[0]), INet4::Addr(), *setup.factory);
  setup.factory->clients.push_back(client);
  auto alive = [&] {
    return std::find(setup.factory->clients.begin(), setup.factory->clients.end(), client) != setup.factory->clients.end();
  };
  while (size > 0 && alive()) {
    const size_t n = std::min<size_t>(data[0], size - 1);
    if (n > 0 && ::write(sv[1], data + 1, n) < 0) break;
    data += 1 + n;
    size -= 1 + n;
    client->OnSocketEvent(client->fd.get(), POLLIN);
  }
  ::shutdown(sv[1], SHUT_WR);
  if (alive()) client->OnSocketEvent(client->fd.get(), POLLIN);
  if (alive()) __builtin_trap();  // end of stream must end the client
  ::close(sv[1]);
  if (setup.factory->modems.size() != 2) __builtin_trap();
  if (setup.sink.tellp() > (1 << 20)) setup.sink.str("");
  return 0;
}
