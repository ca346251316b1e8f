#pragma once
// The simulated board's devices, by the driver path the daemon opens.
#include <cstdint>
#include <optional>
#include <string_view>

namespace board::sim {

enum class Device : uint8_t { hal, mcc, maintenance, e1cas, dtmf, dsp, rtp_ext, rtp, voice, mctl, dspdata, mixer };
inline constexpr int kDevices = 12;

// "/dev/hal", "/dev/mcc/ctl", ...
const char* device_path(Device device);
// The short name used by the text protocol: "hal", "mcc", "maintenance", "e1-cas", "dtmf", "dsp", "rtp-ext",
// "rtp", "voice", "mctl", "dsp-data", "mixer".
const char* device_name(Device device);
// Accepts the path or the short name.
std::optional<Device> find_device(std::string_view name_or_path);

}  // namespace board::sim
