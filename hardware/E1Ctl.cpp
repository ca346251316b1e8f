#include "hardware/E1Ctl.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "asn1/schemas/ACP.h"
#include "board/board.h"
#include "board/e1cas.h"
#include "board/maintenance.h"
#include "foundation/Hex.h"
#include "hardware/DevNames.h"

namespace {

namespace cas = board::e1cas;
namespace maint = board::maintenance;

// The timeslots that carry framing and the signalling multiframe, not a speech channel.
bool SignallingTimeslot(int timeslot) { return timeslot == 0 || timeslot == 16; }

// A channel's bit in a trunk's enabled set; none outside the trunk's 32 timeslots.
uint32_t ChannelBit(int timeslot) { return timeslot > 0 && timeslot < 32 ? uint32_t{1} << timeslot : 0; }

// The driver's state word as a trunk state; a word the enumeration lacks is "unknown".
ACP::TrunkState::NamedNumber TrunkStateOf(uint32_t word) {
  if (word > ACP::TrunkState::disabled) return ACP::TrunkState::unknown;
  return static_cast<ACP::TrunkState::NamedNumber>(word);
}

}  // namespace

E1Ctl* E1Ctl::instance() {
  static E1Ctl service;
  return &service;
}

E1Ctl::E1Ctl() { casEvent_.set_name("E1/Cas"); }

E1Ctl::~E1Ctl() {
  timer_.reset();
  casEvent_.Release();
  if (cas_) board::close(cas_.release());
  if (maintenance_ >= 0) board::close(maintenance_);
}

void E1Ctl::PutHeader(std::ostream& os) const { os << "E1: "; }

void E1Ctl::OnConnect() {
  SendStatus();
  timer_.set(kStatusPeriodMs, &E1Ctl::OnCheckStatus, this);
  // The new controller starts from an empty mask; a refused write is made on the status tick.
  tclk_ = 0;
  UpdateTclk(0);
  // Nothing a controller that left had open is handed to this one.
  CheckOpenCas();
  ReconcileCas();
}

void E1Ctl::OnDisconnect() {
  // What the controller had is nobody's now: its trunks are to be closed, now or, when the
  // board refuses, on the status tick. The clock mask stays as it is: slave trunks keep their
  // line clock between controllers, and the next controller starts from an empty mask.
  for (int trunk = 0; trunk < kTrunks; ++trunk) {
    const auto t = static_cast<size_t>(trunk);
    if (!casOpen_[t]) continue;
    casOpen_[t] = false;
    casEnabled_[t] = casChannelsConfirmed_[t] = casChannelTrouble_[t] = 0;
    casConfirmed_[t] = casTrouble_[t] = false;
  }
  ReconcileCas();
  for (int trunk = 0; trunk < kTrunks; ++trunk) {
    const auto t = static_cast<size_t>(trunk);
    if (casConfirmed_[t] || casTrouble_[t]) continue;
    std::cerr << ext::header(this) << "close cas signalling on trunk(" << trunk << ") - put off" << std::endl;
    casTrouble_[t] = true;
  }
}

bool E1Ctl::OnCommand(LGCP::Command const& command) {
  if (command.is_ioctl()) {
    const LGCP::IoctlParams& ioctl = command.get_ioctl();
    if (!ioctl.is_cas()) {
      Error(LGCP::ErrorCause::unsupported);
      return true;
    }
    switch (HandleCas(ioctl.get_cas())) {
      case CasResult::done: Success(); break;
      case CasResult::noDevice: Error(LGCP::ErrorCause::internal); break;
      case CasResult::invalid: Error(LGCP::ErrorCause::invalidParams); break;
    }
    return true;
  }
  if (command.is_trunkCfg()) {
    switch (SetMode(command.get_trunkCfg())) {
      case ModeResult::ok:
      case ModeResult::ignored: Success(); break;
      case ModeResult::invalid: Error(LGCP::ErrorCause::invalidParams); break;
      case ModeResult::failed: Error(LGCP::ErrorCause::internal); break;
    }
    return true;
  }
  return false;
}

