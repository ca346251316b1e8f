#include "foundation/Version.h"

#include <ostream>

#ifndef VOXRELAY_BUILDER
#define VOXRELAY_BUILDER "builder"
#endif

const Version Version::current = {Version::snapshot, 0, "", VOXRELAY_BUILDER,
                                  "2024-06-17 15:10", "T240617-1510", "ppc"};

void Version::put(std::ostream& os) const { os << tag; }

char const* Version::version_string(int type) {
  switch (type) {
    case snapshot: return "snapshot";
    case test: return "test";
    case release: return "release";
    case unit_test: return "unit-test";
    default: return "unknown";
  }
}

char const* Version::version_suffix(int type) {
  switch (type) {
    case snapshot: return "S";
    case test: return "T";
    case release: return "R";
    case unit_test: return "T";
    default: return "U";
  }
}

std::ostream& operator<<(std::ostream& os, Version::Type t) { return os << Version::version_string(t); }
