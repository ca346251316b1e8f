#pragma once
// The wishes that the live users of one shared board setting (a timeslot's detector, a switch
// output, a mixer output's sum) hold, in the order they were made. The board is to hold the
// newest; a user that leaves takes its wish with it, and the board goes back to the newest one
// left. With one user this is that user's last wish, as if nothing were shared.
#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

template <class Value, class User = const void*>
class NewestWish {
 public:
  struct Entry {
    User user;
    Value value;
  };

  // user's wish is now value, the newest of all (its earlier wish goes).
  void wish(User user, Value value) {
    erase(user);
    entries_.push_back(Entry{user, std::move(value)});
  }
  // user's wish is value at place among the others (0: the oldest), as it stood before a change
  // that failed: a failure does not make a user's older wish the newest.
  void put_back(User user, Value value, std::size_t place) {
    erase(user);
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(std::min(place, entries_.size())),
                    Entry{user, std::move(value)});
  }
  // user leaves: its wish goes. True when that was the newest, so the board may need to change.
  bool drop(User user) {
    const bool was_newest = !entries_.empty() && entries_.back().user == user;
    erase(user);
    return was_newest;
  }

  // The newest wish, or null when no live user holds one.
  const Entry* newest() const { return entries_.empty() ? nullptr : &entries_.back(); }
  // The newest wish that pred accepts, or null.
  template <class Pred>
  const Entry* newest_if(Pred pred) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
      if (pred(*it)) return &*it;
    return nullptr;
  }
  // user's own wish, or null.
  const Value* of(User user) const {
    for (const Entry& e : entries_)
      if (e.user == user) return &e.value;
    return nullptr;
  }
  bool holds(User user) const { return of(user) != nullptr; }
  // Where user's wish stands (0: the oldest); size() when it holds none.
  std::size_t place_of(User user) const {
    std::size_t n = 0;
    while (n < entries_.size() && entries_[n].user != user) ++n;
    return n;
  }
  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  // Oldest first.
  const std::vector<Entry>& entries() const { return entries_; }

 private:
  void erase(User user) {
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.user == user; }),
                   entries_.end());
  }

  std::vector<Entry> entries_;
};
