// Traps as independent SNMP implementations see them: a local snmptrapd must accept and log a
// packed trap (community from its configuration), and tshark's SNMP dissector must read the
// same message without an expert warning.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "monitoring/TrapPacker.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/UdpCapture.h"

namespace {

const char kCommunity[] = "vx-trap-test";

// A trap with one value of each common type, in the community given.
std::vector<uint8_t> sample_trap(const char* community, uint32_t* uptime) {
  trap_settings settings{};
  std::strcpy(settings.community, community);
  trap_buffer b;
  snmp_session_seed(&b, 12345);
  trap_init(&b, &settings);
  EXPECT_EQ(trap_pack_begin(&b), 0);
  uint32_t oid[32];
  auto add = [&](const char* name, unsigned char type, const void* value, uint32_t length) {
    const int n = parse_oid(oid, 32, name);
    EXPECT_EQ(trap_pack_add(&b, oid, uint32_t(n), type, value, length), 0) << name;
  };
  *uptime = get_uptime();
  add("1.3.6.1.2.1.1.3.0", 0x43, uptime, 4);
  uint32_t trap_oid[16];
  const int trap_oid_n = parse_oid(trap_oid, 16, "1.3.6.1.4.1.99999.0.7");
  add("1.3.6.1.6.3.1.1.4.1.0", 0x06, trap_oid, uint32_t(trap_oid_n * 4));
  const int32_t integer = -42;
  add("1.3.6.1.4.1.99999.1.1", 0x02, &integer, 4);
  add("1.3.6.1.4.1.99999.1.2", 0x04, "trunk 3 down", 12);
  const uint32_t counter = 4000000000u;
  add("1.3.6.1.4.1.99999.1.3", 0x41, &counter, 4);
  const uint32_t gauge = 7;
  add("1.3.6.1.4.1.99999.1.4", 0x42, &gauge, 4);
  add("1.3.6.1.4.1.99999.1.5", 0x40, "\xc0\x00\x02\x09", 4);
  const uint64_t counter64 = (uint64_t(1) << 40) + 5;
  add("1.3.6.1.4.1.99999.1.6", 0x46, &counter64, 8);
  EXPECT_EQ(trap_pack_end(&b), 0);
  return std::vector<uint8_t>(b.packet, b.packet + b.length);
}

// A loopback UDP port that nothing uses right now.
uint16_t free_udp_port() {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  close(s);
  return ntohs(a.sin_port);
}

// snmptrapd in the foreground on a loopback port, with a private configuration and
// persistent directory, logging to a pipe that the test reads.
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
      const int null = open("/dev/null", O_RDONLY);
      dup2(null, 0);
      setenv("SNMP_PERSISTENT_DIR", (dir + "/persist").c_str(), 1);
      setenv("MIBS", "", 1);
      setenv("MIBDIRS", (dir + "/no-mibs").c_str(), 1);
      const std::string listen = "udp:127.0.0.1:" + std::to_string(port);
      const std::string pid_file = dir + "/snmptrapd.pid";
      execlp("snmptrapd", "snmptrapd", "-f", "-C", "-c", conf.c_str(), "-Lo", "-n", "-On", "-p", pid_file.c_str(),
             listen.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~TrapDaemon() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // Reads the log until it holds `text` or 10 s pass; true when it does.
  bool wait_for(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (log_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{out_, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) return false;
      char buf[4096];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return false;
      log_.append(buf, std::size_t(n));
    }
    return true;
  }
  const std::string& log() const { return log_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string log_;
};

void send_to(uint16_t port, const std::vector<uint8_t>& datagram) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  EXPECT_EQ(sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
            ssize_t(datagram.size()));
  close(s);
}

TEST(TrapOracle, SnmptrapdAcceptsAndLogsTheTrap) {
  if (!vxtest::have("snmptrapd")) GTEST_SKIP() << "snmptrapd not installed";
  vxtest::TempDir tmp("vxtrapd");
  const uint16_t port = free_udp_port();
  TrapDaemon daemon(tmp.path(), port);
  ASSERT_TRUE(daemon.wait_for("NET-SNMP version")) << daemon.log();

  // A foreign community is not logged; the configured one is.
  uint32_t uptime = 0;
  send_to(port, sample_trap("not-the-community", &uptime));
  send_to(port, sample_trap(kCommunity, &uptime));
  ASSERT_TRUE(daemon.wait_for("Counter64")) << daemon.log();
  const std::string& log = daemon.log();
  EXPECT_EQ(log.find("99999.1.1 = INTEGER: -42"), log.rfind("99999.1.1 = INTEGER: -42")) << "logged twice:\n" << log;
  for (const char* text : {".1.3.6.1.2.1.1.3.0 = Timeticks: (" , ".1.3.6.1.6.3.1.1.4.1.0 = OID: .1.3.6.1.4.1.99999.0.7",
                           ".1.3.6.1.4.1.99999.1.1 = INTEGER: -42", ".1.3.6.1.4.1.99999.1.2 = STRING: \"trunk 3 down\"",
                           ".1.3.6.1.4.1.99999.1.3 = Counter32: 4000000000", ".1.3.6.1.4.1.99999.1.4 = Gauge32: 7",
                           ".1.3.6.1.4.1.99999.1.5 = IpAddress: 192.0.2.9",
                           ".1.3.6.1.4.1.99999.1.6 = Counter64: 1099511627781"})
    EXPECT_NE(log.find(text), std::string::npos) << text << "\n" << log;
  EXPECT_NE(log.find("Timeticks: (" + std::to_string(uptime) + ")"), std::string::npos) << log;
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
  EXPECT_NE(fields.find("1\tvx-trap-test\t"), std::string::npos) << fields;
  EXPECT_NE(fields.find("1.3.6.1.2.1.1.3.0,1.3.6.1.6.3.1.1.4.1.0,1.3.6.1.4.1.99999.1.1"), std::string::npos) << fields;
  EXPECT_NE(fields.find("-42"), std::string::npos) << fields;
  EXPECT_NE(fields.find("1.3.6.1.4.1.99999.0.7"), std::string::npos) << fields;

  const std::string expert = vxtest::run("tshark -r " + pcap + " -q -z expert,note 2>&1");
  // Its summary lists the expert items by severity: "Errors (n)", "Warns (n)", "Notes (n)".
  for (const char* severity : {"Errors", "Warns", "Notes", "Malformed"})
    EXPECT_EQ(expert.find(severity), std::string::npos) << expert;
  const std::string pdu = vxtest::run("tshark -r " + pcap + " -V 2>&1");
  EXPECT_NE(pdu.find("snmpV2-trap"), std::string::npos) << pdu;
}

}  // namespace
