// Address texts from configuration files and controller commands: any text parses without
// harm, and an accepted address with a port reads back to the same endpoint.
#include <string>

#include "foundation/INet4.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(fuzz::text(data, size));
  INet4::Addr a, b;
  int port = 0, again = 0;
  const bool ok = a.Assign(text.c_str(), &port);  // the text stops at a NUL inside
  fuzz::require(port >= -1 && port <= 65535);
  fuzz::require(!ok || port < 0 || (b.Assign(a.GetString(), &again) && again == port && b.IsEqual(a)));
  return 0;
}
