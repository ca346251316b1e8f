#pragma once
// One connection of the local authentication channel: it cuts the byte stream into records
// (length first, at most 512 bytes) and hands each to the factory, and sends the daemon's
// records back. The factory deletes it once its connection ended, never while one of its
// own calls is still on the stack (`busy`). The factory serves only a few clients at once: a
// peer that leaves a record unfinished for kStallTimeoutMs is closed, and one that has named
// no session yet gives its place up to a new connection when none is free. A peer is never
// closed for being slow to send its first record: the PPP side connects before its link is up.
#include <cstdint>
#include <vector>

#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/INet4.h"
#include "foundation/TimerEvent.h"
#include "slots/AuthRecord.h"

class ModemFactory;

class AuthClient {
 public:
  // Time a peer has to finish a record it began. Counted from the record's first byte, not
  // from the last byte, so a peer that trickles cannot stretch it.
  static constexpr unsigned kStallTimeoutMs = 5000;

  // Takes the accepted connection's descriptor.
  AuthClient(Fd fd, INet4::Addr const& peer, ModemFactory& factory);
  AuthClient(const AuthClient&) = delete;
  AuthClient& operator=(const AuthClient&) = delete;

  // Starts reading; false when the connection cannot be watched (out of descriptors).
  bool Activate();
  // Writes the whole record (length from its first word); false when the connection failed.
  bool Send(const attr* record);
  void OnSocketEvent(int, short revents);
  void OnDisconnect();
  void CheckDisconnect();
  // Closes the connection for the reason given (logged) and has the factory delete the client.
  void Close(const char* why);
  // Has sent no record the daemon takes and is not sending one: its place may go to a new
  // connection.
  bool Quiet() const { return !named && readPos == buffer; }

  // The call the connection speaks for on one session (see ModemFactory::OnAuth).
  struct Speaks {
    int session;
    // A call that held the session's modem (ModemSlot::call); 0 for none.
    uint64_t call;
    // The connection sent a record the daemon takes on this session.
    bool spoke;
  };
  Speaks* SpeaksOn(int session);
  const Speaks* SpeaksOn(int session) const;
  // The call it speaks for on the session; 0 for none.
  uint64_t SpeaksFor(int session) const;

  Event event;
  Fd fd;
  INet4::Addr peer;
  int busy = 0;
  alignas(4) unsigned char buffer[auth::kMaxRecord];
  unsigned char* readPos;
  unsigned char* readEnd;
  ModemFactory& factory;
  // The session of the last record the daemon took from the connection; `named` once there
  // was one (-1 is a session too).
  int session = -1;
  bool named = false;
  // One entry per session held by a call when the connection opened, or on which a request
  // bound it to a call: bounded by the modems the board has, however many numbers the peer
  // names.
  std::vector<Speaks> speaks;
  Timer stallTimer;

 private:
  // A whole record of `length` bytes is in `buffer`.
  void OnRecord(uint32_t length);
  void ReadRecords();
  // Sets the stall timer while the peer owes the rest of a record, unless it runs.
  void WatchStall();
  void OnStalled();
};
