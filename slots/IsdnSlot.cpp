#include "slots/IsdnSlot.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "board/board.h"
#include "board/dspdata.h"
#include "board/mcc.h"
#include "hardware/SwitchModel.h"
#include "hardware/SwitchRoutes.h"
#include "foundation/Hex.h"
#include "foundation/Traces.h"
#include "slots/IsdnFactory.h"
#include "slots/LinkMessages.h"

IsdnSlot::IsdnSlot(ISDN::LAPD* link) : lapd(link) {
  lapd->notify = this;
  lapd->device = this;
  add_protocol_tail(lapd);
}

IsdnSlot::IsdnSlot(Fd fd, ISDN::LAPD* link) : IsdnSlot(link) {
  channel = board::ioctl(fd.get(), board::mcc::MCC_TIMESLOT, nullptr);
  watch(fd, "IsdnSlot::OnEvent");
}

IsdnSlot::~IsdnSlot() {
  // The link may still try to send while the family deletes it; the descriptor goes first,
  // but a duplicate keeps the channel from the next slot while a route of it stands.
  close_holding_routes();
}

void IsdnSlot::close_holding_routes() {
  const int held = !routes_released && is_open() ? ::fcntl(event.fd(), F_DUPFD_CLOEXEC, 0) : -1;
  event.Release();
  release_routes(held);
}

std::vector<int> IsdnSlot::ChannelsWithDescriptor() const { return {}; }

void IsdnSlot::release_routes(int held) {
  if (routes_released) {
    if (held >= 0) board::close(held);
    return;
  }
  routes_released = true;
  SwitchRoutes::release(channel, held, false, ChannelsWithDescriptor());
}

void IsdnSlot::watch(Fd const& fd, const char* name) {
  event.Bind(name, &IsdnSlot::OnEvent, this);
  event.Schedule(fd, POLLIN | POLLOUT);
  ready = false;
}

void IsdnSlot::PutHeader(std::ostream& os) const { os << "isdn-slot[" << channel << "]: "; }

// Success only when the link has a channel to run on: a slot that lost its channel asks for
// a new one first.
bool IsdnSlot::IActivate(TERM::TermActivateParams const&) {
  if (!HoldChannel()) return false;
  activate();
  return true;
}

// The loss took the slot's paths down with its channel: the controller connects the new one
// anew, and the B channels of an ATS-QSIG slot are opened anew beside it.
bool IsdnSlot::HoldChannel() {
  if (!channelLost) return is_open();
  int next = -1;
  Fd fd = OpenChannel(next);
  if (!fd) return false;
  event.Release();
  Rewatch(fd);
  if (!is_open()) {
    std::cerr << ext::header(this) << "watch fail: " << std::strerror(errno) << std::endl;
    return false;
  }
  channel = next;
  channelLost = false;
  routes_released = false;
  std::clog << ext::header(this) << "new channel" << std::endl;
  // The streams that went with the lost channel are back, on the new one.
  if (std::exchange(inputLost, false)) OnChangeInputStream(true);
  if (std::exchange(outputLost, false)) OnChangeOutputStream(true);
  return true;
}

Fd IsdnSlot::OpenChannel(int& next) {
  auto* isdn = dynamic_cast<IsdnFactory*>(factory);
  if (!isdn) return Fd();
  Fd fd = isdn->OpenMccChannel(lapd->is_bri());
  if (!fd) return fd;
  next = board::ioctl(fd.get(), board::mcc::MCC_TIMESLOT, nullptr);
  if (next < 0) {
    std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << std::strerror(errno) << std::endl;
    return Fd();
  }
  return fd;
}

void IsdnSlot::Rewatch(Fd const& fd) { watch(fd, "IsdnSlot::OnEvent"); }

bool IsdnSlot::IDeactivate() {
  deactivate();
  return true;
}

bool IsdnSlot::IUserData(std::vector<char> const& data) { return SendDown(*this, data); }

void IsdnSlot::on_message(Packet& p) { OnUserData(BytesOf(p)); }

void IsdnSlot::on_activated(Protocol*) {
  UpdateISDN_Statistics();
  OnActivated();
}

void IsdnSlot::on_deactivated(Protocol*, Protocol_status) {
  UpdateISDN_Statistics();
  OnDeactivated();
}

