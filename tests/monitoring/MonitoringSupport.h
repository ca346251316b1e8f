#pragma once
// Shared pieces of the monitoring tests: a private path root for the status files, set
// commands, and a fake SNMP agent on loopback that decodes what the gateway sends it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/CoderEnv.h"
#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/MON.h"
#include "foundation/IniFile.h"
#include "foundation/Mux.h"
#include "tests/control/TestSupport.h"
#include "tests/support/TempDir.h"

namespace montest {

namespace fs = std::filesystem;

// VOXRELAY_ROOT points at a fresh directory for the life of the object.
class Root {
 public:
  Root() : dir_("vx_mon") {
    setenv("VOXRELAY_ROOT", dir_.path().c_str(), 1);
    fs::create_directories(path("/var/monitoring"));
  }
  ~Root() { unsetenv("VOXRELAY_ROOT"); }
  std::string path(const std::string& absolute) const { return dir_.path() + absolute; }
  void write(const std::string& absolute, const std::string& text) const {
    fs::create_directories(fs::path(path(absolute)).parent_path());
    std::ofstream(path(absolute)) << text;
  }
  std::string read(const std::string& absolute) const {
    std::stringstream s;
    s << std::ifstream(path(absolute)).rdbuf();
    return s.str();
  }
  bool exists(const std::string& absolute) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path(absolute), ec));
  }
  // Every entry under the folder, sorted: "name = content", "name/" or "name -> target".
  std::string tree(const std::string& absolute) const {
    std::vector<std::string> lines;
    const std::string base = path(absolute);
    for (auto const& e : fs::recursive_directory_iterator(base)) {
      std::string rel = e.path().string().substr(base.size());
      if (!rel.empty() && rel[0] == '/') rel.erase(0, 1);
      if (e.is_symlink()) lines.push_back(rel + " -> " + fs::read_symlink(e.path()).string());
      else if (e.is_directory()) lines.push_back(rel + "/");
      else lines.push_back(rel + " = " + read(absolute + "/" + rel));
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (auto const& l : lines) out += l + "\n";
    return out;
  }

 private:
  vxtest::TempDir dir_;
};

inline const ASN1::CoderEnv& per() {
  static const ASN1::CoderEnv env(ASN1::CoderEnv::per);
  return env;
}

inline void load_ini(IniFile::File& file, const std::string& text) {
  std::istringstream in(text);
  in >> file;
}

inline MON::SnmpSetCommand set_command(int uniq, const std::string& section, const std::string& name, int index,
                                       const std::string& value) {
  MON::SnmpSetCommand c;
  c.set_uniq(uniq);
  auto& id = c.get_id().select_name();
  id.set_section(section);
  id.set_name(name);
  id.set_index(index);
  c.set_value(value);
  return c;
}

// One set command as "section/index/name=value".
inline std::string text(MON::SnmpSetCommand const& c) {
  if (!c.get_id().is_name()) return "oid " + std::string(c.get_id().get_oid()) + "=" + std::string(c.get_value());
  auto const& n = c.get_id().get_name();
  return std::string(n.get_section()) + "/" + std::to_string(n.get_index().getValue()) + "/" +
         std::string(n.get_name()) + "=" + std::string(c.get_value());
}

// The agent's side of the link: takes the gateway's connection, cuts TPKT frames and decodes
// each MON message, noting the loop clock at its arrival. Never blocks.
class FakeAgent {
 public:
  struct Received {
    uint32_t at;  // Mux::milliseconds()
    size_t bytes;
    MON::Message message;
  };

  FakeAgent() : listener_(vxtest::listen_loopback()), port_(vxtest::local_port(listener_)) {
    ::fcntl(listener_, F_SETFL, ::fcntl(listener_, F_GETFL) | O_NONBLOCK);
  }
  ~FakeAgent() {
    drop();
    ::close(listener_);
  }
  uint16_t port() const { return port_; }
  bool connected() const { return conn_ >= 0; }

  void poll() {
    if (conn_ < 0 && (conn_ = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0) ++accepts;
    if (conn_ < 0) return;
    uint8_t buf[65536];
    for (;;) {
      const ssize_t n = ::recv(conn_, buf, sizeof buf, MSG_DONTWAIT);
      if (n < 0 && errno == EAGAIN) break;
      if (n <= 0) {
        drop();
        break;
      }
      in_.insert(in_.end(), buf, buf + n);
    }
    while (in_.size() >= 4) {
      const size_t len = (size_t(in_[2]) << 8) | in_[3];
      if (len < 4 || in_.size() < len) break;
      Received r{Mux::milliseconds(), len - 4, MON::Message()};
      decoded_ok = ASN1::decode(in_.data() + 4, in_.data() + len, &per(), r.message) && decoded_ok;
      messages.push_back(r);
      in_.erase(in_.begin(), in_.begin() + static_cast<long>(len));
    }
  }
  // Loop passes until cond holds (or 200 passes of at most 20 ms).
  template <class Cond>
  bool pump_until(Cond cond) {
    return vxtest::pump_until([&] {
      poll();
      return cond();
    });
  }
  void reply(const MON::Message& m) {
    std::string out;
    ASN1::encode(m, &per(), std::back_inserter(out));
    reply_raw(out);
  }
  void reply_raw(const std::string& payload) {
    const auto f = vxtest::frame(payload);
    ::send(conn_, f.data(), f.size(), MSG_NOSIGNAL);
  }
  void drop() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
  }
  // The messages of one command alternative.
  std::vector<Received> commands(int alternative) const {
    std::vector<Received> out;
    for (auto const& r : messages)
      if (r.message.get_pdu().is_command() && r.message.get_pdu().get_command().getID() == alternative)
        out.push_back(r);
    return out;
  }
  // Every set command received, in order, as text.
  std::vector<std::string> sets() const {
    std::vector<std::string> out;
    for (auto const& r : commands(MON::Command::e_snmp_set))
      for (auto const& c : r.message.get_pdu().get_command().get_snmp_set().get_commands()) out.push_back(text(c));
    return out;
  }

  std::vector<Received> messages;
  bool decoded_ok = true;
  int accepts = 0;

 private:
  int listener_;
  uint16_t port_;
  int conn_ = -1;
  std::vector<uint8_t> in_;
};

}  // namespace montest
