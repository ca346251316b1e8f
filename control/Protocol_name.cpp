#include "control/Protocol_name.h"

#include <cstring>

bool Protocol_name_str::compare(const Protocol_name& other) const {
  return other.kind() == kind() && std::strcmp(other.name(), name()) == 0;
}
