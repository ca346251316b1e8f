#include "slots/DspModemSlot.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>

#include "board/board.h"
#include "board/mctl.h"
#include "hardware/SwitchRoutes.h"
#include "slots/ChildLauncher.h"
#include "slots/ModemFactory.h"

namespace mctl = board::mctl;

DspModemSlot::~DspModemSlot() {
  // A slot deleted without the destroy protocol (controller lost) still leaves the lists.
  unbind();
  // The modem, and with it its timeslot, stays allocated until no route of the timeslot
  // stands; a modem the board took back was closed already.
  deviceEvent.Release();
  HandOverChannel(timeslot, device);
}

void DspModemSlot::unbind() {
  if (!bound) return;
  bound = false;
  if (owner) owner->ReleaseModemSlot(this);
}

bool DspModemSlot::Control(int fd, uint32_t request, void* block, const char* what) {
  if (board::ioctl(fd, request, block) >= 0) return true;
  const int e = errno;
  std::cerr << *this << what << std::strerror(e) << std::endl;
  errno = e;
  return false;
}

namespace {

uint32_t ddm_flags(const ASN1::SEQUENCE_OF<TERM::DigitalDataModeEnum>& modes) {
  uint32_t flags = 0;
  for (const auto& m : modes) {
    switch (m.asNamedNumber()) {
      case TERM::DigitalDataModeEnum::ddmV110: flags |= mctl::kDdmV110; break;
      case TERM::DigitalDataModeEnum::ddm8BIT: flags |= mctl::kDdm8Bit; break;
      case TERM::DigitalDataModeEnum::ddm7BIT: flags |= mctl::kDdm7Bit; break;
      default: break;  // ddmV120 sets no bit
    }
  }
  return flags;
}

}  // namespace