void E1Ctl::OnCheckStatus(Timer*) {
  SendStatus();
  ReconcileTclk();
  ReconcileCas();
  timer_.set(kStatusPeriodMs, &E1Ctl::OnCheckStatus, this);
}

// ---------------------------------------------------------------- "/dev/maintenance"

bool E1Ctl::IsOpen() {
  if (maintenance_ >= 0) return true;
  maintenance_ = board::open(GetMaintenance(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return maintenance_ >= 0;
}

void E1Ctl::CheckMaintenanceError(int error) {
  if (!board::descriptor_gone(error)) return;
  board::close(maintenance_);
  maintenance_ = -1;
  // The driver may have been restarted with its default mask: the next descriptor is given ours.
  tclkConfirmed_ = false;
}

E1Ctl::ModeResult E1Ctl::SetMode(LGCP::TrunkCfg const& cfg) {
  const int trunk = cfg.get_trunk().getValue();
  if (trunk < 0) return ModeResult::ignored;
  // The mask has one bit per trunk; a larger number would shift past its width.
  if (trunk >= 32) return ModeResult::invalid;
  const uint32_t bit = uint32_t{1} << trunk;
  const bool slave = cfg.get_mode().getValue() == LGCP::TrunkMode::slave;
  return UpdateTclk(slave ? tclk_ | bit : tclk_ & ~bit) ? ModeResult::ok : ModeResult::failed;
}

bool E1Ctl::UpdateTclk(uint32_t mask) {
  // Whatever the board holds now, it is not known to be the kept mask until a write succeeds.
  tclkConfirmed_ = false;
  if (!IsOpen()) return false;
  return WriteTclk(mask, false);
}

// The status round has opened the device when it can be; a descriptor it gave up in this round
// is opened again at the next.
void E1Ctl::ReconcileTclk() {
  if (tclkConfirmed_ || maintenance_ < 0) return;
  WriteTclk(tclk_, true);
}

bool E1Ctl::WriteTclk(uint32_t mask, bool once) {
  if (board::ioctl_value(maintenance_, maint::SET_TCLK, mask) < 0) {
    const int error = errno;
    if (!once || !tclkTrouble_)
      std::cerr << ext::header(this) << "fail to set TCLK [cause=" << std::strerror(error) << "]" << std::endl;
    tclkTrouble_ = true;
    CheckMaintenanceError(error);
    return false;
  }
  tclk_ = mask;
  tclkConfirmed_ = true;
  tclkTrouble_ = false;
  std::clog << ext::header(this) << "TCLT = " << ext::OutUnsignedInHex(tclk_) << std::endl;
  return true;
}

void E1Ctl::SendStatus() {
  if (!IsOpen()) return;
  for (int trunk = 0; trunk < kTrunks; ++trunk) {
    maint::TrunkStatus r{};
    r.trunk = static_cast<uint32_t>(trunk);
    if (board::ioctl(maintenance_, maint::TRUNK_STATUS, &r) < 0) {
      const int error = errno;
      std::cerr << ext::header(this) << "synchronization status read fail, trunk = " << trunk
                << " cause = " << std::strerror(error) << std::endl;
      CheckMaintenanceError(error);
      if (maintenance_ < 0) return;
      continue;
    }
    LGCP::Signal signal;
    ACP::TrunkStatus& s = signal.select_trunkStatus();
    s.set_trunk(trunk);
    s.set_state(TrunkStateOf(r.state));
    // The driver's counters are unsigned words: sent whole, never negative.
    s.get_slips().setUnsigned(r.slips.get());
    s.get_lossBF().setUnsigned(r.loss_bf.get());
    s.get_lossCarrier().setUnsigned(r.loss_carrier.get());
    s.get_lossAIS().setUnsigned(r.ais.get());
    s.get_lossRAI().setUnsigned(r.rai.get());
    s.set_clockMaster(false);
    s.set_type(ACP::TrunkType::e1);
    SendSignal(signal);
  }
}

// ---------------------------------------------------------------- "/dev/e1-cas"

bool E1Ctl::CheckOpenCas() {
  if (cas_) return true;
  const int fd = board::open(cas::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  cas_.reset(fd);
  std::clog << ext::header(this) << "cas interface opened!" << std::endl;
  casEvent_.Bind<E1Ctl>("E1/Cas", &E1Ctl::OnUpdateCas, this);
  casEvent_.Schedule(cas_, POLLIN);
  if (casLost_) {
    // What the old descriptor held may be gone with it: the open trunks and their channels are
    // opened again, and their bits reported, since changes while the device was away were not.
    casLost_ = false;
    for (size_t t = 0; t < kTrunks; ++t) {
      if (!casOpen_[t]) continue;
      casConfirmed_[t] = false;
      casChannelsConfirmed_[t] = 0;
    }
    ReconcileCas();
  }
  return true;
}

void E1Ctl::ReleaseCas(const char* why) {
  std::cerr << ext::header(this) << "cas interface closed: " << why << std::endl;
  casEvent_.Release();
  board::close(cas_.release());
  // The trunks stay open for the controller: the next descriptor opens them again.
  casLost_ = true;
}

void E1Ctl::ReconcileCas() {
  if (casReconciling_) return;
  casReconciling_ = true;
  if (CheckOpenCas()) {
    for (int trunk = 0; trunk < kTrunks && cas_; ++trunk) ReconcileTrunk(trunk);
  }
  casReconciling_ = false;
}

int E1Ctl::SettleTrunk(int trunk) {
  if (casReconciling_ || !CheckOpenCas()) return -1;
  casReconciling_ = true;
  const int r = ReconcileTrunk(trunk);
  casReconciling_ = false;
  return r;
}

// Nothing is counted done without the board's word for it: a refused open or close leaves the
// trunk as wanted and unconfirmed, to be tried again; so does a refused channel.
int E1Ctl::ReconcileTrunk(int trunk) {
  const auto t = static_cast<size_t>(trunk);
  if (!casOpen_[t]) {
    if (casConfirmed_[t]) return 0;
    const int r = CasRequestValue(cas::CAS_CLOSE_TRUNK, static_cast<unsigned long>(trunk));
    if (r < 0) {
      if (!casTrouble_[t])
        std::cerr << ext::header(this) << "close cas signalling on trunk(" << trunk << ") - fail(" << r << ")"
                  << std::endl;
      casTrouble_[t] = true;
      return r;
    }
    std::clog << ext::header(this) << "close cas signalling on trunk(" << trunk << ") - ok" << std::endl;
    casConfirmed_[t] = true;
    casTrouble_[t] = false;
    return 0;
  }
  if (!casConfirmed_[t]) {
    const int r = CasRequestValue(cas::CAS_OPEN_TRUNK, static_cast<unsigned long>(trunk));
    if (r < 0) {
      if (!casTrouble_[t]) {
        std::cerr << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - fail(" << r << ")"
                  << std::endl;
        SendCASTrunkStatus(trunk, r);
      }
      casTrouble_[t] = true;
      return r;
    }
    std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - ok" << std::endl;
    // A trunk that was reported failing is reported back.
    if (casTrouble_[t]) SendCASTrunkStatus(trunk, kCasTrunkOpen);
    casConfirmed_[t] = true;
    casTrouble_[t] = false;
    casChannelsConfirmed_[t] = 0;
  }
  int result = 0;
  for (int timeslot = 1; timeslot < 32 && cas_; ++timeslot) {
    const uint32_t bit = uint32_t{1} << timeslot;
    if (!(casEnabled_[t] & bit) || (casChannelsConfirmed_[t] & bit)) continue;
    const int e = CasChannelRequest(trunk, timeslot, casTx_[t][static_cast<size_t>(timeslot)], false);
    if (e < 0) {
      if (!(casChannelTrouble_[t] & bit)) SendCASSignal(trunk, timeslot, e, 0);
      casChannelTrouble_[t] |= bit;
      result = e;
      continue;
    }
    casChannelsConfirmed_[t] |= bit;
    casChannelTrouble_[t] &= ~bit;
    ReportChannelBits(trunk, timeslot);
  }
  return result;
}

void E1Ctl::OnUpdateCas(int fd, short revents) {
  if (revents & POLLIN) {
    cas::CasChannel r;
    const ssize_t n = ::read(fd, &r, sizeof r);
    if (n == static_cast<ssize_t>(sizeof r)) {
      SendCASSignal(static_cast<int>(r.trunk.get()), static_cast<int>(r.timeslot.get()), r.rx, r.tx);
      return;
    }
    if (n > 0) {
      std::cerr << ext::header(this) << "short cas record dropped (" << n << " bytes)" << std::endl;
      return;
    }
    if (n == 0) {
      ReleaseCas("end of file");
      return;
    }
    const int error = errno;
    if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
      ReleaseCas(std::strerror(error));
      return;
    }
  }
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) ReleaseCas("device hung up");
}

void E1Ctl::SendCASSignal(int trunk, int timeslot, int rx, int tx) {
  LGCP::Signal signal;
  LGCP::CasSignalling& s = signal.select_cas();
  s.get_channel().set_path(trunk);
  s.get_channel().set_timeslot(timeslot);
  s.set_rx(rx);
  s.set_tx(tx);
  SendSignal(signal);
}

E1Ctl::CasResult E1Ctl::HandleCas(LGCP::CasCommand const& command) {
  if (!CheckOpenCas()) return CasResult::noDevice;
  const int trunk = command.get_channel().get_path().getValue();
  const int timeslot = command.get_channel().get_timeslot().getValue();
  const LGCP::CasCommandSignal& cmd = command.get_cmd();
  if (cmd.is_open()) return HandleCasOpen(trunk, timeslot, cmd.get_open().getValue());
  if (cmd.is_set()) return HandleCasOpen(trunk, timeslot, cmd.get_set().getValue());
  if (cmd.is_close()) return HandleCasClose(trunk, timeslot);
  if (cmd.is_get()) return HandleCasGet(trunk, timeslot);
  return CasResult::invalid;
}

template <typename Call>
int E1Ctl::CasRetry(Call call) {
  if (!CheckOpenCas()) return -1;
  const int r = call(cas_.get());
  if (r >= 0 || !board::descriptor_gone(errno)) return r;
  // The driver gave this descriptor up before the loop saw it go. While reconciling, it is
  // given up and the next tick opens a new one; otherwise one more try on a new one.
  ReleaseCas(std::strerror(errno));
  if (casReconciling_) return r;
  if (!CheckOpenCas()) return -1;
  return call(cas_.get());
}

int E1Ctl::CasRequest(uint32_t number, void* arg) {
  return CasRetry([&](int fd) { return board::ioctl(fd, number, arg); });
}

int E1Ctl::CasRequestValue(uint32_t number, unsigned long value) {
  return CasRetry([&](int fd) { return board::ioctl_value(fd, number, value); });
}

int E1Ctl::CasChannelRequest(int trunk, int timeslot, int bits, bool disable) {
  cas::CasEnable e;
  e.channel.trunk = static_cast<uint32_t>(trunk);
  e.channel.timeslot = static_cast<uint32_t>(timeslot);
  e.channel.tx = static_cast<uint8_t>(bits & 0x0F);
  e.disable = disable ? 1 : 0;
  return CasRequest(cas::CAS_ENABLE, &e);
}

void E1Ctl::ReportChannelBits(int trunk, int timeslot) {
  cas::CasChannel r;
  r.trunk = static_cast<uint32_t>(trunk);
  r.timeslot = static_cast<uint32_t>(timeslot);
  const int result = CasRequest(cas::CAS_GET, &r);
  if (result < 0)
    SendCASSignal(trunk, timeslot, result, 0);
  else
    SendCASSignal(trunk, timeslot, r.rx, r.tx);
}

E1Ctl::CasResult E1Ctl::HandleCasOpen(int trunk, int timeslot, int bits) {
  if (!ValidTrunk(trunk)) return CasResult::invalid;
  const auto t = static_cast<size_t>(trunk);
  // A close owed by a controller that left is carried out first (what it kept enabled is not
  // handed to this one), and an open trunk the board has not confirmed is opened again; the
  // open fails while that is refused.
  if (!cas_confirmed(trunk)) {
    const int r = SettleTrunk(trunk);
    if (!casConfirmed_[t]) {
      SendCASTrunkStatus(trunk, r < 0 ? r : -1);
      std::cerr << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - fail(" << (r < 0 ? r : -1)
                << ")" << std::endl;
      return CasResult::done;
    }
  }
  if (!casOpen_[t]) {
    const int r = CasRequestValue(cas::CAS_OPEN_TRUNK, static_cast<unsigned long>(trunk));
    SendCASTrunkStatus(trunk, r);
    if (r < 0) {
      std::cerr << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - fail(" << r << ")"
                << std::endl;
      return CasResult::done;
    }
    std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - ok" << std::endl;
    casOpen_[t] = true;
    casConfirmed_[t] = true;
    casTrouble_[t] = false;
    casEnabled_[t] = casChannelsConfirmed_[t] = casChannelTrouble_[t] = 0;
  } else {
    SendCASTrunkStatus(trunk, kCasTrunkOpen);
  }
  if (SignallingTimeslot(timeslot)) return CasResult::done;
  const int r = CasChannelRequest(trunk, timeslot, bits, false);
  if (r < 0) {
    SendCASSignal(trunk, timeslot, r, 0);
    return CasResult::done;
  }
  if (const uint32_t bit = ChannelBit(timeslot)) {
    casEnabled_[t] |= bit;
    casChannelsConfirmed_[t] |= bit;
    casChannelTrouble_[t] &= ~bit;
    casTx_[t][static_cast<size_t>(timeslot)] = static_cast<uint8_t>(bits & 0x0F);
  }
  ReportChannelBits(trunk, timeslot);
  return CasResult::done;
}

E1Ctl::CasResult E1Ctl::HandleCasClose(int trunk, int timeslot) {
  if (!cas_open(trunk)) return CasResult::invalid;
  const auto t = static_cast<size_t>(trunk);
  if (timeslot == 0) {
    int r = CasRequestValue(cas::CAS_CLOSE_TRUNK, static_cast<unsigned long>(trunk));
    if (r == 0) r = kCasTrunkClosed;
    SendCASTrunkStatus(trunk, r);
    if (r >= 0) {
      casOpen_[t] = false;
      casConfirmed_[t] = true;
      casTrouble_[t] = false;
      casEnabled_[t] = casChannelsConfirmed_[t] = casChannelTrouble_[t] = 0;
    }
    return CasResult::done;
  }
  if (SignallingTimeslot(timeslot)) return CasResult::invalid;
  // The trunk is brought up to date first, so that the close meets the board's channel. The
  // disable goes to the driver whatever the daemon holds, and its answer to the controller.
  const uint32_t bit = ChannelBit(timeslot);
  if (!cas_confirmed(trunk)) SettleTrunk(trunk);
  const int r = CasChannelRequest(trunk, timeslot, 0, true);
  if (r < 0) SendCASSignal(trunk, timeslot, r, 0);
  // Judged after the request, which may have met a lost descriptor and opened the device anew.
  // A timeslot outside the channels the daemon keeps is the driver's to judge.
  const bool held = bit == 0 || (casConfirmed_[t] && (casChannelsConfirmed_[t] & bit));
  // A refused close leaves a channel the board holds as it is. One it does not hold (the trunk
  // not back yet, or the channel not enabled since it came back) is off there already: it is
  // wanted off too, so that no reconcile enables it again.
  if (r < 0 && held) return CasResult::done;
  casEnabled_[t] &= ~bit;
  casChannelsConfirmed_[t] &= ~bit;
  casChannelTrouble_[t] &= ~bit;
  if (r >= 0) SendCASSignal(trunk, timeslot, -1, 1);
  return CasResult::done;
}

E1Ctl::CasResult E1Ctl::HandleCasGet(int trunk, int timeslot) {
  if (!cas_open(trunk)) return CasResult::invalid;
  ReportChannelBits(trunk, timeslot);
  return CasResult::done;
}
