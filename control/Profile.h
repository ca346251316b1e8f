#pragma once
// Named profiling points of hot code paths, listed for the event loop's status dump.
#include <cstdint>
#include <iosfwd>

namespace Profile {

class Point {
 public:
  Point* next;
  char const* name;
  uint32_t min = 0;
  uint32_t max = 0;
  uint32_t cur = 0;
  bool first = true;
  uint32_t start = 0;
  uint32_t counter = 0;

  // Links the point at the head of the global list.
  explicit Point(char const* name);
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;
  ~Point();

  void begin();
  void end();
  // "[name]: min=.. max=.. avg=.. counter=.." (avg is the last duration).
  void put(std::ostream& os) const;
};

// The points, most recently built first.
extern Point* mRoot;

// One line per point, most recent first.
void dump(std::ostream& os);

}  // namespace Profile
