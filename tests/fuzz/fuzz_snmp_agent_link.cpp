// What the SNMP agent link takes in from outside: frames from an agent (decoded as MON
// messages by an agent link) and, selected by the first octet, the text of a framer status
// file as the framer reader parses it.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <vector>

#include "monitoring/FramerDataHolder.h"
#include "monitoring/SnmpAgentInstance.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::ostringstream quiet;
  std::streambuf* err = std::cerr.rdbuf(quiet.rdbuf());
  std::streambuf* log = std::clog.rdbuf(quiet.rdbuf());
  if (data[0] & 1) {
    // One read of a status file is at most 1,024 bytes.
    std::vector<unsigned char> bytes(data + 1, data + std::min<size_t>(size, 1025));
    FramerDataHolder framer(1, "/fuzz");
    framer.setFramerStatus(bytes);
    framer.setFramerStatus(bytes);
  } else {
    static SnmpAgentInstance agent;
    agent.OnMessage(reinterpret_cast<const char*>(data + 1), static_cast<int>(size - 1));
  }
  std::cerr.rdbuf(err);
  std::clog.rdbuf(log);
  return 0;
}
