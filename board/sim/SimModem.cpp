#include "board/sim/SimModem.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "board/mctl.h"
#include "board/sim/SimBoard.h"
#include "board/sim/TextFields.h"

namespace board::sim {

void SimModem::configure(int count, int first_timeslot) {
  modems_.assign(static_cast<size_t>(count), {});
  for (int i = 0; i < count; ++i) {
    modems_[static_cast<size_t>(i)].number = i;
    modems_[static_cast<size_t>(i)].timeslot = first_timeslot + i;
  }
}

SimModemState* SimModem::owned(uint64_t key) {
  for (auto& m : modems_)
    if (m.allocated && m.owner == key) return &m;
  return nullptr;
}

// A block names a modem: it must be the one this descriptor allocated.
SimModemState* SimModem::checked(uint64_t key, int32_t number, int& error) {
  SimModemState* m = owned(key);
  if (!m || m->number != number) {
    error = EINVAL;
    return nullptr;
  }
  return m;
}

int SimModem::request(uint64_t key, uint32_t number, uint8_t* record, unsigned long value, int& error) {
  using namespace mctl;
  switch (number) {
    case MDM_ALLOCATE: {
      if (owned(key)) {
        error = EBUSY;
        return -1;
      }
      for (auto& m : modems_) {
        if (m.allocated) continue;
        m = SimModemState{m.number, m.timeslot, true, key};
        return m.number;
      }
      error = ENOSPC;
      return -1;
    }
    case MDM_ENUM: {
      const int previous = static_cast<int32_t>(static_cast<uint32_t>(value));
      const int next = previous < 0 ? 0 : previous + 1;
      if (next >= static_cast<int>(modems_.size())) {
        error = ENODEV;
        return -1;
      }
      return next;
    }
    case MDM_GET_TIMESLOT: {
      SimModemState* m = owned(key);
      if (!m) {
        error = EINVAL;
        return -1;
      }
      return m->timeslot;
    }
    case MDM_SET_DDM: {
      auto* r = reinterpret_cast<ModemFlags*>(record);
      SimModemState* m = checked(key, r->modem, error);
      if (!m) return -1;
      m->ddm = r->flags;
      return 0;
    }
    case MDM_RESET_PARAMS: {
      auto* r = reinterpret_cast<ModemOnly*>(record);
      SimModemState* m = checked(key, r->modem, error);
      if (!m) return -1;
      m->params.clear();
      return 0;
    }
    case MDM_SET_PARAM: {
      auto* r = reinterpret_cast<ModemParam*>(record);
      SimModemState* m = checked(key, r->modem, error);
      if (!m) return -1;
      m->params[r->offset] = r->value;
      return 0;
    }
    case MDM_ANSWER:
    case MDM_ORIGINATE:
    case MDM_FAX_ORIGINATE: {
      auto* r = reinterpret_cast<ModemOnly*>(record);
      SimModemState* m = checked(key, r->modem, error);
      if (!m) return -1;
      m->mode = number == MDM_ANSWER ? "answer" : number == MDM_ORIGINATE ? "originate" : "fax-originate";
      return 0;
    }
    default: break;
  }
  error = ENOTTY;
  return -1;
}

void SimModem::release(uint64_t key) {
  if (SimModemState* m = owned(key)) *m = SimModemState{m->number, m->timeslot};
}

// ---------------------------------------------------------------- text protocol

namespace {

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

std::string modem_line(const SimModemState& m) {
  std::string s = std::to_string(m.number) + " ts=" + std::to_string(m.timeslot) +
                  " allocated=" + (m.allocated ? "1" : "0") + " mode=" + m.mode + " ddm=" + hex(m.ddm) + " params=";
  if (m.params.empty()) s += "-";
  bool first = true;
  for (auto [offset, value] : m.params) {
    s += (first ? "" : ",") + std::to_string(offset) + ":" + std::to_string(value);
    first = false;
  }
  return s + "\n";
}

}  // namespace

std::optional<std::string> modem_command(SimBoard& board, const std::vector<std::string_view>& t) {
  if (t.empty()) return std::nullopt;
  std::string_view cmd = t[0];
  const size_t n = t.size() - 1;
  if (cmd == "modems") {
    auto count = n >= 1 ? number(t[1], 0, SimModem::kMaxModems) : std::nullopt;
    auto first = n >= 2 ? number(t[2], 0, 65535) : std::optional<int64_t>(SimModem::kDefaultFirstTimeslot);
    if (n < 1 || n > 2 || !count || !first) return "error usage: modems <count> [<first timeslot>]\n";
    board.modem().configure(static_cast<int>(*count), static_cast<int>(*first));
    return "ok\n";
  }
  if (cmd == "modem-state") {
    if (n != 0) return "error usage: modem-state\n";
    const auto& modems = board.modem().modems();
    std::string out = "ok " + std::to_string(modems.size()) + "\n";
    for (const auto& m : modems) out += modem_line(m);
    return out;
  }
  return std::nullopt;
}

}  // namespace board::sim
