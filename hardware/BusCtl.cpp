#include "hardware/BusCtl.h"

#include <fcntl.h>

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

BusCtl::~BusCtl() {
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
  if (!enabled_)
    Error(LGCP::ErrorCause::unsupported);
  else if (SetClockSrc(command.get_clockCfg()))
    Success();
  else
    Error(LGCP::ErrorCause::internal);
  return true;
}

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  enabled_ = false;
}

void BusCtl::SetDefaultClock() {
  LGCP::ClockCfg cfg;
  cfg.set_clkSel0(LGCP::ClkSel0::internal);
  cfg.set_bextEn(LGCP::BExtEn::disabled);
  cfg.set_source(-1);
  SetClockSrc(cfg);
}

bool BusCtl::IsOpen() {
  if (fd_ >= 0) return true;
  if (!enabled_) return false;
  fd_ = board::open(board::hal::kPath, O_RDWR | O_CLOEXEC);
  return fd_ >= 0;
}

bool BusCtl::SetClockSrc(LGCP::ClockCfg const& cfg) {
  if (!IsOpen()) {
    // Without the bus clock no line interface may drive the clock either.
    spiCtrl::instance()->clock(-1);
    std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
    return false;
  }
  std::cerr << ext::header(this) << "set clock source cmd: " << Notation(cfg) << std::endl;
  if (cfg.get_clkSel0().getValue() == LGCP::ClkSel0::internal) return DrvSetClkSrc(kFreeRun);
  if (cfg.get_bextEn().getValue() == LGCP::BExtEn::enabled) {
    const int source = cfg.get_source().getValue();
    return source < 0 || DrvSetClkSrc(source);
  }
  return DrvSetClkSrc(kX3);
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
    std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
    return false;
  }
  std::cerr << ext::header(this) << "clock source = ";
  PutSourceName(std::cerr, source);
  std::cerr << std::endl;
  return true;
}
