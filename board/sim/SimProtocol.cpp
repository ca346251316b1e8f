#include "board/sim/SimProtocol.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "board/sim/SimBoard.h"
#include "board/sim/SimMixer.h"
#include "board/sim/SimVoice.h"
#include "board/sim/SimMonitoring.h"
#include "board/sim/TextFields.h"

namespace board::sim {

namespace {

constexpr size_t kMaxTokens = 16;

std::vector<std::string_view> split(std::string_view line) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < line.size() && tokens.size() <= kMaxTokens) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

std::optional<int> error_number(std::string_view t) {
  static const struct {
    const char* name;
    int value;
  } kNames[] = {{"EPERM", EPERM},   {"ENOENT", ENOENT}, {"EINTR", EINTR},   {"EIO", EIO},
                {"ENXIO", ENXIO},   {"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"EACCES", EACCES},
                {"EFAULT", EFAULT}, {"EBUSY", EBUSY},   {"ENODEV", ENODEV}, {"EINVAL", EINVAL},
                {"ENOTTY", ENOTTY}, {"ENOSPC", ENOSPC}, {"ETIMEDOUT", ETIMEDOUT}};
  for (const auto& n : kNames) {
    if (t == n.name) return n.value;
  }
  if (t == "none") return 0;
  auto v = number(t, 0, 4095);
  if (!v) return std::nullopt;
  return static_cast<int>(*v);
}

std::string ok(const std::string& text = {}) { return text.empty() ? "ok\n" : "ok " + text + "\n"; }
std::string error(const std::string& text) { return "error " + text + "\n"; }

const char* kHelp =
    "reset service requests clear-requests count fail fail-open refuse hangup open raw dtmf cas trunk "
    "dsp-vad dsp-sd dsp-bss dsp-flags dsp-event hdlc-frame tdm-frame stall unstall cable loopback uncable "
    "switch connections read channels frames clock tclk cas-state spi spi-present dip power leds vad-version "
    "tone dsp tone-filters mcc-capacity rtp-ext-packet rtp-ext-sessions rtp-ext-sent tie untie far-ends records rtp-event "
    "rtp-sessions rtp-capacity voice-codec modems modem-state mixer-unit mixer-inputs mixer-remove "
    "mixer-units mixer-sum voice-version hdlc-hangup";

std::string dotted(uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." + std::to_string((a >> 8) & 255) + "." +
         std::to_string(a & 255);
}

std::string session_line(const RtpSession& s) {
  const auto& p = s.params;
  return std::to_string(s.channel) + " begun=" + std::to_string(s.begun) + " remote=" + dotted(p.remote_addr) + ":" +
         std::to_string(p.remote_port) + " local=" + dotted(p.local_addr) + ":" + std::to_string(p.local_port) +
         " rx_pt=" + std::to_string(p.rx_pt) + " tx_pt=" + std::to_string(p.tx_pt) +
         " pfactor=" + std::to_string(p.packet_factor) + " vad=" + std::to_string(p.vad) +
         " rate=" + std::to_string(p.rate) + " ssrc=" + std::to_string(p.ssrc) + " ttl=" + std::to_string(p.ttl) +
         " dscp=" + std::to_string(p.dscp) + " receiving=" + std::to_string(s.receiving) +
         " pd=" + (s.pd ? std::to_string(s.pd_timeout) : std::string("-")) + " ended=" + std::to_string(s.ended) +
         " attach=" + (s.attach ? std::to_string(s.attach->fd_rtp) + "/" + std::to_string(s.attach->pid_rtp) : "-") +
         "\n";
}

}  // namespace

std::string SimProtocol::execute(std::string_view line) {
  if (line.size() > kMaxLine) return error("line too long");
  auto t = split(line);
  if (t.empty()) return error("empty line");
  if (t.size() > kMaxTokens) return error("too many words");
  std::string_view cmd = t[0];
  size_t n = t.size() - 1;
  BoardState& st = board_.state();

  // Argument i as a number in [lo, hi]; `bad` is set when it is missing or malformed.
  bool bad = false;
  auto num = [&](size_t i, int64_t lo, int64_t hi) -> int64_t {
    auto v = i < t.size() ? number(t[i], lo, hi) : std::nullopt;
    if (!v) bad = true;
    return v.value_or(0);
  };
  auto opt_id = [&](size_t i) -> std::optional<uint32_t> {
    if (i >= t.size()) return std::nullopt;
    return static_cast<uint32_t>(num(i, 0, 0xFFFFFFFF));
  };
  auto device = [&](size_t i) -> Device {
    auto d = i < t.size() ? find_device(t[i]) : std::nullopt;
    if (!d) bad = true;
    return d.value_or(Device::hal);
  };
  auto usage = [&](const char* u) { return error(std::string("usage: ") + u); };
  auto count = [](unsigned v) { return ok(std::to_string(v)); };
  constexpr int64_t kU32 = 0xFFFFFFFF;
  constexpr int64_t kTs = SimBoard::kMaxTimeslot;
  constexpr int64_t kCh = SimSwitch::kChannels - 1;

  if (cmd == "help") return ok(std::string(kHelp) + " " + SimNetif::help() + " " + SimMonitoring::help());
  if (auto reply = rtp_ext_command(board_, t)) return *reply;
  if (auto reply = mixer_command(board_, t)) return *reply;
  if (auto reply = voice_command(board_, t)) return *reply;
  if (auto reply = board_.netif().execute(t)) return *reply;
  if (auto reply = SimMonitoring::instance().execute(t)) return *reply;
  if (auto reply = modem_command(board_, t)) return *reply;
  if (cmd == "reset" && n == 0) {
    board_.reset();
    return ok();
  }
  if (cmd == "service" && n == 0) {
    board_.service();
    return ok();
  }
  if (cmd == "requests") {
    auto d = device(1);
    size_t max = n >= 2 ? static_cast<size_t>(num(2, 0, kMaxListing)) : 100;
    const RequestDef* only = nullptr;
    if (!bad && n == 3) {
      for (const RequestDef& def : requests_of(d)) {
        if (t[3] == def.name) only = &def;
      }
      if (!only) bad = true;
    }
    if (bad || n > 3) return usage("requests <device> [<max> [<request name>]]");
    auto log = only ? board_.requests(d, only->number) : board_.requests(d);
    size_t first = log.size() > max ? log.size() - max : 0;
    std::string out = ok(std::to_string(log.size() - first));
    for (size_t i = first; i < log.size(); ++i) out += log[i].text() + "\n";
    return out;
  }
  if (cmd == "clear-requests" && n == 0) {
    board_.clear_requests();
    return ok();
  }
  if (cmd == "count") {
    auto d = device(1);
    if (bad || n != 1) return usage("count <device>");
    return ok(std::to_string(board_.request_count(d)));
  }
  if (cmd == "fail" || cmd == "fail-open") {
    auto d = device(1);
    auto e = n >= 2 ? error_number(t[2]) : std::nullopt;
    unsigned times = n >= 3 ? static_cast<unsigned>(num(3, 0, 1000000)) : 1;
    if (bad || !e || n > (cmd == "fail" ? 3u : 2u)) return usage("fail <device> <errno> [<count>] | fail-open <device> <errno>");
    if (cmd == "fail") board_.fail_next(d, *e, times);
    else board_.fail_open(d, *e);
    return ok();
  }
  if (cmd == "refuse") {
    const int64_t channel = num(1, 0, kCh);
    auto e = n == 2 ? error_number(t[2]) : std::nullopt;
    if (bad || !e) return usage("refuse <channel> <errno>");
    board_.refuse_channel(static_cast<int>(channel), *e);
    return ok();
  }
  if (cmd == "hangup") {
    auto d = device(1);
    if (bad || n != 1) return usage("hangup <device>");
    board_.hangup(d);
    return ok();
  }
  if (cmd == "open") {
    auto d = device(1);
    if (bad || n != 1) return usage("open <device>");
    return count(static_cast<unsigned>(board_.open_count(d)));
  }
  if (cmd == "raw") {
    auto d = device(1);
    auto bytes = n == 2 ? hex(t[2]) : std::nullopt;
    if (bad || !bytes) return usage("raw <device> <hex>");
    return count(board_.inject_raw(d, *bytes));
  }
  if (cmd == "dtmf") {
    auto ts = num(1, 0, kU32), code = num(2, 0, kU32), stamp = n >= 3 ? num(3, 0, kU32) : 0;
    auto id = opt_id(4);
    if (bad || n < 2 || n > 4) return usage("dtmf <timeslot> <code> [<timestamp> [<id>]]");
    return count(board_.dtmf_event(static_cast<uint32_t>(ts), static_cast<uint32_t>(code), static_cast<uint32_t>(stamp), id));
  }
  if (cmd == "cas") {
    auto trunk = num(1, 0, 3), ts = num(2, 0, 31), rx = num(3, 0, 15);
    if (bad || n != 3) return usage("cas <trunk> <timeslot> <rx bits>");
    return count(board_.cas_change(static_cast<uint32_t>(trunk), static_cast<uint32_t>(ts), static_cast<uint8_t>(rx)));
  }
  if (cmd == "trunk") {
    TrunkState s;
    auto trunk = num(1, 0, 3);
    s.state = static_cast<uint32_t>(num(2, 0, kU32));
    s.slips = static_cast<uint32_t>(num(3, 0, kU32));
    s.loss_bf = static_cast<uint32_t>(num(4, 0, kU32));
    s.loss_carrier = static_cast<uint32_t>(num(5, 0, kU32));
    s.ais = static_cast<uint32_t>(num(6, 0, kU32));
    s.rai = static_cast<uint32_t>(num(7, 0, kU32));
    if (bad || n != 7) return usage("trunk <trunk> <state> <slips> <lossBF> <lossCarrier> <ais> <rai>");
    board_.set_trunk_status(static_cast<uint32_t>(trunk), s);
    return ok();
  }
  if (cmd == "dsp-vad") {
    auto ts = num(1, 0, kU32), dir = num(2, 0, kU32), rx = num(3, INT32_MIN, INT32_MAX), tx = num(4, INT32_MIN, INT32_MAX);
    auto id = opt_id(5);
    if (bad || n < 4 || n > 5) return usage("dsp-vad <timeslot> <dir_mask> <rx> <tx> [<id>]");
    return count(board_.dsp_vad(static_cast<uint32_t>(ts), static_cast<uint32_t>(dir), static_cast<int32_t>(rx),
                                static_cast<int32_t>(tx), id));
  }
  if (cmd == "dsp-sd") {
    auto ts = num(1, 0, kU32), sd = num(2, INT32_MIN, INT32_MAX);
    auto id = opt_id(3);
    if (bad || n < 2 || n > 3) return usage("dsp-sd <timeslot> <sd_rx> [<id>]");
    return count(board_.dsp_sd(static_cast<uint32_t>(ts), static_cast<int32_t>(sd), id));
  }
  if (cmd == "dsp-bss") {
    auto ts = num(1, 0, kU32);
    float score = 0;
    if (n >= 2) {
      auto [end, ec] = std::from_chars(t[2].data(), t[2].data() + t[2].size(), score);
      if (ec != std::errc() || end != t[2].data() + t[2].size()) bad = true;
    }
    auto id = opt_id(3);
    if (bad || n < 2 || n > 3) return usage("dsp-bss <timeslot> <score> [<id>]");
    return count(board_.dsp_bss(static_cast<uint32_t>(ts), score, id));
  }
  if (cmd == "dsp-flags") {
    auto ts = num(1, 0, kU32), flags = num(2, 0, kU32), mask = num(3, 0, kU32);
    auto id = opt_id(4);
    if (bad || n < 3 || n > 4) return usage("dsp-flags <timeslot> <flags> <mask> [<id>]");
    return count(board_.dsp_flags(static_cast<uint32_t>(ts), static_cast<uint32_t>(flags), static_cast<uint32_t>(mask), id));
  }
  if (cmd == "dsp-event") {
    auto ts = num(1, 0, kU32), type = num(2, 0, kU32);
    auto payload = n >= 3 ? hex(t[3]) : std::nullopt;
    auto id = opt_id(4);
    if (bad || !payload || payload->size() > 12 || n > 4) return usage("dsp-event <timeslot> <type> <hex payload> [<id>]");
    return count(board_.dsp_event(static_cast<uint32_t>(ts), static_cast<uint32_t>(type), *payload, id));
  }
  if (cmd == "hdlc-frame" || cmd == "tdm-frame") {
    auto ch = num(1, 0, kCh);
    auto bytes = n == 2 ? hex(t[2]) : std::nullopt;
    if (bad || !bytes) return usage("hdlc-frame|tdm-frame <channel> <hex>");
    if (cmd == "hdlc-frame") return count(board_.hdlc_frame(static_cast<int>(ch), *bytes) ? 1 : 0);
    return count(board_.tdm_frame(static_cast<int>(ch), *bytes));
  }
  if (cmd == "hdlc-hangup") {
    auto ch = num(1, 0, kCh);
    if (bad || n != 1) return usage("hdlc-hangup <channel>");
    return count(board_.hangup_channel(static_cast<int>(ch)) ? 1 : 0);
  }
  if (cmd == "stall" || cmd == "unstall") {
    auto ch = num(1, 0, kCh);
    if (bad || n != 1) return usage("stall|unstall <channel>");
    return count(board_.stall(static_cast<int>(ch), cmd == "stall") ? 1 : 0);
  }
  if (cmd == "cable" || cmd == "loopback" || cmd == "uncable") {
    auto out = num(1, 0, kCh);
    auto in = cmd == "cable" ? num(2, 0, kCh) : out;
    if (bad || n != (cmd == "cable" ? 2u : 1u)) return usage("cable <output> <input> | loopback <output> | uncable <output>");
    if (cmd == "uncable") st.mux.uncable(static_cast<int>(out));
    else st.mux.cable(static_cast<int>(out), static_cast<int>(in));
    return ok();
  }
  if (cmd == "tie" || cmd == "untie") {
    auto ch = num(1, 0, kCh);
    if (bad || n != (cmd == "tie" ? 2u : 1u)) return usage("tie <channel> <socket path> | untie <channel>");
    if (cmd == "untie") return count(board_.untie_far_end(static_cast<int>(ch)) ? 1 : 0);
    int e = board_.tie_far_end(static_cast<int>(ch), std::string(t[2]));
    return e ? error(std::strerror(e)) : ok();
  }
  if (cmd == "far-ends") {
    if (n != 0) return usage("far-ends");
    std::string out = ok(std::to_string(board_.far_end().ties().size()));
    for (const auto& [ch, tie] : board_.far_end().ties()) {
      out += std::to_string(ch) + " sent=" + std::to_string(tie.sent) + " received=" + std::to_string(tie.received) +
             " dropped=" + std::to_string(tie.dropped) + " path=" + tie.path + "\n";
    }
    return out;
  }
  if (cmd == "switch" || cmd == "read") {
    auto ch = num(1, 0, kCh);
    if (bad || n != 1) return usage("switch|read <channel>");
    if (cmd == "read") return ok(std::to_string(st.mux.read(static_cast<int>(ch))));
    const SimSwitch::Entry& e = st.mux.entry(static_cast<int>(ch));
    if (e.kind == SimSwitch::Entry::constant) return ok("constant " + std::to_string(e.byte));
    if (e.kind == SimSwitch::Entry::connected) return ok("connected " + std::to_string(e.source));
    return ok("disabled");
  }
  if (cmd == "connections" && n == 0) {
    const auto driven = st.mux.driven();
    std::string out = ok(std::to_string(driven.size()));
    for (const auto& [ch, e] : driven)
      out += std::to_string(ch) + (e.kind == SimSwitch::Entry::connected ? " connected " + std::to_string(e.source)
                                                                         : " constant " + std::to_string(e.byte)) + "\n";
    return out;
  }
  if (cmd == "channels" && n == 0) {
    const auto& channels = board_.hdlc_channels();
    std::string out = ok(std::to_string(channels.size()));
    for (const auto& [ch, c] : channels) {
      out += std::to_string(ch) + " type=" + std::to_string(c.type) + " open=" + (c.open ? "1" : "0") +
             " sent=" + std::to_string(c.sent_count) + " received=" + std::to_string(c.received_count) +
             " dropped=" + std::to_string(c.dropped_count) + "\n";
    }
    return out;
  }
  if (cmd == "frames") {
    auto ch = num(1, 0, kCh);
    size_t max = n >= 2 ? static_cast<size_t>(num(2, 0, kMaxListing)) : 100;
    if (bad || n > 2) return usage("frames <channel> [<max>]");
    auto frames = board_.frames_sent(static_cast<int>(ch));
    size_t first = frames.size() > max ? frames.size() - max : 0;
    std::string out = ok(std::to_string(frames.size() - first));
    for (size_t i = first; i < frames.size(); ++i) out += to_hex(frames[i]) + "\n";
    return out;
  }
  if (cmd == "clock" && n == 0) return ok(std::to_string(st.clock_source));
  if (cmd == "tclk" && n == 0) return ok(std::to_string(st.tclk_mask));
  if (cmd == "cas-state") {
    auto trunk = num(1, 0, 3), ts = num(2, 0, 31);
    if (bad || n != 2) return usage("cas-state <trunk> <timeslot>");
    const CasChannelState& c = st.cas[static_cast<size_t>(trunk)][static_cast<size_t>(ts)];
    return ok("open=" + std::to_string(st.cas_trunk_open[static_cast<size_t>(trunk)]) +
              " enabled=" + std::to_string(c.enabled) + " rx=" + std::to_string(c.rx) + " tx=" + std::to_string(c.tx));
  }
  if (cmd == "spi") {
    auto ch = num(1, 0, 7), addr = num(2, 0, 255);
    auto value = n >= 3 ? num(3, 0, 255) : 0;
    if (bad || n < 2 || n > 3) return usage("spi <channel> <address> [<value>]");
    uint8_t& reg = st.spi[static_cast<size_t>(ch)][static_cast<size_t>(addr)];
    if (n == 3) reg = static_cast<uint8_t>(value);
    return ok(std::to_string(reg));
  }
  if (cmd == "spi-present" || cmd == "dip" || cmd == "power" || cmd == "vad-version") {
    auto v = num(1, 0, cmd == "vad-version" ? kU32 : cmd == "spi-present" ? 1 : 255);
    if (bad || n != 1) return usage("spi-present 0|1 | dip <byte> | power <byte> | vad-version <n>");
    if (cmd == "spi-present") st.spi_present = v != 0;
    else if (cmd == "dip") st.dip = static_cast<uint8_t>(v);
    else if (cmd == "power") st.power = static_cast<uint8_t>(v);
    else st.vad_version = static_cast<uint32_t>(v);
    return ok();
  }
  if (cmd == "leds" && n == 0) return ok(std::to_string(st.leds));
  if (cmd == "tone") {
    auto ts = num(1, 0, kTs);
    if (bad || n != 1) return usage("tone <timeslot>");
    auto it = st.tones.find(static_cast<uint32_t>(ts));
    ToneTimeslot tone = it == st.tones.end() ? ToneTimeslot{} : it->second;
    std::string selcal;
    for (char c : tone.selcal) selcal += (c > 0x20 && c < 0x7F) ? c : '.';
    return ok("detector=" + std::to_string(tone.detector) + " id=" + std::to_string(tone.detector_id) +
              " f1=" + std::to_string(tone.frequency1) + " f2=" + std::to_string(tone.frequency2) +
              " a1=" + std::to_string(tone.amplitude1) + " a2=" + std::to_string(tone.amplitude2) +
              " lms=" + std::to_string(tone.echo_canceller) + " rejection=" + std::to_string(tone.rejection) +
              " iva=" + std::to_string(tone.iva) + " iva_level=" + std::to_string(tone.iva_level_db) +
              " twist=" + std::to_string(tone.twist) + " ratio=" + std::to_string(tone.ratio) +
              " noise=" + std::to_string(tone.noise) + " silence=" + std::to_string(tone.silence) +
              " selcal=" + (selcal.empty() ? "-" : selcal));
  }
  if (cmd == "dsp") {
    auto ts = num(1, 0, kTs);
    if (bad || n != 1) return usage("dsp <timeslot>");
    auto it = st.dsp.find(static_cast<uint32_t>(ts));
    if (it == st.dsp.end()) return ok("enabled=0");
    std::string out = "enabled=" + std::to_string(it->second.enabled);
    for (const auto& [bit, id] : it->second.ids) out += " id" + std::to_string(bit) + "=" + std::to_string(id);
    for (const auto& [what, p] : it->second.configured) out += " config" + std::to_string(what) + "=" + to_hex(Bytes(p.begin(), p.end()));
    return ok(out);
  }
  if (cmd == "tone-filters") {
    auto ts = num(1, 0, kTs);
    if (bad || n != 1) return usage("tone-filters <timeslot>");
    auto it = st.dsp.find(static_cast<uint32_t>(ts));
    if (it == st.dsp.end()) return count(0);
    std::string out = ok(std::to_string(it->second.filters.size()));
    for (const auto& [frequency, p] : it->second.filters) {
      out += std::to_string(frequency) + " duration=" + std::to_string(p[4] << 8 | p[5]) +
             " level=" + std::to_string(static_cast<int8_t>(p[6])) + "\n";
    }
    return out;
  }
  if (cmd == "mcc-capacity") {
    auto d = num(1, 0, 256), b = num(2, 0, 256), tr = num(3, 0, 256);
    if (bad || n != 3) return usage("mcc-capacity <data> <bri> <transparent>");
    st.mcc_data_capacity = static_cast<uint32_t>(d);
    st.mcc_bri_capacity = static_cast<uint32_t>(b);
    st.mcc_transparent_capacity = static_cast<uint32_t>(tr);
    return ok();
  }
  if (cmd == "records") {
    auto d = device(1);
    const RequestDef* only = nullptr;
    for (const RequestDef& def : requests_of(d)) {
      if (n >= 2 && t[2] == def.name) only = &def;
    }
    size_t max = n >= 3 ? static_cast<size_t>(num(3, 0, kMaxListing)) : 100;
    if (bad || !only || n > 3) return usage("records <device> <request name> [<max>]");
    auto log = board_.requests(d, only->number);
    size_t first = log.size() > max ? log.size() - max : 0;
    std::string out = ok(std::to_string(log.size() - first));
    for (size_t i = first; i < log.size(); ++i) out += to_hex(log[i].bytes()) + " -> " + std::to_string(log[i].result) + "\n";
    return out;
  }
  if (cmd == "rtp-event") {
    auto ch = num(1, 0, kCh), type = num(2, 0, kU32), value = n >= 3 ? num(3, 0, kU32) : 0;
    auto timeout = opt_id(4);
    if (bad || n < 2 || n > 4) return usage("rtp-event <channel> <type> [<value> [<timeout>]]");
    return count(board_.rtp_event(static_cast<int>(ch), static_cast<uint32_t>(type), static_cast<uint32_t>(value), timeout));
  }
  if (cmd == "rtp-sessions" && n == 0) {
    board_.service();
    const auto& sessions = st.rtp.sessions();
    std::string out = ok(std::to_string(sessions.size()));
    for (const auto& [handle, s] : sessions) out += session_line(s);
    return out;
  }
  if (cmd == "rtp-capacity") {
    auto v = num(1, 0, SimRtp::kMaxChannels);
    if (bad || n != 1) return usage("rtp-capacity <sessions>");
    st.rtp.capacity = static_cast<unsigned>(v);
    return ok();
  }
  if (cmd == "voice-codec") {
    auto id = num(1, INT32_MIN, INT32_MAX), v = n >= 2 ? num(2, INT32_MIN, INT32_MAX) : 0;
    if (bad || n < 1 || n > 2) return usage("voice-codec <codec id> [<channels>]");
    auto& codecs = st.voice.codec_channels;
    auto it = codecs.find(static_cast<int32_t>(id));
    if (n == 2 && it == codecs.end() && codecs.size() >= SimVoice::kMaxCodecs) return error("too many codecs");
    if (n == 2) it = codecs.insert_or_assign(static_cast<int32_t>(id), static_cast<int32_t>(v)).first;
    return it == codecs.end() ? error("no such codec") : ok(std::to_string(it->second));
  }
  std::string shown(cmd.substr(0, 32));
  for (char& c : shown) {
    if (c < 0x21 || c > 0x7E) c = '?';
  }
  return error("unknown command " + shown);
}

std::string SimProtocol::feed(std::string_view bytes) {
  std::string replies;
  while (!bytes.empty()) {
    size_t nl = bytes.find('\n');
    std::string_view part = bytes.substr(0, nl);
    bytes.remove_prefix(nl == std::string_view::npos ? bytes.size() : nl + 1);
    if (!discarding_) {
      if (pending_.size() + part.size() > kMaxLine) {
        replies += error("line too long");
        pending_.clear();
        discarding_ = true;
      } else {
        pending_.append(part);
      }
    }
    if (nl == std::string_view::npos) break;
    if (!discarding_) replies += execute(pending_);
    pending_.clear();
    discarding_ = false;
  }
  return replies;
}

}  // namespace board::sim
