#include "slots/Rtcp.h"

#include <algorithm>
#include <cstring>

namespace RTPC {

namespace {

void put32(char* p, uint32_t v) {
  p[0] = static_cast<char>(v >> 24);
  p[1] = static_cast<char>(v >> 16);
  p[2] = static_cast<char>(v >> 8);
  p[3] = static_cast<char>(v);
}

// Zero bytes from `at` up to the next multiple of 4; returns that length.
unsigned pad(char* buf, unsigned at) {
  while (at % 4) buf[at++] = 0;
  return at;
}

// Every packet ends on a word boundary, so only whole words of the room are used: the padding
// can then never run past it.
unsigned whole_words(unsigned size) { return size & ~3u; }

}  // namespace

unsigned Msg::encode(char* buf, unsigned size) const {
  size = whole_words(size);
  if (size < 8) return 0;
  buf[0] = static_cast<char>(0x80 | (count() & 31));
  buf[1] = static_cast<char>(pt());
  unsigned length = pad(buf, 4 + encode_body(buf + 4, size - 4));
  unsigned words = length / 4 - 1;
  buf[2] = static_cast<char>(words >> 8);
  buf[3] = static_cast<char>(words);
  return length;
}

unsigned SDES::encode_body(char* buf, unsigned size) const {
  size = whole_words(size);
  if (size < 4) return 0;
  put32(buf, ssrc);
  if (items.empty() || size - 4 < 8) return 4;
  unsigned at = 4;
  for (const Item& item : items) {
    unsigned length = static_cast<unsigned>(std::min<size_t>(item.text.size(), 255));
    // The item, the list's end byte and the padding after it.
    if (size - at < ((length + 6) & ~3u)) break;
    buf[at++] = static_cast<char>(item.type);
    buf[at++] = static_cast<char>(length);
    std::memcpy(buf + at, item.text.data(), length);
    at += length;
  }
  buf[at++] = 0;
  return pad(buf, at);
}

unsigned BYE::encode_body(char* buf, unsigned size) const {
  size = whole_words(size);
  if (size < 4) return 0;
  put32(buf, ssrc);
  if (reason.empty() || size - 4 < 2) return 4;
  unsigned length = static_cast<unsigned>(std::min<size_t>({reason.size(), 255, size - 5}));
  buf[4] = static_cast<char>(length);
  std::memcpy(buf + 5, reason.data(), length);
  return pad(buf, 5 + length);
}

}  // namespace RTPC
