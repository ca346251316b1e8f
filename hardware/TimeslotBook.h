#pragma once
// The settings that the receivers of one device service share, per timeslot, and the timeslots
// whose device settings may not match them yet. The service's own pass brings one timeslot's
// device to what its live receivers want; the book runs it before a request on the timeslot, when
// a receiver leaves, when the device comes back, and on the service's backing-off timer until
// every timeslot matches. A timeslot nobody wishes anything of is dropped once it matches.
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

namespace Hardware {

// Settings: default-constructible (at rest); Settings::visit(settings, f) calls f on each
// SharedSetting it holds.
template <class Settings>
class TimeslotBook {
 public:
  // settle_one(timeslot, settings, quiet): brings the device to the timeslot's settings as far as
  // it takes them (quiet: no line for a refused request). retry_later: asks for another pass.
  TimeslotBook(std::function<void(unsigned, Settings&, bool)> settle_one, std::function<void()> retry_later)
      : m_settleOne(std::move(settle_one)), m_retryLater(std::move(retry_later)) {}
  TimeslotBook(const TimeslotBook&) = delete;
  TimeslotBook& operator=(const TimeslotBook&) = delete;

  // The timeslot's settings, made at rest when it has none.
  Settings& at(unsigned timeslot) { return m_book[timeslot]; }
  // The timeslot's settings as they stand; at rest when it has none.
  const Settings& view(unsigned timeslot) const {
    static const Settings kAtRest;
    auto it = m_book.find(timeslot);
    return it == m_book.end() ? kAtRest : it->second;
  }

  // The device took value for a setting of the timeslot at user's request: user's wish, the
  // newest. A user that let its timeslot go (not live) holds no wish: the next pass cleans up
  // what it set.
  template <class Setting, class Value>
  void took(unsigned timeslot, Setting& setting, const void* user, bool live, const Value& value) {
    setting.confirm(value);
    if (live) {
      setting.wishes.wish(user, value);
      return;
    }
    unsettle(timeslot);
    m_retryLater();
  }

  // user lets the timeslot go: its wishes drop out, and the next pass brings the device to
  // what the others want. The timeslot's settings, for the caller to settle.
  Settings& leave(unsigned timeslot, const void* user) {
    Settings& settings = m_book[timeslot];
    Settings::visit(settings, [user](auto& setting) { setting.wishes.drop(user); });
    m_unsettled.insert(timeslot);
    return settings;
  }

  // The device may not hold what the timeslot's settings want: the next pass looks.
  void unsettle(unsigned timeslot) { m_unsettled.insert(timeslot); }
  // One timeslot's pass, when it may need one; not inside another pass.
  void settle(unsigned timeslot, bool quiet) {
    if (m_settling || !m_unsettled.count(timeslot)) return;
    auto it = m_book.find(timeslot);
    if (it != m_book.end()) {
      m_settling = true;
      m_settleOne(timeslot, it->second, quiet);
      m_settling = false;
    }
    tidy(timeslot);
  }
  // Every timeslot that may need a pass; true when the device matches them all.
  bool settle_all(bool quiet) {
    if (m_settling) return m_unsettled.empty();
    const std::vector<unsigned> timeslots(m_unsettled.begin(), m_unsettled.end());
    for (unsigned timeslot : timeslots) settle(timeslot, quiet);
    return m_unsettled.empty();
  }
  // The device came back and may have lost what it held: every timeslot is given back what
  // it wants now, or (inside a pass) by the next one.
  void lost(bool quiet) {
    for (auto& [timeslot, settings] : m_book) {
      Settings::visit(settings, [](auto& setting) { setting.lost(); });
      m_unsettled.insert(timeslot);
    }
    if (m_settling || !settle_all(quiet)) m_retryLater();
  }
  // user is gone without its clean-up: its wishes go, and a timeslot left without any is dropped
  // as it stands (nothing is asked of the device for it); the others get a pass later.
  void forget(const void* user) {
    for (auto it = m_book.begin(); it != m_book.end();) {
      bool had = false;
      Settings::visit(it->second, [&](auto& setting) { had = setting.wishes.drop(user) || had; });
      if (!wished(it->second)) {
        m_unsettled.erase(it->first);
        it = m_book.erase(it);
        continue;
      }
      if (had) {
        m_unsettled.insert(it->first);
        m_retryLater();
      }
      ++it;
    }
  }

  // Timeslots with a setting no live receiver wants that the device has not let go of.
  size_t owed() const {
    size_t n = 0;
    for (const auto& entry : m_book) n += owes_clean_up(entry.second) ? 1 : 0;
    return n;
  }

  static bool wished(const Settings& s) {
    bool any = false;
    Settings::visit(s, [&](const auto& setting) { any = any || setting.live(); });
    return any;
  }
  static bool settled(const Settings& s) {
    bool all = true;
    Settings::visit(s, [&](const auto& setting) { all = all && setting.settled(); });
    return all;
  }
  // A setting that no live receiver wishes is still to be cleaned up.
  static bool owes_clean_up(const Settings& s) {
    bool any = false;
    Settings::visit(s, [&](const auto& setting) { any = any || (!setting.live() && !setting.settled()); });
    return any;
  }
  // A live receiver's wish is still to be put back.
  static bool owes_put_back(const Settings& s) {
    bool any = false;
    Settings::visit(s, [&](const auto& setting) { any = any || (setting.live() && !setting.settled()); });
    return any;
  }

 private:
  void tidy(unsigned timeslot) {
    auto it = m_book.find(timeslot);
    if (it == m_book.end() || settled(it->second)) {
      m_unsettled.erase(timeslot);
      if (it != m_book.end() && !wished(it->second)) m_book.erase(it);
      return;
    }
    m_retryLater();
  }

  std::function<void(unsigned, Settings&, bool)> m_settleOne;
  std::function<void()> m_retryLater;
  std::map<unsigned, Settings> m_book;
  std::set<unsigned> m_unsettled;
  bool m_settling = false;  // a pass runs: no second one inside
};

}  // namespace Hardware
