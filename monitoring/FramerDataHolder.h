#pragma once
// The status of one E1 framer as its driver publishes it in a text status file: carrier,
// state text, signal and frame-alignment loss, and the receive slip counters.
#include <string>
#include <vector>

class FramerDataHolder {
 public:
  FramerDataHolder(int index, std::string const& fileName);

  // Parses the bytes of one read of the status file; true when any field changed.
  bool setFramerStatus(std::vector<unsigned char>& bytes);

  bool connected = false;
  std::string statusDsc = "absent";
  bool signalLoss = true;
  bool frameAlignLoss = true;
  int negSlipCount = 0;
  int posSlipCount = 0;
  int index;  // 1 to 4, also the SNMP table index
  std::string fileName;
};
