// Reading a received frame of any content and length: the pulls that tolerate short data
// (missing bytes read as 0) and the text forms never read outside the buffer.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "foundation/Packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > packet_max_size) size = packet_max_size;
  Packet p;
  p.reserve_tail(static_cast<unsigned>(size));
  unsigned char* at = p.tail();
  for (size_t i = 0; i < size; ++i) at[i] = data[i];
  p.put(static_cast<unsigned>(size));
  Packet held = p;  // reads on a shared packet copy it first

  std::ostringstream os;
  PacketInfo(p).put(os);
  if (p.text().size() != (size ? size * 3 - 1 : 0)) std::abort();
  // Interpret the bytes as a script of reads until the packet is empty.
  unsigned steps = 0;
  while (p.length() > 0 && ++steps < 4096) {
    const unsigned before = p.length();
    switch (p.pull8() % 4) {
      case 0: p.pull16_b(); break;
      case 1: p.pull16_l(); break;
      case 2: p.pull_string(); break;
      case 3: p.dump_context(os); break;
    }
    if (p.length() >= before) std::abort();
  }
  if (held.length() != size) std::abort();
  return 0;
}
