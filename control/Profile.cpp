#include "control/Profile.h"

#include <ostream>

#include "foundation/Mux.h"

namespace Profile {

Point* mRoot = nullptr;

Point::Point(char const* n) : next(mRoot), name(n) { mRoot = this; }

Point::~Point() {
  for (Point** p = &mRoot; *p; p = &(*p)->next) {
    if (*p == this) {
      *p = next;
      break;
    }
  }
}

void Point::begin() { start = Mux::microseconds(); }

void Point::end() {
  uint32_t d = Mux::microseconds() - start;
  if (first) {
    min = max = cur = d;
    counter = 1;
    first = false;
  } else {
    ++counter;
    if (d < min) min = d;
    if (d > max) max = d;
    cur = d;
  }
}

void Point::put(std::ostream& os) const {
  os << "[" << name << "]: min=" << min << " max=" << max << " avg=" << cur
     << " counter=" << counter;
}

void dump(std::ostream& os) {
  for (Point* p = mRoot; p; p = p->next) {
    p->put(os);
    os << std::endl;
  }
}

}  // namespace Profile
