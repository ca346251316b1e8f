#pragma once
// A radio record as its codec packs it: what the codec tests compare and the oracle test
// hands to tshark.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "radio/R2SProto.h"
#include "radio/SigProto.h"

namespace radiotest {

// The packed bytes of `p` in a buffer of `size` (filled with 0xEE first, so that bytes the
// codec leaves unwritten show); empty, and a failure of the test, when the codec refuses it.
template <typename Record, typename Packer>
std::vector<uint8_t> pack_with(Packer packer, const Record& p, size_t size) {
  std::vector<uint8_t> buf(size, 0xEE);
  int n = packer(&p, buf.data(), buf.size());
  EXPECT_GT(n, 0);
  buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return buf;
}

inline std::vector<uint8_t> pack(const r2s_proto& p, size_t size = 1024) { return pack_with(r2s_proto_pack, p, size); }
inline std::vector<uint8_t> pack(const sig_proto& p, size_t size = 1024) { return pack_with(sig_proto_pack, p, size); }

}  // namespace radiotest
