#include "board/sim/SimVoice.h"

#include <cerrno>

#include "board/voice.h"

namespace board::sim {

namespace {
constexpr RequestDef kRequests[] = {
    {board::voice::VOICE_CODEC_CHANNELS, "VOICE_CODEC_CHANNELS", ArgForm::record, 1, {FieldDef{"codec", 0, 4, FieldDef::s}}},
};
}  // namespace

std::span<const RequestDef> SimVoice::requests() { return kRequests; }

int SimVoice::request(uint32_t number, uint8_t* record, int& error) {
  if (number == board::voice::VOICE_CODEC_CHANNELS) {
    auto it = codec_channels.find(reinterpret_cast<board::voice::CodecQuery*>(record)->codec);
    if (it != codec_channels.end()) return it->second;
  }
  error = EINVAL;
  return -1;
}

}  // namespace board::sim
