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

  void ReleaseModemSlot(DspModemSlot* slot);
  // holder was given its modem: any other slot on that modem (one that handed it to a fax
  // program, one whose modem the board took back unnoticed) loses it before the new holder's
  // paths are made. The modem's earlier call having ended is no loss: its session's
  // connections serve the new holder.
  void ModemTaken(DspModemSlot& holder);
  void ReleaseModemSlot(HdlcModemSlot* slot);
  // The connections that named this session so far speak for a call that lost its modem:
  // their later records of this session are dropped and nothing of it is sent to them. Other
  // sessions they name are served as from any connection.
  void RetireSession(int session);
  // A record to the first connection whose last record named the record's session, unless it
  // was retired from that session. A connection that sent nothing yet is addressed by none.
  void SendAuth(const attr* record);
  // A record from a client, to the slot of its session.
  void OnAuth(const attr* record);
  void OnAuthSocketDisconnect(AuthClient* client);
  ModemSlot* FindModemByDsp(int id) const;

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
  std::list<std::string> freeInterfaces;
};

std::ostream& operator<<(std::ostream& os, const ModemFactory& factory);
