#include "slots/AuthClient.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "slots/ModemFactory.h"

namespace {

// Reads per readiness report: a writer faster than the daemon must not hold the loop. Every
// record takes at most two reads (its length word, then the rest), so this is 64 records; a
// record cut by the bound is finished on the next pass, where `readPos` left it.
constexpr int kReadsPerPass = 128;

}  // namespace

AuthClient::AuthClient(Fd f, INet4::Addr const& p, ModemFactory& owner)
    : fd(std::move(f)), peer(p), readPos(buffer), readEnd(buffer + 4), factory(owner) {
  event.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

bool AuthClient::Activate() {
  if (!event.Schedule(fd, POLLIN)) return false;
  WatchStall();
  return true;
}

void AuthClient::WatchStall() {
  if (!fd || readPos == buffer) {
    stallTimer.reset();
    return;
  }
  if (!stallTimer.is_set()) stallTimer.set(kStallTimeoutMs, &AuthClient::OnStalled, this);
}

void AuthClient::OnStalled() { Close("left a record unfinished, closed."); }

void AuthClient::Close(const char* why) {
  std::cerr << factory << "auth connection from " << peer.GetString() << " " << why << std::endl;
  ++busy;
  OnDisconnect();
  if (--busy == 0) CheckDisconnect();
}

AuthClient::Speaks* AuthClient::SpeaksOn(int id) {
  return const_cast<Speaks*>(std::as_const(*this).SpeaksOn(id));
}

const AuthClient::Speaks* AuthClient::SpeaksOn(int id) const {
  const auto it = std::find_if(speaks.begin(), speaks.end(), [id](const Speaks& s) { return s.session == id; });
  return it == speaks.end() ? nullptr : &*it;
}

uint64_t AuthClient::SpeaksFor(int id) const {
  const Speaks* s = SpeaksOn(id);
  return s ? s->call : 0;
}

void AuthClient::OnDisconnect() {
  fd.close();
  event.Release();
}

void AuthClient::CheckDisconnect() {
  if (!fd) factory.OnAuthSocketDisconnect(this);
}

void AuthClient::OnSocketEvent(int, short revents) {
  ++busy;
  if (revents & (POLLERR | POLLHUP)) {
    OnDisconnect();
  } else if (revents & POLLIN) {
    ReadRecords();
    WatchStall();
  }
  if (--busy == 0) CheckDisconnect();
}

void AuthClient::ReadRecords() {
  for (int reads = 0; reads < kReadsPerPass && fd; ++reads) {
    const ssize_t n = ::read(fd.get(), readPos, static_cast<size_t>(readEnd - readPos));
    if (n == 0) {
      OnDisconnect();
      return;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) OnDisconnect();
      return;
    }
    readPos += n;
    if (readPos < readEnd) continue;
    uint32_t length;
    std::memcpy(&length, buffer, sizeof length);
    if (length - 4 > auth::kMaxRecord - 4) {
      // Below 4 or above 512: the stream cannot be cut any more.
      OnDisconnect();
      return;
    }
    if (readPos < buffer + length) {
      readEnd = buffer + length;
      continue;
    }
    readPos = buffer;
    readEnd = buffer + 4;
    OnRecord(length);
    // The next record's time starts with its first byte.
    stallTimer.reset();
  }
}

void AuthClient::OnRecord(uint32_t length) {
  if (length < auth::kHeaderSize) {
    // No session word: the record names no slot and is dropped.
    std::cerr << "auth record too short: " << length << " bytes from " << peer.GetString() << ", dropped." << std::endl;
    return;
  }
  factory.OnAuth(*this, reinterpret_cast<const attr*>(buffer));
}

bool AuthClient::Send(const attr* record) {
  ++busy;
  bool ok = false;
  if (fd) {
    const auto* p = reinterpret_cast<const unsigned char*>(record);
    size_t left = record->length;
    ok = true;
    while (left > 0) {
      const ssize_t n = ::send(fd.get(), p, left, MSG_NOSIGNAL);
      if (n < 1) {
        if (n < 0 && errno == EINTR) continue;
        OnDisconnect();
        ok = false;
        break;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
  if (--busy == 0) CheckDisconnect();
  return ok;
}
