#pragma once
// Sends call records, as text, in UDP datagrams to the collectors that a caller names.
#include <string>

#include "foundation/Fd.h"

namespace CDR_Sender {

class Sender {
 public:
  // Opens the datagram socket (IPv4, close-on-exec); it stays closed when that fails.
  Sender();
  ~Sender() = default;
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  // Sends `record` (its bytes, no terminator) as one datagram to each destination of the
  // blank-separated list "a.b.c.d:port ...", in order. A destination that does not parse is
  // skipped and a send that fails is logged; the others still get the record. True when every
  // destination got it (an empty list included), false otherwise or without a socket.
  bool SendTo(std::string& record, std::string const& destinations);

 private:
  Fd socket_;
};

}  // namespace CDR_Sender
