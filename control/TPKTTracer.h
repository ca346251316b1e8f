#pragma once
// A small TCP server of TPKT frames for any number of clients: cuts each client's stream into
// frames of at most 512 payload bytes for an optional receiver, and copies blocks, framed, to
// its clients.

#include <cstdint>
#include <list>

#include "foundation/AcceptPause.h"
#include "foundation/Event.h"
#include "foundation/Fd.h"

class TPKTTracer {
 public:
  static constexpr unsigned max_payload = 512;

  class Receiver {
   public:
    virtual ~Receiver() = default;
    virtual void OnTrace(const void* data, unsigned length) = 0;
  };

  struct Connection {
    bool reading_header = true;
    unsigned expected = 4;
    unsigned received = 0;
    Event event;
    uint8_t buffer[max_payload];
  };
  using List = std::list<Connection*>;

  TPKTTracer();
  ~TPKTTracer();
  TPKTTracer(const TPKTTracer&) = delete;
  TPKTTracer& operator=(const TPKTTracer&) = delete;

  bool Listen(unsigned short port);
  // One frame: to the current client inside a receiver call, otherwise to every client.
  void Send(const void* data, unsigned int length);

  void OnEvent(int fd, short revents);
  void OnDataEvent(int fd, short revents);

  std::size_t clients() const { return list_.size(); }

  Receiver* receiver = nullptr;

 private:
  void CloseConnection(List::iterator it);
  List::iterator FindConnection(int fd);
  // False when the client had to be closed.
  bool SendTo(List::iterator it, const void* data, unsigned length);

  Fd listen_socket_;
  Event listen_event_;
  AcceptPause accept_pause_;
  List list_;
  List::iterator current_;
};
