// Byte streams from a local client of the authentication channel, written in chunks: it must
// cut records without reading past its buffer or the record, and hand only whole records to
// the slots (a DSP modem slot of session 0 and an HDLC one of session -1).
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "board/sim/SimBoard.h"
#include "control/CtrlSrvServer.h"
#include "slots/AuthClient.h"
#include "slots/ChildLauncher.h"
#include "slots/ModemFactory.h"
#include "slots/Slot.h"
#include "slots/Slots.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Starts nothing: the slots believe their pppd runs.
struct NoLauncher : ChildLauncher {
  int Start(const std::vector<std::string>&, const Prelude&) override { return 77777; }
  int Kill(int, int) override { return 0; }
};

struct Setup {
  Setup() {
    fuzz::quiet();
    ctrlServer.Bind(Slots::instance());
    ChildLauncher::current = &launcher;
    board::sim::SimBoard::instance().netif().add("hdlc0", 300);
    LGCP::CreateParams p;
    TERM::ModemParams& modem = p.select_modem();
    modem.set_cid("1");
    factory->NewSlot(p)->IOnOutputStream();
    modem.include_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddm8BIT));
    factory->NewSlot(p);
  }
  NoLauncher launcher;
  ModemFactory* factory = new ModemFactory(0);
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup setup;
  auto& clients = setup.factory->clients;
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) < 0) return 0;
  auto* client = new AuthClient(Fd(sv[0]), INet4::Addr(), *setup.factory);
  clients.push_back(client);
  auto alive = [&] { return std::find(clients.begin(), clients.end(), client) != clients.end(); };
  fuzz::for_each_chunk(data, size, [&](std::span<const uint8_t> chunk) {
    if (!alive() || (!chunk.empty() && ::write(sv[1], chunk.data(), chunk.size()) < 0)) return false;
    client->OnSocketEvent(client->fd.get(), POLLIN);
    return true;
  });
  ::shutdown(sv[1], SHUT_WR);
  if (alive()) client->OnSocketEvent(client->fd.get(), POLLIN);
  fuzz::require(!alive());  // end of stream must end the client
  ::close(sv[1]);
  fuzz::require(setup.factory->modems.size() == 2);
  return 0;
}