void DspModemSlot::InitModem() {
  if (modem >= 0) return;
  // The modem's timeslot goes to this slot only when no route of an earlier owner touches it:
  // such a modem is kept aside on its descriptor and another one allocated.
  const char* refused = "insufficient resources : ";
  int n = -1, ts = -1;
  Fd held = SwitchRoutes::for_new_owner(
      [&](int& channel) {
        Fd dev(board::open(mctl::kPath, O_RDONLY | O_CLOEXEC));
        if (!dev) {
          refused = "fail to open device: ";
          return dev;
        }
        n = board::ioctl(dev.get(), mctl::MDM_ALLOCATE, nullptr);
        if (n >= 0) {
          channel = board::ioctl(dev.get(), mctl::MDM_GET_TIMESLOT, nullptr);
          if (channel >= 0) return dev;
          refused = "get timeslot fail : ";
        }
        return Abandoned(dev);
      },
      ts);
  if (!held) {
    const int e = errno;
    std::cerr << *this << refused << std::strerror(e) << std::endl;
    OnAbort(e);
    return;
  }
  const int fd = held.release();
  // Ends a start step that failed: abort with the errno, the descriptor closed.
  auto fail = [&](const char* what) {
    const int e = errno;
    std::cerr << *this << what << std::strerror(e) << std::endl;
    board::close(fd);
    OnAbort(e);
  };
  if (params.has_ddm()) {
    mctl::ModemFlags block{n, ddm_flags(params.get_ddm())};
    if (board::ioctl(fd, mctl::MDM_SET_DDM, &block) < 0) return fail("set DDM failed : ");
  }
  mctl::ModemOnly only{n};
  Control(fd, mctl::MDM_RESET_PARAMS, &only, "reset dmp parameters failed : ");
  if (params.has_dmp()) {
    for (const auto& p : params.get_dmp()) {
      const int offset = static_cast<int>(p.get_offset().getValue());
      const int value = static_cast<int>(p.get_value().getValue());
      mctl::ModemParam block{n, offset, value};
      if (board::ioctl(fd, mctl::MDM_SET_PARAM, &block) < 0) {
        const int e = errno;
        std::cerr << *this << "set dmp parameter " << "index=" << offset << " value=" << value
                  << " failed : " << std::strerror(e) << std::endl;
      }
    }
  }
  timeslot = ts;
  modem = n;
  if (owner) call = owner->NewCall();
  // Any other slot on this modem (handed to a fax program, or taken back by the board) has it
  // no longer.
  if (owner) owner->ModemTaken(*this);
  device.reset(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (device) {
    // The board resets its modems by hanging the device up; the modem is then free for others.
    deviceEvent.Bind("DspModemSlot::OnDeviceEvent", &DspModemSlot::OnDeviceEvent, this);
    deviceEvent.Schedule(device, 0);
    // Unwatched, a reset is still noticed when the modem is given to another slot.
    if (deviceEvent.fd() < 0) std::cerr << *this << "fail to watch modem device: " << std::strerror(errno) << std::endl;
  }
  OnChangeOutputStream(true);
  OnChangeInputStream(true);

  const bool originate = params.has_originate();
  if (!params.has_fax()) {
    const std::string tty = "/dev/mdm" + std::to_string(n);
    if (!Control(fd, originate ? mctl::MDM_ORIGINATE : mctl::MDM_ANSWER, &only,
                 originate ? "originate failed : " : "answer failed : ")) {
      const int e = errno;
      board::close(fd);
      OnAbort(e);
      return;
    }
    board::close(fd);
    pppd_exec(tty.c_str(), originate ? kOriginateOptions : kAnswerOptions);
    return;
  }
  if (params.has_execargs()) {
    std::vector<std::string> argv{params.has_execfile() ? std::string(params.get_execfile()) : std::string(kFaxTransfer),
                                  "-m", std::to_string(n)};
    for (const auto& a : params.get_execargs()) {
      if (argv.size() >= kMaxArgs - 1) break;  // 64 entries with the null: 60 arguments
      argv.push_back(a);
    }
    HandOver();
    board::close(fd);
    ChildLauncher::Prelude prelude;
    prelude.sleeps = true;
    prelude.banner = "executing fax transfer";
    prelude.reportFailure = true;
    const int child = Launch(argv, prelude);
    if (child < 0) return;
    childWait.Bind(this, &DspModemSlot::on_fax_terminate);
    Started(child);
    std::clog << *this << "fax transfer executed" << " modem=" << n << " ts=" << ts << std::endl;
    return;
  }
  if (originate) {
    if (!Control(fd, mctl::MDM_FAX_ORIGINATE, &only, "originate failed : ")) {
      const int e = errno;
      board::close(fd);
      OnAbort(e);
      return;
    }
    board::close(fd);
    return;
  }
  board::close(fd);
  RunFaxReceiver();
}

void DspModemSlot::HandOver() {
  deviceEvent.Release();
  device.close();
  handedOver = true;
}

void DspModemSlot::OnDeviceEvent(int, short revents) {
  if (revents & (POLLHUP | POLLERR | POLLNVAL)) ModemGone("device hung up");
}

void DspModemSlot::ModemGone(const char* why) {
  if (channelLost) return;
  std::cerr << *this << "modem " << modem << " lost: " << why << std::endl;
  deviceEvent.Release();
  device.close();
  LoseChannel();
  // A destroy in progress has hung pppd up already and answers for the slot.
  if (handedOver || destroying) return;
  // pppd runs on a tty that is now another call's.
  HangUp();
  lossReported = true;
  OnAbort(ENODEV);
}

void DspModemSlot::RunFaxReceiver() {
  HandOver();
  char file[64];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::strftime(file, sizeof file, "/var/fax-%H-%M-%S.g3", &local);
  ChildLauncher::Prelude prelude;
  prelude.sleeps = true;
  prelude.pause = 1;
  prelude.banner = "executing";
  prelude.reportFailure = true;
  // Its end is not watched: the receiver outlives the slot and is reaped like any child.
  if (Launch({kFaxReceiver, "-m", std::to_string(modem), "receive", file}, prelude) < 0) return;
  std::clog << *this << "fax receiver executed" << " modem=" << modem << " ts=" << timeslot << std::endl;
}

void DspModemSlot::on_fax_terminate(int status) {
  std::clog << *this << "fax terminated with code " << status << std::endl;
  pid = -1;
  if ((status & 0xFF) != 0) std::clog << *this << "fax transfer failed" << std::endl;
  const int pages = (status >> 8) & 0xFF;
  std::clog << *this << "pages received: " << pages << std::endl;
  TERM::ModemProceeding m;
  TERM::MdmAccounting& a = m.select_acct();
  for (BASE::INTEGER64Bits* v : {&a.get_octetsOut(), &a.get_octetsIn(), &a.get_packetsOut(), &a.get_packetsIn(), &a.get_time()}) {
    v->set_low(0);
    v->set_high(0);
  }
  a.get_octetsIn().set_low(pages);
  OnModem(m);
  // The modem went free with the program that had it.
  LoseChannel();
  if (!FinishDestroy()) OnAbort(status);
}
