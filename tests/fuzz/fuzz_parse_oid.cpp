// Dotted object identifiers from outside: any text splits within the array's capacity.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "monitoring/TrapValues.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int capacity = data[0] % 40;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  uint32_t oid[40];
  const int n = parse_oid(oid, capacity, text.c_str());
  if (n < 0 || n > capacity) std::abort();
  return 0;
}
