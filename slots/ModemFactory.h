#pragma once
// Factory of the modem slots: a digital call that names data modes gets a free synchronous
// HDLC interface when there is one, any other call a DSP modem slot. It counts the DSP
// modems and the point-to-point interfaces for the resource query, and serves the local
// authentication channel (TCP on 127.0.0.1:52000) through which the PPP side's records
// reach the slots.
#include <cstdint>
#include <iosfwd>
#include <list>
#include <string>
#include <vector>

#include "foundation/AcceptPause.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "slots/SlotFactory.h"

struct attr;
namespace TERM {
class ModemParams;
}
class AuthClient;
class DspModemSlot;
class HdlcModemSlot;
class ModemSlot;

class ModemFactory : public SlotFactory {
 public:
  static constexpr uint16_t kAuthPort = 52000;
  static constexpr int kBacklog = 64;
  // Local clients served at once. A client that leaves a record unfinished is closed after a
  // while (AuthClient::kStallTimeoutMs); when every place is taken, a new connection takes the
  // place of the oldest client that has named no session yet, or is closed at once when all
  // have. So stalled peers cannot hold every place, and a slow PPP side is not cut.
  static constexpr size_t kMaxClients = 16;
  static constexpr int kMaxInterfaces = 256;
  // Digital calls all speak on session -1 and the PPP side cannot tell them apart: the session
  // has one call identity.
  static constexpr uint64_t kDigitalCall = 1;

  // The listener's port: kAuthPort, unless VOXRELAY_AUTH_PORT moves it. Like VOXRELAY_ROOT for
  // the fixed paths, that lets daemons under test run side by side.
  static uint16_t DefaultAuthPort();

  // port: the authentication listener's port (tests pass 0 for any free one).
  explicit ModemFactory(uint16_t port = DefaultAuthPort());
  ~ModemFactory() override;

  const char* GetName() const override { return "Modem"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  void PutHeader(std::ostream& os) const;
  // Whether the texts that become program arguments (cid, execfile, execargs) hold no NUL
  // byte; when one does, a line names it and the create is refused.
  bool ProgramTexts(TERM::ModemParams const& params) const;

  void ReleaseModemSlot(DspModemSlot* slot);
  // holder was given its modem: any other slot on that modem (one that handed it to a fax
  // program, one whose modem the board took back unnoticed) loses it before the new holder's
  // paths are made.
  void ModemTaken(DspModemSlot& holder);
  void ReleaseModemSlot(HdlcModemSlot* slot);

  // The board gives a modem's number, the session, to the next call; a call's identity it
  // never reuses, and a call ends however it ends (destroy, controller loss, reset, hand-over to
  // fax) when its slot stops holding the session. A connection speaks, per session, for one
  // call: the one holding the modem when it was accepted, until a request binds it to the one
  // holding the modem then, except that the first record of a connection whose opening call is
  // over is that call's. Its records reach a slot only while that call holds the modem; one the
  // daemon does not take moves nothing.
  uint64_t NewCall() { return ++lastCall; }
  // The activation's record to the first connection that speaks for the session's current call
  // and whose last record named the session; none: logged, nothing sent.
  void SendAuth(const attr* record);
  // A complete record from a client, at least a header long.
  void OnAuth(AuthClient& from, const attr* record);
  void OnAuthSocketDisconnect(AuthClient* client);
  ModemSlot* FindModemByDsp(int id) const;
  // The call that the session's records speak for now (0: none), and its slot.
  uint64_t CurrentCall(int session, ModemSlot** holder = nullptr) const;

  // The listener: bound, listening and watched; failures are logged and leave it closed.
  void Init(uint16_t port);
  void IQuery();
  void update_modemDevices();
  void update_hdlcDevices();
  void OnSocketEvent(int, short revents);
  // The port the listener is bound to; 0 when closed.
  uint16_t AuthPort() const;

  std::vector<DspModemSlot*> dspModems;
  std::vector<HdlcModemSlot*> hdlcModems;
  std::vector<ModemSlot*> modems;
  int modemCount = 0;
  Fd listenFd;
  Event event;
  AcceptPause acceptPause;
  std::vector<AuthClient*> clients;
  // The last call identity given.
  uint64_t lastCall = kDigitalCall;
  std::list<std::string> freeInterfaces;
};

std::ostream& operator<<(std::ostream& os, const ModemFactory& factory);
