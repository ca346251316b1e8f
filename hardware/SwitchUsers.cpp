#include "hardware/SwitchUsers.h"

#include <unordered_map>
#include <utility>
#include <vector>

#include "board/hal.h"
#include "hardware/HwMux.h"
#include "hardware/NewestWish.h"
#include "hardware/SwitchRoutes.h"

namespace {

using State = SwitchModel::State;
using Wishes = NewestWish<State>;

struct Book {
  std::unordered_map<int, Wishes> outputs;                  // outputs some user holds
  std::unordered_map<const void*, std::vector<int>> users;  // user -> the outputs it holds
};

// Never destroyed: slots deleted while the program exits still find it.
Book& book() {
  static auto* b = new Book;
  return *b;
}

HwMux& mux() { return *HwMux::instance(); }

State idle() { return State::Constant(board::hal::kIdleByte); }

const Wishes* find(int output) {
  const auto it = book().outputs.find(output);
  return it == book().outputs.end() ? nullptr : &it->second;
}

void record(int output, const void* user, State s) {
  Book& b = book();
  Wishes& w = b.outputs[output];
  if (!w.holds(user)) b.users[user].push_back(output);
  w.wish(user, s);
}

// True when the user held a wish there.
bool drop(int output, const void* user) {
  Book& b = book();
  const auto it = b.outputs.find(output);
  if (it == b.outputs.end() || !it->second.holds(user)) return false;
  it->second.drop(user);
  if (it->second.empty()) b.outputs.erase(it);
  const auto u = b.users.find(user);
  if (u != b.users.end()) {
    std::erase(u->second, output);
    if (u->second.empty()) b.users.erase(u);
  }
  return true;
}

// No other user holds the output.
bool alone(int output, const void* user) {
  const Wishes* w = find(output);
  return !w || w->size() == (w->holds(user) ? 1u : 0u);
}

bool in_grace(int output) {
  const SwitchModel::Output* o = mux().model().find(output);
  return o && o->then.kind != State::none;
}

// The newest route among the output's users' wishes, or null.
const Wishes::Entry* newest_route(int output) {
  const Wishes* w = find(output);
  return w ? w->newest_if([](const Wishes::Entry& e) { return e.value.kind == State::routed; }) : nullptr;
}

// The switch carries s on the output, and nothing is to replace it.
bool carried(int output, State s) {
  const SwitchModel::Output* o = mux().model().find(output);
  return o && o->want == s && o->confirmed == s && o->then.kind == State::none;
}

}  // namespace

bool SwitchUsers::route(int output, const void* user, int source) {
  const State s = State::Routed(source);
  if (output < 0 || alone(output, user) || !carried(output, s)) {
    if (!mux().Connect(source, output)) return false;
  }
  record(output, user, s);
  SwitchRoutes::made(source, output);
  return true;
}

SwitchUsers::Saved SwitchUsers::save(int output, const void* user) {
  Saved saved{output, user, std::nullopt, 0};
  const Wishes* w = find(output);
  if (const State* own = w ? w->of(user) : nullptr) {
    saved.wish = *own;
    saved.place = w->place_of(user);
  }
  return saved;
}

bool SwitchUsers::restore(const Saved& saved) {
  if (saved.output < 0) return true;
  if (!saved.wish) {
    forget(saved.output, saved.user);
    return true;
  }
  Book& b = book();
  Wishes& w = b.outputs[saved.output];
  if (!w.holds(saved.user)) b.users[saved.user].push_back(saved.output);
  w.put_back(saved.user, *saved.wish, saved.place);
  const State want = wished(saved.output);
  if (apply(saved.output)) return true;
  if (want.kind == State::routed) SwitchRoutes::claimed(want.value);
  return false;
}

bool SwitchUsers::open(int output, const void* user) {
  if (output < 0) return false;
  const Wishes* w = find(output);
  const State* own = w ? w->of(user) : nullptr;
  if (own && own->kind == State::routed) return true;
  const bool solo = alone(output, user);
  record(output, user, idle());
  return solo ? mux().Disconnect(output) : apply(output);
}

bool SwitchUsers::unroute(int output, const void* user) {
  if (output < 0) return false;
  const bool solo = alone(output, user);
  record(output, user, idle());
  // (In a grace the output keeps a released channel's last frames; it ends on what is wished.)
  return solo && !in_grace(output) ? mux().Disconnect(output) : apply(output);
}

bool SwitchUsers::leave(int output, const void* user) {
  if (output < 0) return false;
  drop(output, user);
  return find(output) ? apply(output) : mux().Disable(output);
}

void SwitchUsers::forget(const void* user) {
  const auto u = book().users.find(user);
  if (u == book().users.end()) return;
  const std::vector<int> outputs = u->second;
  for (int output : outputs) forget(output, user);
}

void SwitchUsers::forget(int output, const void* user) {
  if (drop(output, user) && find(output)) apply(output);
}

void SwitchUsers::released(int source) {
  std::vector<std::pair<int, const void*>> gone;
  for (const auto& [output, wishes] : book().outputs)
    for (const Wishes::Entry& e : wishes.entries())
      if (output == source || e.value.feeds_from(source)) gone.emplace_back(output, e.user);
  for (const auto& [output, user] : gone) drop(output, user);
}

SwitchModel::State SwitchUsers::wished(int output) {
  if (!find(output)) return State{};
  const Wishes::Entry* route = newest_route(output);
  return route ? route->value : idle();
}

bool SwitchUsers::carries(int output, const void* user, int source) {
  const Wishes::Entry* route = newest_route(output);
  return route && route->user == user && route->value == State::Routed(source) && carried(output, route->value);
}

bool SwitchUsers::current(int output, const void* user) {
  const Wishes::Entry* route = newest_route(output);
  const SwitchModel::Output* o = route && route->user == user ? mux().model().find(output) : nullptr;
  return o && o->want == route->value;
}

bool SwitchUsers::apply(int output) {
  const State w = wished(output);
  if (w.kind == State::none || carried(output, w)) return true;
  if (w.kind == State::routed) {
    if (mux().Connect(w.value, output)) {
      SwitchRoutes::made(w.value, output);
      return true;
    }
    // Given back to a user that still wants it: owed until the switch takes it.
    mux().Want(output, w);
    return false;
  }
  return SwitchRoutes::idle_after_grace(output) || mux().Disconnect(output);
}
