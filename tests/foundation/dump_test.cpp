#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "foundation/Event.h"
#include "foundation/Fd.h"
#include "foundation/Multiplexer.h"
#include "foundation/PollEventAsText.h"

TEST(MultiplexerDump, PollEventText) {
  EXPECT_EQ(PollEventAsText(0), "");
  EXPECT_EQ(PollEventAsText(POLLIN), "POLLIN");
  EXPECT_EQ(PollEventAsText(POLLIN | POLLOUT), "POLLIN|POLLOUT");
  EXPECT_EQ(PollEventAsText(0x7ff),
            "POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|POLLWRNORM|POLLWRBAND|POLLMSG");
  EXPECT_EQ(PollEventAsText(0x800), "");
}

namespace {

struct Sink {
  void on(int, short) {}
};

// A handler the loop polls but that has no name, so it has no row.
struct Anonymous : EventHandler {
  void shedule_event(pollfd& p) override { p.fd = -1; }
  void svc_event(short) override {}
};

std::string pad(const std::string& s, int w) {
  int n = static_cast<int>(s.size());
  return std::string((w - n) / 2, ' ') + s + std::string((w - n + 1) / 2, ' ');
}

std::string row(std::initializer_list<std::string> cells) {
  static const int widths[] = {40, 30, 10, 10, 5, 60};
  std::string r;
  int i = 0;
  for (const std::string& c : cells) r += "|" + pad(c, widths[i++]);
  return r + "|\n";
}

}  // namespace

TEST(MultiplexerDump, TableOfNamedEvents) {
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_DGRAM, 0, sv), 0);
  Fd a(sv[0]), b(sv[1]);
  Sink sink;
  Event bound;
  bound.Bind("Sink::on", &Sink::on, &sink);
  bound.Schedule(a, POLLIN | POLLOUT);
  Event unbound;
  unbound.set_name("Lonely");
  unbound.Schedule(b, POLLIN);
  Anonymous anon;
  anon.mux_attach();

  std::ostringstream os;
  multiplexer.dump(os);
  const std::string text = os.str();

  // Statistics lines first, each measure in the fixed form.
  EXPECT_EQ(text.find("dpc transition measurement (min/max/cur/counter): min="), 0u);
  EXPECT_NE(text.find("\nevent transition measurement (min/max/cur/counter): min="), std::string::npos);
  EXPECT_NE(text.find("\ntimer transition measurement (min/max/cur/counter): min="), std::string::npos);

  const std::string border = "+" + std::string(40, '-') + "+" + std::string(30, '-') + "+" + std::string(10, '-') +
                             "+" + std::string(10, '-') + "+" + std::string(5, '-') + "+" + std::string(60, '-') +
                             "+\n";
  const std::string header = border + row({"name", "events", "count", "handler", "fd", "measure"}) + border;
  EXPECT_NE(text.find(header), std::string::npos);
  // Events of other tests attached earlier come first; these two are the last rows.
  const std::string table = row({"Sink::on", "POLLIN|POLLOUT", "0", "attached", std::to_string(bound.fd()),
                                 "min=0 max=0 avg=0 counter=0"}) +
                            row({"Lonely", "POLLIN", "0", "unattached", std::to_string(unbound.fd()),
                                 "min=0 max=0 avg=0 counter=0"}) +
                            border + "\n";
  ASSERT_GE(text.size(), table.size());
  EXPECT_EQ(text.substr(text.size() - table.size()), table);
  anon.mux_detach();
}
