#include "board/sim/SimMonitoring.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "board/sim/TextFields.h"
#include "foundation/Paths.h"

namespace board::sim {

namespace {

std::optional<long> whole(std::string_view t, long lo, long hi) {
  long v = 0;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, 10);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size() || v < lo || v > hi) return std::nullopt;
  return v;
}

std::string ok(const std::string& text = {}) { return text.empty() ? "ok\n" : "ok " + text + "\n"; }
std::string error(const std::string& text) { return "error " + text + "\n"; }

}  // namespace

SimMonitoring& SimMonitoring::instance() {
  static SimMonitoring monitoring;
  return monitoring;
}

std::string SimMonitoring::framer_text(int n, const SimFramer& f) {
  char text[512];
  std::snprintf(text, sizeof text,
                "Framer                  : %d\n"
                "Current state           : %s\n"
                "Loss of Signal          : %s\n"
                "Loss of Frame Alignment : %s\n"
                "Receive Slip Negative   : %d\n"
                "Receive Slip Positive   : %d\n",
                n, f.state.c_str(), f.signal_loss ? "yes" : "no", f.frame_align_loss ? "yes" : "no",
                f.slips_negative, f.slips_positive);
  return text;
}

// The simulated board writes its files only under a private root, never into the machine's /proc.
bool SimMonitoring::write_framer(int n, const SimFramer& f) {
  if (n < 0 || n >= kFramers || Paths::root().empty()) {
    errno = EINVAL;
    return false;
  }
  const std::string dir = Paths::rooted(kFramerDir);
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string path = dir + std::to_string(n);
  std::ofstream out(path + ".new", std::ios::trunc);
  out << framer_text(n, f);
  out.close();
  return out && std::rename((path + ".new").c_str(), path.c_str()) == 0;
}

bool SimMonitoring::remove_framer(int n) {
  if (n < 0 || n >= kFramers || Paths::root().empty()) return false;
  return ::unlink((Paths::rooted(kFramerDir) + std::to_string(n)).c_str()) == 0;
}

std::optional<std::string> SimMonitoring::execute(const std::vector<std::string_view>& t) {
  if (t.empty()) return std::nullopt;
  const std::string_view cmd = t[0];
  const size_t n = t.size() - 1;
  if (cmd == "framer") {
    // framer <n> <state, '_' for blanks> <loss of signal> <loss of alignment> <neg> <pos>
    auto framer = n == 6 ? whole(t[1], 0, kFramers - 1) : std::nullopt;
    auto los = n == 6 ? yes_no(t[3]) : std::nullopt;
    auto lofa = n == 6 ? yes_no(t[4]) : std::nullopt;
    auto neg = n == 6 ? whole(t[5], INT32_MIN, INT32_MAX) : std::nullopt;
    auto pos = n == 6 ? whole(t[6], INT32_MIN, INT32_MAX) : std::nullopt;
    if (!framer || !los || !lofa || !neg || !pos || t[2].size() > 64)
      return error("usage: framer <0-3> <state> <los yes/no> <lofa yes/no> <neg slips> <pos slips>");
    SimFramer f;
    f.state = std::string(t[2]);
    for (char& c : f.state)
      if (c == '_') c = ' ';
    f.signal_loss = *los;
    f.frame_align_loss = *lofa;
    f.slips_negative = static_cast<int>(*neg);
    f.slips_positive = static_cast<int>(*pos);
    if (!write_framer(static_cast<int>(*framer), f)) return error(std::string("write: ") + std::strerror(errno));
    return ok();
  }
  if (cmd == "framer-remove") {
    auto framer = n == 1 ? whole(t[1], 0, kFramers - 1) : std::nullopt;
    if (!framer) return error("usage: framer-remove <0-3>");
    return ok(remove_framer(static_cast<int>(*framer)) ? "1" : "0");
  }
  return std::nullopt;
}

}  // namespace board::sim