void IsdnSlot::UpdateISDN_Statistics() {
  LGCP::IoctlResponse r;
  if (IsdnLinkInfo(*lapd, r)) OnIoctlResponse(r);
}

bool IsdnSlot::hdlc_transmit(Packet& frame) {
  if (frame.length() == 0) return true;
  if (!is_open()) return false;
  for (;;) {
    ssize_t n = ::write(event.fd(), frame.data(), frame.length());
    if (n >= 0) {
      if (traces.signalling_isdn()) std::clog << ext::header(this) << ": tx " << frame.text() << std::endl;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      ready = false;
      event.set_events(POLLIN | POLLOUT);
    }
    return false;
  }
}

void IsdnSlot::OnEvent(int, short revents) {
  if (revents & POLLIN) {
    Packet p;
    p.reserve_head(0);
    ssize_t n;
    do {
      n = ::read(event.fd(), p.tail(), p.tailroom());
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
      p.put(static_cast<unsigned>(n));
      if (traces.signalling_isdn()) std::clog << ext::header(this) << ": rx " << p.text() << std::endl;
      receive(p);
      return;
    }
    if (n == 0) return lost_channel("end of file");
    if (errno != EAGAIN && errno != EWOULDBLOCK) return lost_channel(std::strerror(errno));
  }
  if (revents & (POLLHUP | POLLERR)) return lost_channel(revents & POLLERR ? "error" : "hang-up");
  if ((revents & POLLOUT) && !ready) {
    ready = true;
    event.set_events(POLLIN);
    lapd->on_hdlc_ready();
  }
}

void IsdnSlot::lost_channel(const char* why) {
  std::cerr << ext::header(this) << "channel lost: " << why << std::endl;
  LoseChannel();
  // The connections the controller made went with the channel: it hears its streams go, and
  // come back with the next channel (HoldChannel), so that it connects that one.
  inputLost = inputActive;
  outputLost = outputActive;
  OnChangeInputStream(false);
  OnChangeOutputStream(false);
  // A descriptor the board hung up keeps nothing; the book lets it go at once.
  close_holding_routes();
  ready = false;
  // The link goes out of service now rather than after its timers, and the controller hears
  // it go.
  lapd->on_hdlc_error(HDLC::Notify::Cause::read_error);
}

// ---------------------------------------------------------------- ATS-QSIG

AtsQsigSlot::AtsQsigSlot(Fd fd, int signalling, ISDN::LAPD* link) : IsdnSlot(link) {
  channel = signalling;
  event.Bind("AtsQsigSlot::OnEvent", &AtsQsigSlot::OnAtsEvent, this);
  event.Schedule(fd, POLLIN | POLLOUT);
  ready = false;
}

// Here, while it still knows its B channels (a slot deleted without the destroy protocol).
AtsQsigSlot::~AtsQsigSlot() { close_holding_routes(); }

Fd AtsQsigSlot::OpenChannel(int& next) {
  auto* isdn = dynamic_cast<IsdnFactory*>(factory);
  if (!isdn) return Fd();
  Fd fd = isdn->OpenDspDataChannel(next);
  if (!fd) return fd;
  // The closes owed on the lost descriptor went with it.
  unclosed.clear();
  closeRetry.reset();
  lapd->id = static_cast<uint32_t>(next);
  return fd;
}

void AtsQsigSlot::Rewatch(Fd const& fd) {
  event.Bind("AtsQsigSlot::OnEvent", &AtsQsigSlot::OnAtsEvent, this);
  event.Schedule(fd, POLLIN | POLLOUT);
  ready = false;
}

bool AtsQsigSlot::IBeforeDestroy() {
  OrphanBChannels();
  close_holding_routes();
  return true;
}

std::vector<int> AtsQsigSlot::ChannelsWithDescriptor() const {
  std::vector<int> open;
  for (const Unclosed& u : unclosed) open.push_back(u.channel);
  if (auto* isdn = dynamic_cast<IsdnFactory*>(factory))
    for (Slot* s : isdn->slots)
      if (auto* b = dynamic_cast<AtsQsigBSlot*>(s); b && b->signalling == number) open.push_back(b->channel);
  return open;
}

