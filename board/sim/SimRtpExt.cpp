#include "board/sim/SimRtpExt.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "board/rtp_ext.h"
#include "board/sim/TextFields.h"

namespace board::sim {

RtpExtSession& SimRtpExt::session(uint64_t key) {
  auto it = open_.find(key);
  if (it != open_.end()) return sessions_[it->second];
  int id = next_id_++;
  open_[key] = id;
  RtpExtSession& s = sessions_[id];
  s.id = id;
  return s;
}

const RtpExtSession* SimRtpExt::find(int id) const {
  auto it = sessions_.find(id);
  return it == sessions_.end() ? nullptr : &it->second;
}

// The daemon reads the socket directly, so what it has consumed shows only in the bytes still
// queued on its end: every packet beyond those was read.
void SimRtpExt::forget_consumed(RtpExtSession& s, int fd) {
  int pending = 0;
  if (::ioctl(fd, FIONREAD, &pending) < 0) return;
  uint64_t queued = 0;
  for (const auto& q : s.queued) queued += q.size;
  while (!s.queued.empty() && queued > static_cast<uint64_t>(pending)) {
    queued -= s.queued.front().size;
    s.queued.pop_front();
  }
}

int SimRtpExt::request(uint64_t key, int fd, uint32_t number, uint8_t* record, int& error) {
  using namespace board::rtp_ext;
  RtpExtSession& s = session(key);
  switch (number) {
    case RTP_EXT_INIT: {
      auto* r = reinterpret_cast<InitParams*>(record);
      s.initialised = true;
      s.etype = r->etype;
      s.mode = r->mode;
      s.keepalive_pt = r->keepalive_pt;
      s.keepalive_period = r->keepalive_period;
      s.keepalive_sigtime = r->keepalive_sigtime;
      return 0;
    }
    case RTP_EXT_ATTACH: {
      auto* r = reinterpret_cast<AttachParams*>(record);
      if (!s.initialised) break;
      s.attached = true;
      s.fd_rtp = r->fd_rtp;
      s.pid_rtp = r->pid_rtp;
      return 0;
    }
    case RTP_EXT_DETACH:
      if (!s.attached) break;
      s.attached = false;
      return 0;
    case RTP_EXT_RX_INFO: {
      auto* r = reinterpret_cast<RxInfo*>(record);
      forget_consumed(s, fd);
      if (s.queued.empty()) {
        std::memset(record, 0, sizeof(RxInfo));
        return 0;
      }
      const auto& q = s.queued.front();
      r->ssrc = q.ssrc;
      r->src_addr = q.src_addr;
      r->driver = q.size;
      return static_cast<int>(q.size);
    }
    case RTP_EXT_SET_FILTER:
      s.filter = true;
      s.filter_addr = reinterpret_cast<Filter*>(record)->src_addr;
      return 0;
    case RTP_EXT_RESET_FILTER:
      s.filter = false;
      s.filter_addr = 0;
      return 0;
  }
  error = EINVAL;
  return -1;
}

void SimRtpExt::packet_from_daemon(uint64_t key, const uint8_t* data, size_t size) {
  RtpExtSession& s = session(key);
  if (s.sent.size() >= kSentLimit) s.sent.pop_front();
  s.sent.emplace_back(data, data + size);
  ++s.sent_count;
}

bool SimRtpExt::accepts(uint64_t key, uint32_t src_addr) {
  RtpExtSession& s = session(key);
  return s.initialised && (!s.filter || s.filter_addr == src_addr);
}

void SimRtpExt::delivered(uint64_t key, uint32_t src_addr, uint32_t ssrc, size_t size, bool ok) {
  RtpExtSession& s = session(key);
  if (!ok) {
    ++s.dropped_count;
    return;
  }
  ++s.received_count;
  s.queued.push_back({src_addr, ssrc, static_cast<uint32_t>(size)});
}

void SimRtpExt::release(uint64_t key) {
  auto it = open_.find(key);
  if (it == open_.end()) return;
  RtpExtSession& s = sessions_[it->second];
  s.open = false;
  s.queued.clear();
  open_.erase(it);
  size_t closed = 0;
  for (const auto& [id, c] : sessions_) closed += c.open ? 0 : 1;
  for (auto c = sessions_.begin(); closed > kClosedLimit && c != sessions_.end();) {
    if (c->second.open) {
      ++c;
      continue;
    }
    c = sessions_.erase(c);
    --closed;
  }
}

void SimRtpExt::reset() {
  sessions_.clear();
  open_.clear();
  next_id_ = 1;
}

}  // namespace board::sim

