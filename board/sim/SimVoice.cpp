#include "board/sim/SimVoice.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "board/sim/SimBoard.h"
#include "board/voice.h"

namespace board::sim {

namespace {
constexpr RequestDef kRequests[] = {
    {board::voice::VOICE_CODEC_CHANNELS, "VOICE_CODEC_CHANNELS", ArgForm::record, 1, {FieldDef{"codec", 0, 4, FieldDef::s}}},
    {board::voice::VOICE_VERSION, "VOICE_VERSION", ArgForm::record, 0, {}},
    {board::voice::VOICE_ECHO_BUSES, "VOICE_ECHO_BUSES", ArgForm::none, 0, {}},
};
}  // namespace

std::span<const RequestDef> SimVoice::requests() { return kRequests; }

int SimVoice::request(uint32_t number, uint8_t* record, int& error) {
  if (number == board::voice::VOICE_VERSION) {
    auto* v = reinterpret_cast<board::voice::VersionInfo*>(record);
    std::memset(v->text, 0, sizeof v->text);
    std::memcpy(v->text, version.data(), std::min(version.size(), sizeof v->text));
    return 0;
  }
  if (number == board::voice::VOICE_ECHO_BUSES) return static_cast<int>(echo_buses & 0xFFFF);
  if (number == board::voice::VOICE_CODEC_CHANNELS) {
    auto it = codec_channels.find(reinterpret_cast<board::voice::CodecQuery*>(record)->codec);
    if (it != codec_channels.end()) return it->second;
  }
  error = EINVAL;
  return -1;
}

std::optional<std::string> voice_command(SimBoard& board, const std::vector<std::string_view>& t) {
  if (t.empty()) return std::nullopt;
  SimVoice& voice = board.state().voice;
  if (t[0] == "voice-version") {
    if (t.size() != 2 || t[1].size() > sizeof(board::voice::VersionInfo::text))
      return "error usage: voice-version <text of at most 20 bytes>\n";
    voice.version = std::string(t[1]);
    return "ok\n";
  }
  if (t[0] == "echo-buses") {
    uint32_t mask = 0;
    std::string_view v = t.size() == 2 ? t[1] : std::string_view();
    int base = 10;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) v.remove_prefix(2), base = 16;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), mask, base);
    if (t.size() > 2 || (t.size() == 2 && (v.empty() || ec != std::errc() || end != v.data() + v.size() || mask > 0xFFFF)))
      return "error usage: echo-buses [<mask of buses 0-15>]\n";
    if (t.size() == 2) voice.echo_buses = mask;
    return "ok " + std::to_string(voice.echo_buses) + "\n";
  }
  return std::nullopt;
}

}  // namespace board::sim
