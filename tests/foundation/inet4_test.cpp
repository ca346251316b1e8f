#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <strings.h>

#include <algorithm>
#include <list>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/INet4.h"

namespace {

INet4::Addr parsed(const char* text, bool* ok = nullptr, int* port = nullptr) {
  INet4::Addr a;
  int p = 0;
  bool r = a.Assign(text, &p);
  if (ok) *ok = r;
  if (port) *port = p;
  return a;
}

}  // namespace

TEST(INet4Addr, TextForms) {
  bool ok;
  int port;
  INet4::Addr a = parsed("10.0.0.1:5000", &ok, &port);
  EXPECT_TRUE(ok);
  EXPECT_EQ(port, 5000);
  EXPECT_EQ(a.GetString(), "10.0.0.1:5000");
  EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{10, 0, 0, 1}));
  EXPECT_EQ(ntohs(a.sin_port), 5000);
  EXPECT_EQ(a.sin_family, AF_INET);

  // Without a colon the stored port stays and the output is -1.
  EXPECT_TRUE(a.Assign("192.168.1.2", &port));
  EXPECT_EQ(port, -1);
  EXPECT_EQ(a.GetString(), "192.168.1.2:5000");
  EXPECT_TRUE(a.Assign(std::string("1.2.3.4"), nullptr));

  struct {
    const char* text;
    const char* shown;
  } good[] = {{"10.0.0.1:", "10.0.0.1:0"},
              {"10.0.0.1: +80 ", "10.0.0.1:80"},
              {"10.0.0.1:65535", "10.0.0.1:65535"},
              {"0x7f000001", "127.0.0.1:0"}};  // inet_aton's short forms
  for (const auto& g : good) {
    EXPECT_EQ(parsed(g.text, &ok).GetString(), g.shown);
    EXPECT_TRUE(ok) << g.text;
  }

  // A host name is no address; its port is stored all the same, the address left alone.
  a.Reset();
  EXPECT_EQ(a.GetString(), "0.0.0.0:0");
  EXPECT_FALSE(a.Assign("gateway:80", &port));
  EXPECT_EQ(port, 80);
  EXPECT_EQ(a.GetString(), "0.0.0.0:80");

  std::ostringstream os;
  parsed("172.16.0.9:161").Put(os);
  EXPECT_EQ(os.str(), "172.16.0.9:161");
  a.Assign(htonl(0xC0A80001u));
  EXPECT_EQ(a.GetString(), "192.168.0.1:80");
}

TEST(INet4Addr, RejectsBadPortsWithoutTouchingTheAddress) {
  for (const char* bad : {"10.0.0.1:65536", "10.0.0.1:-1", "10.0.0.1:70000", "10.0.0.1:80x",
                          "10.0.0.1:8 0", "10.0.0.1:99999999999999999999", "10.0.0.1:1:2"}) {
    INet4::Addr a = parsed("1.1.1.1:7");
    int port = 0;
    EXPECT_FALSE(a.Assign(bad, &port)) << bad;
    EXPECT_EQ(port, -1) << bad;
    EXPECT_EQ(a.GetString(), "1.1.1.1:7") << bad;
  }
}

TEST(INet4Addr, Equality) {
  INet4::Addr a = parsed("10.1.1.1:5"), b = parsed("10.1.1.1:5"), c = parsed("10.1.1.1:6");
  EXPECT_TRUE(a.IsEqual(b));
  EXPECT_FALSE(a.IsEqual(c));
  b.sin_family = AF_UNSPEC;  // not compared
  EXPECT_TRUE(a.IsEqual(b));
}

namespace {

// The same selection, taken from getifaddrs as an independent listing.
std::vector<std::string> expected(Net::ifconfig_mode_t mode) {
  std::vector<std::string> out;
  ifaddrs* all = nullptr;
  if (getifaddrs(&all) != 0) return out;
  for (ifaddrs* i = all; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    uint32_t a = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    bool not_lo = strcasecmp(i->ifa_name, "lo") != 0;
    bool link_local = (a >> 16) == 0xA9FE;
    bool priv = (a >> 16) == 0xC0A8 || (a >> 20) == 0xAC1 || (a >> 24) == 10;
    bool take = mode == 0 || ((mode & 1) && not_lo) || ((mode & 2) && link_local) || ((mode & 4) && priv);
    if (take) {
      char text[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
      out.push_back(std::string(text) + ":0");
    }
  }
  freeifaddrs(all);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(Net, InterfaceAddressesMatchAnIndependentListing) {
  if (expected(0).size() > 16) GTEST_SKIP() << "more interfaces than one listing holds";
  for (Net::ifconfig_mode_t mode : {0u, 1u, 2u, 4u, 6u, 7u}) {
    std::list<INet4::Addr> got;
    got.push_back(INet4::Addr());  // appended to, not replaced
    int n = Net::ifconfig(got, mode);
    ASSERT_GE(n, 0);
    EXPECT_EQ(got.size(), static_cast<size_t>(n) + 1);
    got.pop_front();
    std::vector<std::string> texts;
    for (auto& a : got) texts.push_back(a.GetString());
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, expected(mode)) << "mode " << mode;
  }
  std::list<std::string> names;
  int n = Net::ifconfig(names, 0, IFF_UP | IFF_LOOPBACK);
  ASSERT_GE(n, 0);
  if (!expected(0).empty()) {
    EXPECT_NE(std::find(names.begin(), names.end(), "lo"), names.end());
    names.clear();
    Net::ifconfig(names, 1, 0);
    EXPECT_EQ(std::find(names.begin(), names.end(), "lo"), names.end());
  }
}
