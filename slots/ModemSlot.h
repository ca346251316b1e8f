#pragma once
// A modem slot terminates a data call routed to the gateway: it takes a modem (a DSP modem
// channel or a synchronous HDLC interface), runs pppd on it or a fax program instead, and
// reports authentication requests, accounting and the program's end to the controller.
// ModemSlot is the part common to both kinds: the child program, its watch and the
// destruction protocol (SIGHUP, then SIGKILL after 5 s, with the destroy answered late).
#include <cstdint>
#include <string>
#include <vector>

#include "asn1/schemas/TERM.h"
#include "foundation/ChildWait.h"
#include "foundation/TimerEvent.h"
#include "slots/ChildLauncher.h"
#include "slots/Slot.h"

struct attr;
class ModemFactory;

class ModemSlot : public Slot {
 public:
  static constexpr unsigned kTerminateTimeoutMs = 5000;
  static constexpr const char* kPppd = "/usr/local/sbin/pppd";
  // Longest argument list of a program, its terminating null included.
  static constexpr size_t kMaxArgs = 64;

  ModemSlot(TERM::ModemParams const& params, ModemFactory* factory);
  ~ModemSlot() override;

  bool IActivate(TERM::TermActivateParams const& params) override;
  bool IBeforeDestroy() override;
  const char* GetName() const override { return "generic-modem"; }

  // The session under which the PPP side names this slot; -1 when it has none.
  virtual int modem_id() const = 0;
  // Leaves the factory's lists (once; later calls do nothing).
  virtual void unbind() = 0;

  void PutHeader(std::ostream& os) const;
  // The slot holds the modem or interface that its session names.
  virtual bool holds_session() const { return true; }
  bool EqAuthId(int id) const { return holds_session() && modem_id() == id; }
  // One record from the PPP side, complete and at least a header long.
  void OnAuth(const attr* record);

  // Starts pppd on the tty or interface with the option file, unless a child runs.
  void pppd_exec(const char* device, const char* options);
  void on_terminate(int status);
  void on_terminate_timeout();
  // SIGKILL to the child, once.
  void pppd_kill();
  // SIGHUP to a running child that was not killed, and SIGKILL if it is still there after
  // kTerminateTimeoutMs, as at a destroy: a pppd on a modem that is another call's now must
  // not run beside that call's own.
  void HangUp();

  TERM::ModemParams params;
  int pid = -1;
  ChildWait childWait;
  Timer terminateTimer;
  // The child got SIGKILL: it is not signalled again, whether or not it was reaped yet.
  bool killed = false;
  // The slot was aborted when it lost its modem: the end of its program is not reported again.
  bool lossReported = false;
  // The call's identity on its session, given with its modem (ModemFactory::NewCall): the
  // board gives the next call the modem's number, never this.
  uint64_t call = 0;
  // The factory whose lists hold this slot; null once the factory is gone.
  ModemFactory* owner;

 protected:
  // Starts a program; a failed fork is logged ("vfork fail: ") and aborts the call. The
  // child's pid, or -1.
  int Launch(const std::vector<std::string>& argv, const ChildLauncher::Prelude& prelude);
  // Records a started child and watches its end.
  void Started(int child);
  // The child is gone: a destroy in progress completes (the slot is deleted) and true is
  // returned; otherwise false.
  bool FinishDestroy();
};

std::ostream& operator<<(std::ostream& os, const ModemSlot& slot);
