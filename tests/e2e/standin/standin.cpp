// Stand-in for the programs that the modem slots start (pppd and the fax programs), installed
// by the end-to-end tests under the daemon's private root. It appends its argument list to
// "$VOXRELAY_ROOT/var/log/standin.log" (one line, fields separated by tabs) and then acts its
// part:
// - as pppd ("file" <options> <tty or interface> ...): reads its directives from the option
//   file under the root and talks to the daemon's local authentication channel
//   (127.0.0.1:52000, or the port in VOXRELAY_AUTH_PORT as the daemon has it), on the session named by the tty ("/dev/mdm<n>": n; anything else: -1):
//     connect                  opens the connection now, before any record
//     sleep <ms>               waits that long (a pppd negotiating its link)
//     auth <user> <password>   an authentication request
//     acct [<n>...]            an accounting record: fixed counters, or up to nine words in
//                              their order (octets out high and low, octets in high and low,
//                              packets out high and low, packets in high and low, time)
//     acct-on-usr1 [<n>...]    such a record is sent on the open connection at each SIGUSR1
//                              (an old pppd's closing accounting, when the test says)
//     raw <hex>                these bytes as they are (malformed records)
//     wait-ip                  waits for the accept and ip records and logs them
//     ignore-hup               SIGHUP is ignored (the daemon has to kill it)
//     acct-at-hup              when hung up: 100 ms, an accounting record, 200 ms, the end
//                              (a real pppd takes a while to account its session and end)
//     exit <code>              ends at once with that code
//   then waits for SIGHUP, logs "hup" and ends with 0. While it waits, every record the daemon
//   sends on its open connection is logged ("got", kind, session, word 3, and for an ip record
//   the remote address), and the daemon closing the connection is logged ("channel-closed").
// - as a fax program ("-m" <modem> ...): ends with the code in
//   "$VOXRELAY_ROOT/usr/local/etc/fax.exit" (0 when absent); when the code is followed by
//   "hup", only 100 ms after it is hung up (logging "hup").
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string root() {
  const char* r = std::getenv("VOXRELAY_ROOT");
  return r ? r : "";
}

void log_line(const std::string& line) {
  const std::string path = root() + "/var/log/standin.log";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string text = std::to_string(::getpid()) + "\t" + line + "\n";
  (void)!::write(fd, text.data(), text.size());
  ::close(fd);
}

volatile sig_atomic_t hangup = 0;
void on_hup(int) { hangup = 1; }
volatile sig_atomic_t usr1 = 0;
void on_usr1(int) { usr1 = 1; }

// Waits for the hang-up. SIGHUP is blocked between the test and the wait, so that one that
// comes just before the wait is not lost (a plain pause() would then wait for ever).
void wait_for_hangup() {
  sigset_t hup, none;
  ::sigemptyset(&hup);
  ::sigaddset(&hup, SIGHUP);
  ::sigemptyset(&none);
  ::sigprocmask(SIG_BLOCK, &hup, nullptr);
  while (!hangup) ::sigsuspend(&none);
}

int dial() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  const char* port = std::getenv("VOXRELAY_AUTH_PORT");
  a.sin_port = htons(static_cast<uint16_t>(port && *port ? std::atoi(port) : 52000));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
    log_line("connect-failed");
    ::close(s);
    return -1;
  }
  return s;
}

void put_word(std::string& out, uint32_t w) { out.append(reinterpret_cast<const char*>(&w), 4); }

std::string text_field(const std::string& s) {
  std::string f = s.substr(0, 63);
  f.resize(64, '\0');
  return f;
}

using Counters = std::vector<uint32_t>;

// The counters of "acct" without numbers.
const Counters kFixedCounters{1u, 1000u, 0u, 2000u, 0u, 10u, 0u, 20u, 300u};

// The counters given after a directive; the fixed ones fill what is not given.
Counters counters_from(std::istream& words) {
  Counters c = kFixedCounters;
  std::string w;
  for (size_t i = 0; i < c.size() && words >> w; ++i) c[i] = static_cast<uint32_t>(std::stoul(w, nullptr, 0));
  return c;
}

// An accounting record: three unread words, the nine counters, one unread word.
std::string accounting(int session, const Counters& c = kFixedCounters) {
  std::string out;
  put_word(out, 64), put_word(out, 4), put_word(out, static_cast<uint32_t>(session));
  for (int i = 0; i < 3; ++i) put_word(out, 0);
  for (uint32_t w : c) put_word(out, w);
  put_word(out, 0);
  return out;
}

