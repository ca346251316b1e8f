// LEMZ signalling packets from the extension device: any bytes unpack without harm, and a
// packet that unpacks packs again to bytes that unpack to the same record.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "radio/SigProto.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sig_proto p;
  sig_proto_init(&p);
  int r = sig_proto_unpack(&p, data, size);
  if (r != 0 && r != kRadioCodecUnknownType && r != kRadioCodecShort) std::abort();
  char text[512];
  sprintf_sig_proto(text, sizeof text, &p, 2);
  if (r != 0) return 0;
  uint8_t buf[1024];
  int n = sig_proto_pack(&p, buf, sizeof buf);
  if (n < 4 || static_cast<size_t>(n) > sizeof buf) std::abort();
  sig_proto q;
  sig_proto_init(&q);
  if (sig_proto_unpack(&q, buf, static_cast<size_t>(n)) != 0) std::abort();
  if (cmp_sig_proto_header(&p, &q) != 0 || cmp_sig_proto(&p, &q) != 0) std::abort();
  return 0;
}
