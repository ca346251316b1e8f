#include "foundation/Paths.h"

#include <cstdlib>

namespace Paths {

std::string root() {
  const char* r = std::getenv("VOXRELAY_ROOT");
  if (!r) return std::string();
  std::string s(r);
  while (!s.empty() && s.back() == '/') s.pop_back();
  return s;
}

std::string rooted(const std::string& absolute) {
  std::string r = root();
  if (r.empty()) return absolute;
  if (!absolute.empty() && absolute.front() != '/') return r + "/" + absolute;
  return r + absolute;
}

}  // namespace Paths
