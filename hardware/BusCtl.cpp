#include "hardware/BusCtl.h"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <iostream>
#include <iterator>
#include <string>

#include "asn1/CoderEnv.h"
#include "board/board.h"
#include "board/hal.h"
#include "foundation/Hex.h"
#include "hardware/spiCtrl.h"

namespace {

const char* const getclksrc_text[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
constexpr int kSourceNames = static_cast<int>(std::size(getclksrc_text));

std::string Notation(const ASN1::AbstractData& value) {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::avn);
  std::string text;
  ASN1::encode(value, &env, std::back_inserter(text));
  return text;
}

}  // namespace

BusCtl* BusCtl::instance() {
  static BusCtl service;
  return &service;
}

BusCtl::BusCtl() { watch_.Bind("BusCtl::OnDeviceEvent", &BusCtl::OnDeviceEvent, this); }

BusCtl::~BusCtl() {
  retry_.reset();
  watch_.Release();
  if (fd_ >= 0) board::close(fd_);
}

void BusCtl::PutHeader(std::ostream& os) const { os << "clkctl: "; }

void BusCtl::PutSourceName(std::ostream& os, int source) {
  if (source >= 0 && source < kSourceNames)
    os << getclksrc_text[source];
  else
    os << source;
}

void BusCtl::OnConnect() {
  if (enabled_) SetDefaultClock();
}

void BusCtl::OnDisconnect() {
  if (enabled_) SetDefaultClock();
}

bool BusCtl::OnCommand(LGCP::Command const& command) {
  if (!command.is_clockCfg()) return false;
  if (!enabled_) {
    Error(LGCP::ErrorCause::unsupported);
    return true;
  }
  // Every command's outcome is logged, whatever the retries logged before it.
  logged_ = Failure::none;
  const LGCP::ClockCfg& cfg = command.get_clockCfg();
  if (SetClockSrc(cfg)) {
    if (SourceOf(cfg) >= 0) wanted_ = SourceOf(cfg);
    Success();
  } else {
    Error(LGCP::ErrorCause::internal);
  }
  // A refusal leaves the source wanted before, which a reopen on the way may have left owed.
  Reconcile();
  return true;
}

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  enabled_ = false;
  wanted_ = -1;
  retry_.reset();
}

void BusCtl::SetDefaultClock() {
  LGCP::ClockCfg cfg;
  cfg.set_clkSel0(LGCP::ClkSel0::internal);
  cfg.set_bextEn(LGCP::BExtEn::disabled);
  cfg.set_source(-1);
  // Wanted whether or not the device takes it now: a controller's leaving must not leave the
  // board on its source.
  if (wanted_ != kFreeRun) logged_ = Failure::none;
  wanted_ = kFreeRun;
  retry_.reset();
  retry_ms_ = 0;
  SetClockSrc(cfg);
  Reconcile();
}

bool BusCtl::IsOpen() {
  if (fd_ >= 0) return true;
  if (!enabled_) return false;
  fd_ = board::open(board::hal::kPath, O_RDWR | O_CLOEXEC);
  if (fd_ < 0) return false;
  // A new descriptor: what the device holds is unknown until it takes a source on it.
  confirmed_ = -1;
  // Only hang-up and errors are asked for: a driver without poll reports neither.
  Fd device(fd_);
  watch_.Schedule(device, 0);
  device.release();
  return true;
}

int BusCtl::SourceOf(LGCP::ClockCfg const& cfg) {
  if (cfg.get_clkSel0().getValue() == LGCP::ClkSel0::internal) return kFreeRun;
  if (cfg.get_bextEn().getValue() == LGCP::BExtEn::enabled) {
    const int source = cfg.get_source().getValue();
    return source < 0 ? -1 : source;
  }
  return kX3;
}

bool BusCtl::SetClockSrc(LGCP::ClockCfg const& cfg) {
  if (!IsOpen()) {
    Failed(Failure::open);
    return false;
  }
  std::cerr << ext::header(this) << "set clock source cmd: " << Notation(cfg) << std::endl;
  const int source = SourceOf(cfg);
  return source < 0 || DrvSetClkSrc(source);
}

bool BusCtl::DrvSetClkSrc(int source) {
  if (fd_ < 0) {
    std::cerr << ext::header(this) << "device open error" << std::endl;
    return false;
  }
  board::hal::ClockSource r;
  r.source = source;
  // A descriptor the driver gave up (the device was reset): once more on a new one.
  if (board::ioctl_reopening(fd_, board::hal::HW_CLOCK_SELECT, &r, [this] { return IsOpen(); }) < 0) {
    if (fd_ < 0) watch_.Release();
    Failed(Failure::request);
    return false;
  }
  confirmed_ = source;
  logged_ = Failure::none;
  std::cerr << ext::header(this) << "clock source = ";
  PutSourceName(std::cerr, source);
  std::cerr << std::endl;
  return true;
}

void BusCtl::Failed(Failure failure) {
  if (logged_ == failure) return;
  logged_ = failure;
  if (failure == Failure::request) {
    std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
    return;
  }
  // Without the bus clock no line interface may drive the clock either.
  spiCtrl::instance()->clock(-1);
  std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
}

void BusCtl::Reconcile() {
  if (!owed()) {
    retry_.reset();
    retry_ms_ = 0;
    return;
  }
  if (retry_.is_set()) return;
  retry_ms_ = retry_ms_ == 0 ? kRetryFirstMs : std::min(2 * retry_ms_, kRetryLastMs);
  retry_.set(retry_ms_, &BusCtl::OnRetry, this);
}

void BusCtl::OnRetry() {
  if (owed()) {
    if (IsOpen())
      DrvSetClkSrc(wanted_);
    else
      Failed(Failure::open);
  }
  Reconcile();
}

void BusCtl::Drop() {
  watch_.Release();
  if (fd_ >= 0) board::close(fd_);
  fd_ = -1;
  confirmed_ = -1;
}

void BusCtl::OnDeviceEvent(int, short revents) {
  if (!(revents & (POLLHUP | POLLERR | POLLNVAL))) return;
  Drop();
  if (!owed()) return;
  // The device is back at once after a reset: no wait for the retry.
  retry_.reset();
  retry_ms_ = 0;
  OnRetry();
}