void AtsQsigSlot::OrphanBChannels() {
  auto* isdn = dynamic_cast<IsdnFactory*>(factory);
  if (!isdn) return;
  // Losing a channel changes no factory list, but a copy keeps the walk safe whatever the
  // slots' signals set off.
  const std::vector<Slot*> made = isdn->slots;
  for (Slot* s : made)
    if (auto* b = dynamic_cast<AtsQsigBSlot*>(s); b && b->signalling == number) b->LoseChannel();
}

Slot* AtsQsigSlot::NewBChannel(unsigned b) {
  // A channel whose close was refused is still open on the board: it goes first, so that the
  // open can have it.
  RetryCloses();
  board::dspdata::BChannel r;
  r.index = b;
  r.channel = -1;
  if (board::ioctl(event.fd(), board::dspdata::DSPDATA_OPEN_B, &r) < 0) {
    std::cerr << "ats-qsig: " << "add B channel fail !!!" << std::endl;
    return nullptr;
  }
  // A route of the channel's earlier owner still stands: the channel stays open, unused, and
  // is closed once the route is down.
  if (!SwitchRoutes::free_for_new_owner(r.channel)) {
    std::cerr << "ats-qsig: " << "B channel " << b << " (" << r.channel << ") still routed" << std::endl;
    OweClose(b, r.channel);
    return nullptr;
  }
  return new AtsQsigBSlot(number, b, r.channel);
}

void AtsQsigSlot::CloseBChannel(uint32_t b, int bchannel) {
  // Every route into or out of the B channel goes now, another's grace included; one the
  // switch refused keeps the channel open until it is down, so that the next B slot given the
  // number hears nothing of the old call.
  if (!SwitchRoutes::give_up(bchannel, -1)) return OweClose(b, bchannel);
  board::dspdata::BChannel r;
  r.index = b;
  r.channel = bchannel;
  if (board::ioctl(event.fd(), board::dspdata::DSPDATA_CLOSE_B, &r) >= 0) return;
  const int error = errno;
  std::cerr << "ats-qsig: " << "close B channel " << b << " (" << bchannel << ") fail: " << std::strerror(error)
            << ", closing again" << std::endl;
  OweClose(b, bchannel);
}

void AtsQsigSlot::OweClose(uint32_t b, int bchannel) {
  unclosed.push_back({b, bchannel});
  if (closeRetry.is_set()) return;
  closeRetryMs = kCloseRetryMs;
  closeRetry.set(closeRetryMs, &AtsQsigSlot::OnCloseRetry, this);
}

bool AtsQsigSlot::RetryCloses() {
  // Once the signalling channel is gone, so are its B channels: a descriptor the slot gave up
  // went to the route book with them, which keeps it until none of their routes stands.
  if (!is_open()) unclosed.clear();
  std::erase_if(unclosed, [this](const Unclosed& u) {
    if (SwitchModel::route_uses(u.channel)) return false;
    board::dspdata::BChannel r;
    r.index = u.b;
    r.channel = u.channel;
    return board::ioctl(event.fd(), board::dspdata::DSPDATA_CLOSE_B, &r) >= 0;
  });
  if (unclosed.empty()) closeRetry.reset();
  return unclosed.empty();
}

void AtsQsigSlot::OnCloseRetry() {
  if (RetryCloses()) return;
  closeRetryMs = std::min(closeRetryMs * 2, kCloseRetryMaxMs);
  closeRetry.set(closeRetryMs, &AtsQsigSlot::OnCloseRetry, this);
}

void AtsQsigBSlot::PutHeader(std::ostream& os) const { os << "ats-qsig-b: "; }

bool AtsQsigBSlot::IBeforeDestroy() {
  // Its signalling slot's end closed the channel; the number may be another B slot's now.
  if (channelLost) return true;
  auto* isdn = dynamic_cast<IsdnFactory*>(factory);
  Slot* s = isdn ? isdn->FindSlot(signalling) : nullptr;
  if (!s) {
    std::clog << ext::header(this) << "Can't find signalling slot" << std::endl;
    return true;
  }
  if (auto* ats = dynamic_cast<AtsQsigSlot*>(s); ats && ats->is_open()) ats->CloseBChannel(b, channel);
  return true;
}