// ---------------------------------------------------------------- text protocol

#include <arpa/inet.h>

#include "board/sim/SimBoard.h"

namespace board::sim {

namespace {

std::string addr_text(uint32_t a) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr in{};
  in.s_addr = a;
  ::inet_ntop(AF_INET, &in, text, sizeof text);
  return text;
}

std::string session_line(const RtpExtSession& s) {
  char etype[8];
  std::snprintf(etype, sizeof etype, "0x%04X", s.etype);
  return std::to_string(s.id) + " open=" + (s.open ? "1" : "0") + " init=" + (s.initialised ? "1" : "0") +
         " etype=" + etype + " mode=" + std::to_string(s.mode) + " pt=" + std::to_string(s.keepalive_pt) +
         " period=" + std::to_string(s.keepalive_period) + " sigtime=" + std::to_string(s.keepalive_sigtime) +
         " attached=" + (s.attached ? "1" : "0") + " fd_rtp=" + std::to_string(s.fd_rtp) +
         " pid_rtp=" + std::to_string(s.pid_rtp) + " filter=" + (s.filter ? addr_text(s.filter_addr) : "-") +
         " queued=" + std::to_string(s.queued.size()) + " sent=" + std::to_string(s.sent_count) +
         " received=" + std::to_string(s.received_count) + " dropped=" + std::to_string(s.dropped_count) + "\n";
}

}  // namespace

std::optional<std::string> rtp_ext_command(SimBoard& board, const std::vector<std::string_view>& t) {
  if (t.empty()) return std::nullopt;
  std::string_view cmd = t[0];
  size_t n = t.size() - 1;
  if (cmd == "rtp-ext-packet") {
    in_addr src{};
    std::string addr = n >= 1 ? std::string(t[1]) : std::string();
    auto ssrc = n >= 2 ? number(t[2], 0, 0xFFFFFFFF) : std::nullopt;
    auto bytes = n >= 3 ? hex(t[3]) : std::nullopt;
    auto session = n >= 4 ? number(t[4], 0, 1 << 30) : std::optional<int64_t>(0);
    if (n < 3 || n > 4 || ::inet_pton(AF_INET, addr.c_str(), &src) != 1 || !ssrc || !bytes || !session) {
      return "error usage: rtp-ext-packet <source a.b.c.d> <ssrc> <hex> [<session>]\n";
    }
    return "ok " + std::to_string(board.rtp_ext_packet(src.s_addr, static_cast<uint32_t>(*ssrc), *bytes,
                                                       static_cast<int>(*session))) + "\n";
  }
  if (cmd == "rtp-ext-sessions") {
    if (n != 0) return "error usage: rtp-ext-sessions\n";
    const auto& sessions = board.rtp_ext().sessions();
    std::string out = "ok " + std::to_string(sessions.size()) + "\n";
    for (const auto& [id, s] : sessions) out += session_line(s);
    return out;
  }
  if (cmd == "rtp-ext-sent") {
    auto id = n >= 1 ? number(t[1], 0, 1 << 30) : std::nullopt;
    auto max = n >= 2 ? number(t[2], 0, 4096) : std::optional<int64_t>(100);
    const RtpExtSession* s = id ? board.rtp_ext().find(static_cast<int>(*id)) : nullptr;
    if (n < 1 || n > 2 || !id || !max) return "error usage: rtp-ext-sent <session> [<max>]\n";
    if (!s) return "ok 0\n";
    const auto most = static_cast<size_t>(*max);
    size_t first = s->sent.size() > most ? s->sent.size() - most : 0;
    std::string out = "ok " + std::to_string(s->sent.size() - first) + "\n";
    for (size_t i = first; i < s->sent.size(); ++i) out += to_hex(s->sent[i]) + "\n";
    return out;
  }
  return std::nullopt;
}

}  // namespace board::sim
