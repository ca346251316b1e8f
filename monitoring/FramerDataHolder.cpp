#include "monitoring/FramerDataHolder.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::string_view kState = "Current state           : ";
constexpr std::string_view kSignalLoss = "Loss of Signal          : ";
constexpr std::string_view kFrameAlignLoss = "Loss of Frame Alignment : ";
constexpr std::string_view kSlipNegative = "Receive Slip Negative   : ";
constexpr std::string_view kSlipPositive = "Receive Slip Positive   : ";

// The rest of the line after the first occurrence of key, if the line holds it.
bool value_after(std::string_view line, std::string_view key, std::string_view& value) {
  const size_t at = line.find(key);
  if (at == std::string_view::npos) return false;
  value = line.substr(at + key.size());
  return true;
}

// The value as strtol reads it in base 10: no digits give 0. Values beyond int are clamped
// (a driver counter never gets there; a corrupt file must not wrap into a negative count).
int decimal(std::string_view value) {
  const std::string text(value);
  long v = std::strtol(text.c_str(), nullptr, 10);
  v = std::clamp<long>(v, INT32_MIN, INT32_MAX);
  return static_cast<int>(v);
}

template <class T>
void update(T& field, T value, bool& changed) {
  if (field == value) return;
  field = value;
  changed = true;
}

}  // namespace

FramerDataHolder::FramerDataHolder(int index, std::string const& fileName) : index(index), fileName(fileName) {}

bool FramerDataHolder::setFramerStatus(std::vector<unsigned char>& bytes) {
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  text = text.substr(0, text.find('\0'));
  bool changed = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::string_view value;
    if (value_after(line, kState, value) && value != statusDsc) {
      statusDsc = std::string(value);
      connected = statusDsc != "No Carrier";
      changed = true;
    }
    if (value_after(line, kSignalLoss, value)) update(signalLoss, value == "yes", changed);
    if (value_after(line, kFrameAlignLoss, value)) update(frameAlignLoss, value == "yes", changed);
    if (value_after(line, kSlipNegative, value)) update(negSlipCount, decimal(value), changed);
    if (value_after(line, kSlipPositive, value)) update(posSlipCount, decimal(value), changed);
  }
  return changed;
}
