#pragma once
// What the simulated board shows the monitoring service besides "/dev/hal" and its network
// interfaces (SimNetif): the status files of its four E1 framers, written under the path root
// as the framer driver would.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace board::sim {

struct SimFramer {
  std::string state = "No Carrier";
  bool signal_loss = true;
  bool frame_align_loss = true;
  int slips_negative = 0;
  int slips_positive = 0;
};

class SimMonitoring {
 public:
  static constexpr int kFramers = 4;
  static constexpr const char* kFramerDir = "/proc/driver/hdlc/peb22554/";

  static SimMonitoring& instance();

  // --- framer status files: the text the driver publishes for framer n (0 to 3)
  static std::string framer_text(int n, const SimFramer& f);
  // Writes the status file of framer n under the path root (replacing it); false on failure
  // and when no path root is set.
  bool write_framer(int n, const SimFramer& f);
  bool remove_framer(int n);

  // The text protocol's framer lines ("framer", "framer-remove"); nothing when the command is
  // not one of them.
  std::optional<std::string> execute(const std::vector<std::string_view>& words);
  static const char* help() { return "framer framer-remove"; }
};

}  // namespace board::sim
