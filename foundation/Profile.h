#pragma once
// Named profiling points of hot code paths, listed for the event loop's status dump.
#include <iosfwd>

#include "foundation/Measure.h"

namespace Profile {

// A point is a Measure with a name, linked into the global list.
class Point : public Measure {
 public:
  Point* next;
  char const* name;

  // Links the point at the head of the global list.
  explicit Point(char const* name);
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;
  ~Point();

  // "[name]: min=.. max=.. avg=.. counter=.." (avg is the last duration).
  void put(std::ostream& os) const;
};

// The points, most recently built first.
extern Point* mRoot;

// One line per point, most recent first.
void dump(std::ostream& os);

}  // namespace Profile
