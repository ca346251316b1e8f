#pragma once
// One connection of the local authentication channel: it cuts the byte stream into records
// (length first, at most 512 bytes) and hands each to the factory, and sends the daemon's
// records back. The factory deletes it once its connection ended, never while one of its
// own calls is still on the stack (`busy`). A peer that names no session, or leaves a record
// unfinished, for kStallTimeoutMs is closed: the factory serves only a few clients at once.
#include <cstdint>

#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/INet4.h"
#include "foundation/TimerEvent.h"
#include "slots/AuthRecord.h"

class ModemFactory;

class AuthClient {
 public:
  // Time a peer has to name its session after connecting, and to finish a record it began.
  // Counted from the connection or the record's first byte, not from the last byte, so a
  // peer that trickles cannot stretch it.
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

  Event event;
  Fd fd;
  INet4::Addr peer;
  int busy = 0;
  alignas(4) unsigned char buffer[auth::kMaxRecord];
  unsigned char* readPos;
  unsigned char* readEnd;
  ModemFactory& factory;
  int session = -1;
  // A record named a session (`session` is -1 at first, and -1 is also a session).
  bool named = false;
  // The connection speaks for a call that lost its modem: what it sends is dropped and
  // nothing is sent to it.
  bool retired = false;
  Timer stallTimer;

 private:
  // A whole record of `length` bytes is in `buffer`.
  void OnRecord(uint32_t length);
  void ReadRecords();
  // Sets the stall timer when the peer owes a session or the rest of a record, unless it runs.
  void WatchStall();
  void OnStalled();
};
