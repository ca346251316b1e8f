// D-channel frames through the frame printer, in both directions: it must read nothing past
// the frame (held in a buffer of its own size) and write nothing past its buffer.
#include <vector>

#include "links/dlogframe.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> frame(data, data + size);
  static char out[ISDN::kLogbufSize + 64];
  std::memset(out + ISDN::kLogbufSize, 0x5A, 64);
  for (int dir = 0; dir < 2; ++dir) {
    ISDN::dlogframe(frame.data(), static_cast<int>(frame.size()), dir, out);
    for (int i = 0; i < 64; ++i) fuzz::require(out[ISDN::kLogbufSize + i] == 0x5A);
    fuzz::require(size < 3 || std::strlen(out) < ISDN::kLogbufSize);
  }
  return 0;
}
