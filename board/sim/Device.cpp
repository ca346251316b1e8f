#include "board/sim/Device.h"

#include "board/dsp.h"
#include "board/dspdata.h"
#include "board/dtmf.h"
#include "board/e1cas.h"
#include "board/hal.h"
#include "board/maintenance.h"
#include "board/mctl.h"
#include "board/mcc.h"
#include "board/mixer.h"
#include "board/rtp_ext.h"
#include "board/rtp.h"
#include "board/voice.h"

namespace board::sim {

namespace {
struct Names {
  const char* path;
  const char* name;
};
constexpr Names kNames[kDevices] = {
    {hal::kPath, "hal"},    {mcc::kPath, "mcc"},   {maintenance::kPath, "maintenance"},
    {e1cas::kPath, "e1-cas"}, {dtmf::kPath, "dtmf"}, {dsp::kPath, "dsp"},
    {rtp_ext::kPath, "rtp-ext"},
    {rtp::kPath, "rtp"},    {voice::kPath, "voice"},
    {mctl::kPath, "mctl"},
    {dspdata::kPath, "dsp-data"},
    {mixer::kPath, "mixer"},
};
}  // namespace

const char* device_path(Device device) { return kNames[static_cast<int>(device)].path; }
const char* device_name(Device device) { return kNames[static_cast<int>(device)].name; }

std::optional<Device> find_device(std::string_view name_or_path) {
  for (int i = 0; i < kDevices; ++i) {
    if (name_or_path == kNames[i].path || name_or_path == kNames[i].name) return static_cast<Device>(i);
  }
  return std::nullopt;
}

}  // namespace board::sim
