// Address texts from configuration files and controller commands: any text parses without
// harm, and an accepted address with a port reads back to the same endpoint.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/INet4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // stops at a NUL inside
  INet4::Addr a;
  int port = 0;
  const bool ok = a.Assign(text.c_str(), &port);
  if (port < -1 || port > 65535) std::abort();
  if (ok && port >= 0) {
    INet4::Addr b;
    int again = 0;
    if (!b.Assign(a.GetString(), &again) || again != port || !b.IsEqual(a)) std::abort();
  }
  return 0;
}