bool read_all(int s, void* buf, size_t n) {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    const ssize_t r = ::read(s, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

std::string addr(uint32_t network) {
  in_addr a{network};
  return inet_ntoa(a);
}

// Logs one record the daemon sent; false when the connection ended.
bool log_record(int s) {
  uint32_t head[3];
  if (!read_all(s, head, sizeof head) || head[0] < sizeof head || head[0] > 512) return false;
  uint32_t body[125] = {};
  if (!read_all(s, body, head[0] - sizeof head)) return false;
  std::string line = "got\t" + std::to_string(head[1]) + "\t" + std::to_string(static_cast<int32_t>(head[2])) + "\t" +
                     std::to_string(body[0]);
  if (head[1] == 3 && head[0] >= 36) line += "\t" + addr(body[2]);
  log_line(line);
  return true;
}

// Waits for the hang-up, logging what the daemon sends meanwhile and sending the accounting
// asked for at each SIGUSR1. The signals are blocked but while waiting, so none is lost.
void wait_and_listen(int& s, int session, const Counters* atUsr1) {
  sigset_t caught, none;
  ::sigemptyset(&caught);
  ::sigaddset(&caught, SIGHUP);
  ::sigaddset(&caught, SIGUSR1);
  ::sigemptyset(&none);
  ::sigprocmask(SIG_BLOCK, &caught, nullptr);
  while (!hangup) {
    if (usr1) {
      usr1 = 0;
      if (atUsr1 && s >= 0) {
        const std::string out = accounting(session, *atUsr1);
        (void)!::write(s, out.data(), out.size());
        log_line("sent\tacct");
      }
      continue;
    }
    if (s < 0) {
      ::sigsuspend(&none);
      continue;
    }
    pollfd p{s, POLLIN, 0};
    if (::ppoll(&p, 1, nullptr, &none) > 0 && !log_record(s)) {
      log_line("channel-closed");
      ::close(s);
      s = -1;
    }
  }
}

int run_pppd(const std::string& options, const std::string& device) {
  int session = -1;
  if (device.rfind("/dev/mdm", 0) == 0) session = std::atoi(device.c_str() + 8);
  std::ifstream in(root() + options);
  bool ignoreHup = false, acctAtHup = false;
  bool acctAtUsr1 = false;
  Counters usr1Counters;
  int s = -1;
  auto channel = [&] {
    if (s < 0) s = dial();
    return s;
  };
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string what;
    words >> what;
    std::string out;
    if (what == "auth") {
      std::string user, password;
      words >> user >> password;
      put_word(out, 140), put_word(out, 1), put_word(out, static_cast<uint32_t>(session));
      out += text_field(user) + text_field(password);
    } else if (what == "acct") {
      out = accounting(session, counters_from(words));
    } else if (what == "acct-on-usr1") {
      acctAtUsr1 = true;
      usr1Counters = counters_from(words);
      channel();
    } else if (what == "acct-at-hup") {
      acctAtHup = true;
    } else if (what == "raw") {
      std::string hex;
      words >> hex;
      for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    } else if (what == "wait-ip") {
      uint32_t accept[4], ip[9];
      if (channel() >= 0 && read_all(s, accept, sizeof accept) && read_all(s, ip, sizeof ip)) {
        log_line("accept\t" + std::to_string(accept[0]) + "\t" + std::to_string(accept[1]) + "\t" +
                 std::to_string(static_cast<int32_t>(accept[2])) + "\t" + std::to_string(accept[3]));
        log_line("ip\t" + std::to_string(ip[0]) + "\t" + std::to_string(ip[1]) + "\t" +
                 std::to_string(static_cast<int32_t>(ip[2])) + "\t" + addr(ip[4]) + "\t" + addr(ip[5]) + "\t" +
                 addr(ip[6]) + "\t" + addr(ip[7]) + "\t" + std::to_string(ip[8]));
      } else {
        log_line("no-ip");
      }
    } else if (what == "connect") {
      channel();
    } else if (what == "sleep") {
      unsigned ms = 0;
      words >> ms;
      ::usleep(ms * 1000);
    } else if (what == "ignore-hup") {
      ignoreHup = true;
    } else if (what == "exit") {
      int code = 0;
      words >> code;
      log_line("exit\t" + std::to_string(code));
      return code;
    }
    if (!out.empty() && channel() >= 0) {
      (void)!::write(s, out.data(), out.size());
      log_line("sent\t" + what);
    }
  }
  if (ignoreHup) ::signal(SIGHUP, SIG_IGN);
  wait_and_listen(s, session, acctAtUsr1 ? &usr1Counters : nullptr);
  log_line("hup");
  if (acctAtHup && channel() >= 0) {
    ::usleep(100000);
    const std::string out = accounting(session);
    (void)!::write(s, out.data(), out.size());
    log_line("sent\tacct");
    ::usleep(200000);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction sa{};
  sa.sa_handler = on_hup;
  ::sigaction(SIGHUP, &sa, nullptr);
  sa.sa_handler = on_usr1;
  ::sigaction(SIGUSR1, &sa, nullptr);
  std::string line;
  for (int i = 0; i < argc; ++i) line += (i ? "\t" : "") + std::string(argv[i]);
  log_line("exec\t" + line);
  const std::vector<std::string> args(argv, argv + argc);
  if (args.size() >= 4 && args[1] == "file") return run_pppd(args[2], args[3]);
  if (args.size() >= 3 && args[1] == "-m") {
    std::ifstream code(root() + "/usr/local/etc/fax.exit");
    int c = 0;
    std::string then;
    code >> c >> then;
    if (then == "hup") {
      wait_for_hangup();
      log_line("hup");
      ::usleep(100000);
    }
    return c;
  }
  // Any other list (pppd with the controller's own arguments): wait to be hung up.
  wait_for_hangup();
  log_line("hup");
  return 0;
}
