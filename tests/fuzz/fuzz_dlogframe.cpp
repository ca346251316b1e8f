// Arbitrary D-channel frames through the frame printer, in both directions: it must read
// nothing past the frame and write nothing past its buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "links/dlogframe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The frame in a buffer of its own size, so that a read past it is caught.
  std::vector<unsigned char> frame(data, data + size);
  static char out[ISDN::kLogbufSize + 64];
  std::memset(out + ISDN::kLogbufSize, 0x5A, 64);
  for (int dir = 0; dir < 2; ++dir) {
    ISDN::dlogframe(frame.data(), static_cast<int>(frame.size()), dir, out);
    for (int i = 0; i < 64; ++i) {
      if (out[ISDN::kLogbufSize + i] != 0x5A) __builtin_trap();
    }
    if (size >= 3 && std::strlen(out) >= ISDN::kLogbufSize) __builtin_trap();
  }
  return 0;
}
