#pragma once
// One connection of the local authentication channel: it cuts the byte stream into records
// (length first, at most 512 bytes) and hands each to the factory, and sends the daemon's
// records back. The factory deletes it once its connection ended, never while one of its
// own calls is still on the stack (`busy`).
#include <cstdint>

#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/INet4.h"
#include "slots/AuthRecord.h"

class ModemFactory;

class AuthClient {
 public:
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

 private:
  // A whole record of `length` bytes is in `buffer`.
  void OnRecord(uint32_t length);
  void ReadRecords();
};
