#include "board/sim/SimVoice.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "board/sim/SimBoard.h"
#include "board/voice.h"

namespace board::sim {

namespace {
constexpr RequestDef kRequests[] = {
    {board::voice::VOICE_CODEC_CHANNELS, "VOICE_CODEC_CHANNELS", ArgForm::record, 1, {FieldDef{"codec", 0, 4, FieldDef::s}}},
    {board::voice::VOICE_VERSION, "VOICE_VERSION", ArgForm::record, 0, {}},
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
  if (number == board::voice::VOICE_CODEC_CHANNELS) {
    auto it = codec_channels.find(reinterpret_cast<board::voice::CodecQuery*>(record)->codec);
    if (it != codec_channels.end()) return it->second;
  }
  error = EINVAL;
  return -1;
}

std::optional<std::string> voice_command(SimBoard& board, const std::vector<std::string_view>& t,
                                         std::string_view line) {
  if (t.empty()) return std::nullopt;
  SimVoice& voice = board.state().voice;
  if (t[0] == "voice-version") {
    if (t.size() == 1) return "ok " + voice.version + "\n";
    // The text is the rest of the line, blanks inside it included ("sim-voice 1.0").
    constexpr std::string_view kBlanks = " \t\r";
    std::string_view text = line.substr(static_cast<size_t>(t[0].data() - line.data()) + t[0].size());
    text.remove_prefix(std::min(text.size(), text.find_first_not_of(kBlanks)));
    text = text.substr(0, text.find_last_not_of(kBlanks) + 1);
    if (text.size() > sizeof(board::voice::VersionInfo::text))
      return "error usage: voice-version [<text of at most 20 bytes>]\n";
    voice.version = std::string(text);
    return "ok\n";
  }
  return std::nullopt;
}

}  // namespace board::sim
