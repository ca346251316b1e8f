#pragma once
// One setting of a timeslot that several receivers of a device may hold at once (a switch, a
// configuration record, one tone filter): each live receiver's wish, newest last, and what the
// device confirmed. The device is to hold the newest wish; when no live receiver wishes the
// setting, the value it rests at if the receivers' clean-up takes it there, else whatever it has.
#include <cstdint>
#include <optional>
#include <utility>

#include "hardware/NewestWish.h"

namespace Hardware {

// A switch whose enable carries a request id, which the device's events are matched by: the
// device's feature bits it has on (none: off) and, while on, the id of that enable.
struct Enable {
  uint32_t mask = 0;
  uint32_t id = 0;
  bool on() const { return mask != 0; }
  bool operator==(const Enable& o) const { return mask == o.mask && (mask == 0 || id == o.id); }
};

// Where the device is brought when no live receiver wishes a setting: back to its rest value (the
// receivers' clean-up switches it off), or nowhere (left as it is).
enum class Unwished : uint8_t { to_rest, as_is };
// How a timeslot's setting starts: at rest (as a receiver's flag starts off), or unset (never set
// here: no request is skipped against it and nothing is cleaned up).
enum class Fresh : uint8_t { at_rest, unset };

template <class Value>
class SharedSetting {
 public:
  // rest: the device's own value, where it has one.
  SharedSetting(std::optional<Value> rest, Unwished unwished, Fresh fresh)
      : m_rest(std::move(rest)), m_unwished(unwished), m_state(fresh == Fresh::at_rest ? State::confirmed : State::unset) {
    if (m_rest) m_held = *m_rest;
  }

  // The live receivers' wishes, oldest first.
  NewestWish<Value> wishes;

  bool live() const { return !wishes.empty(); }
  // What the device is to hold, or nullopt when nothing is asked of it.
  std::optional<Value> target() const {
    if (const auto* newest = wishes.newest()) return newest->value;
    if (m_unwished == Unwished::to_rest && m_state != State::unset) return m_rest;
    return std::nullopt;
  }
  // The device confirmed that it holds value.
  bool holds(const Value& value) const { return m_state == State::confirmed && m_held == value; }
  bool settled() const {
    const std::optional<Value> want = target();
    return !want || holds(*want);
  }

  // user's wish is the newest and the device has not confirmed it.
  bool unconfirmed_for(const void* user) const {
    const auto* newest = wishes.newest();
    return newest && newest->user == user && !settled();
  }

  void confirm(const Value& value) {
    m_state = State::confirmed;
    m_held = value;
  }
  // A refused request whose effect on the device is not known.
  void unknown() { m_state = State::unknown; }
  // The device was opened again and may have lost what it held: only its rest value is kept
  // (whether it kept its state or went back to its own values, it holds that one).
  void lost() {
    if (m_state == State::confirmed && !(m_rest && m_held == *m_rest)) m_state = State::unknown;
  }

  // Brings the device to the target with issue(value) -> bool; true when it holds the target.
  template <class Issue>
  bool bring(Issue&& issue) {
    const std::optional<Value> want = target();
    if (!want || holds(*want)) return true;
    if (!issue(*want)) return false;
    confirm(*want);
    return true;
  }

 private:
  enum class State : uint8_t { unset, unknown, confirmed };

  std::optional<Value> m_rest;
  Unwished m_unwished;
  State m_state;
  Value m_held{};  // while confirmed
};

}  // namespace Hardware
