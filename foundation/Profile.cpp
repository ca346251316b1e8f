#include "foundation/Profile.h"

#include <ostream>


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

void Point::put(std::ostream& os) const {
  os << "[" << name << "]: ";
  Measure::put(os);
}

void dump(std::ostream& os) {
  for (Point* p = mRoot; p; p = p->next) {
    p->put(os);
    os << std::endl;
  }
}

}  // namespace Profile
