// Traps as independent SNMP implementations see them: snmptrapd must accept and log a packed
// trap in its configured community, and tshark's SNMP dissector must read it without a warning.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "monitoring/TrapPacker.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpCapture.h"
#include "tests/support/UdpPeer.h"

namespace {

const char kCommunity[] = "vx-trap-test";

// A trap with one value of each common type.
std::vector<uint8_t> sample_trap(const char* community, uint32_t* uptime) {
  trap_settings settings{};
  std::strcpy(settings.community, community);
  trap_buffer b;
  snmp_session_seed(&b, 12345);
  trap_init(&b, &settings);
  EXPECT_EQ(trap_pack_begin(&b), 0);
  uint32_t oid[32], trap_oid[16];
  auto add = [&](const char* name, unsigned char type, const void* value, uint32_t length) {
    EXPECT_EQ(trap_pack_add(&b, oid, uint32_t(parse_oid(oid, 32, name)), type, value, length), 0) << name;
  };
  *uptime = get_uptime();
  add("1.3.6.1.2.1.1.3.0", 0x43, uptime, 4);
  add("1.3.6.1.6.3.1.1.4.1.0", 0x06, trap_oid, uint32_t(parse_oid(trap_oid, 16, "1.3.6.1.4.1.99999.0.7") * 4));
  const int32_t integer = -42;
  const uint32_t counter = 4000000000u, gauge = 7;
  const uint64_t counter64 = (uint64_t(1) << 40) + 5;
  add("1.3.6.1.4.1.99999.1.1", 0x02, &integer, 4);
  add("1.3.6.1.4.1.99999.1.2", 0x04, "trunk 3 down", 12);
  add("1.3.6.1.4.1.99999.1.3", 0x41, &counter, 4);
  add("1.3.6.1.4.1.99999.1.4", 0x42, &gauge, 4);
  add("1.3.6.1.4.1.99999.1.5", 0x40, "\xc0\x00\x02\x09", 4);
  add("1.3.6.1.4.1.99999.1.6", 0x46, &counter64, 8);
  EXPECT_EQ(trap_pack_end(&b), 0);
  return std::vector<uint8_t>(b.packet, b.packet + b.length);
}

// snmptrapd in the foreground on a loopback port with a private configuration, logging to a
// pipe the test reads.
class TrapDaemon {
 public:
  TrapDaemon(const std::string& dir, uint16_t port) {
    const std::string conf = dir + "/snmptrapd.conf";
    std::ofstream(conf) << "authCommunity log " << kCommunity << "\ndoNotRetainNotificationLogs yes\n";
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(out[1], 2);
      dup2(open("/dev/null", O_RDONLY), 0);
      setenv("SNMP_PERSISTENT_DIR", (dir + "/persist").c_str(), 1);
      setenv("MIBS", "", 1);
      setenv("MIBDIRS", (dir + "/no-mibs").c_str(), 1);
      const std::string listen = "udp:127.0.0.1:" + std::to_string(port), pid_file = dir + "/snmptrapd.pid";
      execlp("snmptrapd", "snmptrapd", "-f", "-C", "-c", conf.c_str(), "-Lo", "-n", "-On", "-p", pid_file.c_str(),
             listen.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~TrapDaemon() {
    if (pid_ > 0) kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0);
    if (out_ >= 0) close(out_);
  }
  // Reads the log until it holds `text`; false after 10 s without more output.
  bool wait_for(const std::string& text) {
    while (log.find(text) == std::string::npos) {
      pollfd p{out_, POLLIN, 0};
      char buf[4096];
      if (poll(&p, 1, 10000) <= 0) return false;
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      log.append(buf, std::size_t(n));
    }
    return true;
  }
  std::string log;

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

TEST(TrapOracle, SnmptrapdAcceptsAndLogsTheTrap) {
  if (!vxtest::have("snmptrapd")) GTEST_SKIP() << "snmptrapd not installed";
  vxtest::TempDir tmp("vxtrapd");
  const uint16_t port = vxtest::UdpPeer().port;
  TrapDaemon daemon(tmp.path(), port);
  ASSERT_TRUE(daemon.wait_for("NET-SNMP version")) << daemon.log;
  vxtest::UdpPeer sender;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(port);
  uint32_t uptime = 0;
  for (const char* community : {"not-the-community", kCommunity}) {  // only the configured one is logged
    const auto trap = sample_trap(community, &uptime);
    ASSERT_EQ(sendto(sender.fd.get(), trap.data(), trap.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              ssize_t(trap.size()));
  }
  ASSERT_TRUE(daemon.wait_for("Counter64")) << daemon.log;
  const std::string& log = daemon.log;
  EXPECT_EQ(log.find("99999.1.1 = INTEGER: -42"), log.rfind("99999.1.1 = INTEGER: -42")) << "logged twice:\n" << log;
  for (const std::string& text :
       {"Timeticks: (" + std::to_string(uptime) + ")", std::string(".1.3.6.1.2.1.1.3.0 = Timeticks: ("),
        std::string(".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.7"),
        std::string(".1.3.6.1.4.1.99999.1.1 = INTEGER: -42"), std::string(".1.3.6.1.4.1.99999.1.2 = STRING: \"trunk 3 down\""),
        std::string(".1.3.6.1.4.1.99999.1.3 = Counter32: 4000000000"), std::string(".1.3.6.1.4.1.99999.1.4 = Gauge32: 7"),
        std::string(".1.3.6.1.4.1.99999.1.5 = IpAddress: 192.0.2.9"),
        std::string(".1.3.6.1.4.1.99999.1.6 = Counter64: 1099511627781")})
    EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
}

TEST(TrapOracle, TsharkDissectsTheTrapWithoutWarnings) {
  if (!vxtest::have("tshark") || !vxtest::have("text2pcap")) GTEST_SKIP() << "tshark or text2pcap not installed";
  vxtest::TempDir tmp("vxtrapshark");
  const std::string pcap = tmp.path() + "/trap.pcap";
  uint32_t uptime = 0;
  ASSERT_TRUE(vxtest::write_udp_capture(pcap, {sample_trap(kCommunity, &uptime)}, 162));
  const std::string fields = vxtest::run("tshark -r " + pcap +
                                         " -Y snmp -T fields -E occurrence=a -E aggregator=, -e snmp.version"
                                         " -e snmp.community -e snmp.request_id -e snmp.name"
                                         " -e snmp.value.int -e snmp.value.octets -e snmp.value.oid 2>&1");
  for (const char* text : {"1\tvx-trap-test\t", "1.3.6.1.2.1.1.3.0,1.3.6.1.6.3.1.1.4.1.0,1.3.6.1.4.1.99999.1.1", "-42",
                           "1.3.6.1.4.1.99999.0.7"})
    EXPECT_NE(fields.find(text), std::string::npos) << fields;
  // The summary lists expert items by severity: "Errors (n)", "Warns (n)", "Notes (n)".
  const std::string expert = vxtest::run("tshark -r " + pcap + " -q -z expert,note 2>&1");
  for (const char* severity : {"Errors", "Warns", "Notes", "Malformed"})
    EXPECT_EQ(expert.find(severity), std::string::npos) << expert;
  EXPECT_NE(vxtest::run("tshark -r " + pcap + " -V 2>&1").find("snmpV2-trap"), std::string::npos);
}

}  // namespace
