// Reading a received frame of any content and length: the pulls that tolerate short data
// (missing bytes read as 0) and the text forms never read outside the buffer.
#include <sstream>

#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size = std::min<size_t>(size, packet_max_size);
  Packet p;
  p.reserve_tail(static_cast<unsigned>(size));
  std::copy(data, data + size, p.tail());
  p.put(static_cast<unsigned>(size));
  Packet held = p;  // reads on a shared packet copy it first

  std::ostringstream os;
  PacketInfo(p).put(os);
  fuzz::require(p.text().size() == (size ? size * 3 - 1 : 0));
  // The octets are a script of reads until the packet is empty.
  for (unsigned steps = 0; p.length() > 0 && ++steps < 4096;) {
    const unsigned before = p.length();
    switch (p.pull8() % 4) {
      case 0: p.pull16_b(); break;
      case 1: p.pull16_l(); break;
      case 2: p.pull_string(); break;
      case 3: p.dump_context(os); break;
    }
    fuzz::require(p.length() < before);
  }
  fuzz::require(held.length() == size);
  return 0;
}
