#pragma once
// The book a device service keeps of the switch-offs it owes per timeslot: what departed
// receivers left on that the device has not taken off yet, carried out by the service's own
// per-timeslot work, retried on the service's settle timer until none is left.
#include <cstddef>
#include <functional>
#include <iterator>
#include <map>
#include <utility>

namespace Hardware {

// What: a timeslot's owed work; `a |= b` adds b to a, and What{} is nothing owed.
template <typename What>
class OwedSwitchOffs {
 public:
  // carry_out_one: does a timeslot's owed work as far as the device takes it (quietly; a failure
  // was logged when owed) and answers whether none is left. retry_later: asks for another pass.
  OwedSwitchOffs(std::function<bool(unsigned, What&)> carry_out_one, std::function<void()> retry_later)
      : m_carryOutOne(std::move(carry_out_one)), m_retryLater(std::move(retry_later)) {}
  OwedSwitchOffs(const OwedSwitchOffs&) = delete;
  OwedSwitchOffs& operator=(const OwedSwitchOffs&) = delete;

  bool empty() const { return m_book.empty(); }
  // Timeslots with switch-offs still owed.
  size_t size() const { return m_book.size(); }

  // Adds to what the timeslot is owed; a later pass tries it.
  void owe(unsigned timeslot, const What& what) {
    m_book[timeslot] |= what;
    m_retryLater();
  }

  // A receiver of the timeslot set some of it itself: strike(what) takes that off what is owed,
  // and a timeslot with nothing left leaves the book. Not while the book is walked.
  template <typename Strike>
  void taken(unsigned timeslot, Strike strike) {
    if (m_settling) return;
    auto it = m_book.find(timeslot);
    if (it == m_book.end()) return;
    strike(it->second);
    if (it->second == What{}) m_book.erase(it);
  }

  // Before a request on a timeslot: its owed switch-offs first.
  void before_request(unsigned timeslot) {
    if (!m_book.empty()) carry_out(timeslot);
  }

  // One timeslot's owed switch-offs; what the device refuses stays owed.
  void carry_out(unsigned timeslot) {
    if (m_settling) return;
    auto it = m_book.find(timeslot);
    if (it == m_book.end()) return;
    m_settling = true;
    if (m_carryOutOne(it->first, it->second)) m_book.erase(it);
    m_settling = false;
  }

  // Every timeslot's owed switch-offs; what the device refuses stays owed for a later pass.
  void carry_out_all() {
    if (m_settling) return;
    m_settling = true;
    for (auto it = m_book.begin(); it != m_book.end();)
      it = m_carryOutOne(it->first, it->second) ? m_book.erase(it) : std::next(it);
    m_settling = false;
    if (!m_book.empty()) m_retryLater();
  }

  // While a Hold lives (the service puts its live receivers' features back), the book is
  // neither walked nor struck off: no second pass runs inside.
  class Hold {
   public:
    explicit Hold(bool& settling) : m_settling(settling), m_was(settling) { m_settling = true; }
    ~Hold() { m_settling = m_was; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    bool& m_settling;
    bool m_was;
  };
  [[nodiscard]] Hold hold() { return Hold(m_settling); }

 private:
  std::map<unsigned, What> m_book;
  std::function<bool(unsigned, What&)> m_carryOutOne;
  std::function<void()> m_retryLater;
  bool m_settling = false;  // the owed switch-offs or a restore run: no second pass inside
};

}  // namespace Hardware
