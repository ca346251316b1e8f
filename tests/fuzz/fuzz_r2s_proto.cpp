// ED-137 extensions from the extension device, read in both directions: any bytes unpack
// without harm, and what unpacks packs again to bytes that unpack to the same features.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "radio/R2SProto.h"

namespace {
void check(int (*unpack)(r2s_proto*, const uint8_t*, size_t), const uint8_t* data, size_t size) {
  r2s_proto p;
  r2s_proto_init(&p, 0);
  int r = unpack(&p, data, size);
  if (r != 0 && r != kRadioCodecShort) std::abort();
  if (p.count > kR2SProtoMaxAdditionals) std::abort();
  if (r != 0) return;
  uint8_t buf[1024];
  int n = r2s_proto_pack(&p, buf, sizeof buf);
  if (n < 2 || static_cast<size_t>(n) > sizeof buf) std::abort();
  r2s_proto q;
  r2s_proto_init(&q, 0);
  if (unpack(&q, buf, static_cast<size_t>(n)) != 0) std::abort();
  if (q.count != p.count || std::memcmp(&q.header, &p.header, sizeof p.header) != 0) std::abort();
  if (std::memcmp(q.additional, p.additional, sizeof p.additional[0] * p.count) != 0) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check(r2s_proto_unpack_tx, data, size);
  check(r2s_proto_unpack_rx, data, size);
  return 0;
}
