// The radio control base on the simulated extension device: session set-up by type, failures,
// stop and restart, the source filter, the status timer and the receive steps.
#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "board/board.h"
#include "tests/radio/RadioControllerFixture.h"

namespace {

using board::sim::Device;
using namespace RTPSignalling;
namespace rx = board::rtp_ext;
using radiotest::lemz_init;

in_addr addr(const char* text) { return in_addr{radiotest::addr(text)}; }

// A controller that counts its ticks and can ask for a shorter wait.
class Probe : public RadioControl {
 public:
  using RadioControl::RadioControl;
  Probe(int id = 1) : RadioControl(id, rtp_ext_attach_session_params{}, lemz_init()) {}
  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override {
    ticks.push_back(now);
    return next_wait ? next_wait : interval;
  }
  std::vector<unsigned long> ticks;
  unsigned long next_wait = 0;
};

class RadioControlTest : public radiotest::ControllerTest {
 protected:
  std::vector<board::sim::Request> requests(uint32_t number) { return sim().requests(Device::rtp_ext, number); }
  bool logged(const char* text) const { return capture.err.str().find(text) != std::string::npos; }
};

TEST_F(RadioControlTest, AttachFormOpensInitialisesAndAttachesNonBlocking) {
  rtp_ext_attach_session_params attach{};
  attach.fd_rtp = 17;
  attach.pid_rtp = 4242;
  Probe c(12, attach, lemz_init());
  ASSERT_GE(c.ext_fd(), 0);
  EXPECT_TRUE(::fcntl(c.ext_fd(), F_GETFL) & O_NONBLOCK);
  EXPECT_EQ(c.type(), AttachExtSession);
  auto sessions = sim().rtp_ext().sessions();
  ASSERT_EQ(sessions.size(), 1u);
  const auto& s = sessions.begin()->second;
  EXPECT_TRUE(s.initialised && s.attached);
  EXPECT_EQ((std::vector<int64_t>{s.etype, s.fd_rtp, s.pid_rtp}), (std::vector<int64_t>{rx::kEtypeLemz, 17, 4242}));
  EXPECT_GE(c.watch().fd(), 0);
  EXPECT_EQ(c.watch().events(), POLLIN);
}

TEST_F(RadioControlTest, FailedStepsOfTheStartLeaveNoSession) {
  sim().fail_open(Device::rtp_ext, EACCES);
  Probe a(1);
  EXPECT_LT(a.ext_fd(), 0);
  sim().fail_open(Device::rtp_ext, 0);
  sim().fail_next(Device::rtp_ext, EIO, 1);
  Probe b(2);
  EXPECT_LT(b.ext_fd(), 0);
  sim().fail_next(Device::rtp_ext, EBUSY, 1, rx::RTP_EXT_ATTACH);
  Probe c(3);
  EXPECT_LT(c.ext_fd(), 0);
  EXPECT_TRUE(logged("rtp_ext[3] ") && logged("attach rtp_ext session fail !!!"));
  EXPECT_EQ(requests(rx::RTP_EXT_INIT).size(), 2u);  // b's failed one and c's
  EXPECT_EQ(sim().open_count(Device::rtp_ext), 0);
  EXPECT_TRUE(c.RtpExtStart(true));  // a later start tries again
  EXPECT_EQ(sim().open_count(Device::rtp_ext), 1);
}

TEST_F(RadioControlTest, StopDetachesAndRestartReopens) {
  Probe c;
  ASSERT_GE(c.ext_fd(), 0);
  EXPECT_TRUE(c.RtpExtStop());
  EXPECT_EQ(requests(rx::RTP_EXT_DETACH).size(), 1u);
  EXPECT_LT(c.ext_fd(), 0);
  EXPECT_LT(c.watch().fd(), 0);
  EXPECT_EQ(sim().open_count(Device::rtp_ext), 0);
  EXPECT_TRUE(c.RtpExtStart(false));  // type 0 opens whatever the flag says
  EXPECT_GE(c.ext_fd(), 0);
  EXPECT_GE(c.watch().fd(), 0);
  EXPECT_EQ(requests(rx::RTP_EXT_ATTACH).size(), 2u);
  sim().fail_next(Device::rtp_ext, EIO);  // a failed detach closes the session anyway
  EXPECT_TRUE(c.RtpExtStop());
  EXPECT_LT(c.ext_fd(), 0);
}

TEST_F(RadioControlTest, SessionTheDeviceDoesNotServeIsMadeOnTheReconcileTimerQuietly) {
  auto count = [&](const char* text) {
    size_t n = 0;
    for (size_t at = capture.err.str().find(text); at != std::string::npos; at = capture.err.str().find(text, at + 1))
      ++n;
    return n;
  };
  sim().fail_open(Device::rtp_ext, EIO);
  Probe c(5);
  EXPECT_LT(c.ext_fd(), 0);
  EXPECT_TRUE(c.reconcile_pending());
  advance(1000);
  advance(1000);
  EXPECT_LT(c.ext_fd(), 0);
  EXPECT_EQ(count("create rtp_ext session fail !!!"), 1u);  // the tries are quiet
  sim().fail_next(Device::rtp_ext, EIO, 1, rx::RTP_EXT_ATTACH);
  sim().fail_open(Device::rtp_ext, 0);
  advance(1000);
  EXPECT_LT(c.ext_fd(), 0);
  EXPECT_EQ(sim().open_count(Device::rtp_ext), 0);
  advance(1000);
  ASSERT_GE(c.ext_fd(), 0);
  EXPECT_GE(c.watch().fd(), 0);
  EXPECT_EQ(requests(rx::RTP_EXT_ATTACH).size(), 2u);
  EXPECT_FALSE(c.reconcile_pending());

  // A stopped session is not wanted: a pending retry makes none.
  EXPECT_TRUE(c.RtpExtStop());
  sim().fail_open(Device::rtp_ext, EIO);
  EXPECT_FALSE(c.RtpExtStart(false));
  EXPECT_TRUE(c.RtpExtStop());
  sim().fail_open(Device::rtp_ext, 0);
  advance(2000);
  EXPECT_EQ(sim().open_count(Device::rtp_ext), 0);
  EXPECT_EQ(count("create rtp_ext session fail !!!"), 2u);  // once per start
}

TEST_F(RadioControlTest, InitOnlyAndRtpAttachForms) {
  Probe only(lemz_init());
  ASSERT_GE(only.ext_fd(), 0);
  EXPECT_EQ(only.id(), 0u);
  EXPECT_TRUE(requests(rx::RTP_EXT_ATTACH).empty());
  int fd = only.ext_fd();
  EXPECT_TRUE(only.RtpExtStop());
  EXPECT_EQ(only.ext_fd(), fd);
  EXPECT_TRUE(only.RtpExtStart(false));
  EXPECT_EQ(requests(rx::RTP_EXT_INIT).size(), 1u);

  // Type 1 attaches through the RTP device's descriptor, here one of the extension device,
  // which does not know the request: the failure path.
  int rtp = board::open(rx::kPath, O_RDWR);
  ASSERT_GE(rtp, 0);
  rtp_attach_session_params attach{};
  attach.fd_rtp = 33;
  attach.pid_rtp = 77;
  Probe joined(9, Fd(::dup(rtp)), attach);
  EXPECT_LT(joined.ext_fd(), 0);
  EXPECT_GE(joined.rtp_fd(), 0);
  EXPECT_EQ(requests(rx::RTP_ATTACH_EXT_SESSION).size(), 1u);
  EXPECT_TRUE(joined.RtpExtStop());
  EXPECT_GE(joined.rtp_fd(), 0);
  EXPECT_FALSE(joined.RtpExtStart(false));
  EXPECT_EQ(requests(rx::RTP_ATTACH_EXT_SESSION).size(), 2u);
  board::close(rtp);
}

TEST_F(RadioControlTest, FilterFollowsTheDriversAnswers) {
  Probe c;
  c.UpdateAccess(false, addr("10.0.0.1"));
  EXPECT_TRUE(requests(rx::RTP_EXT_RESET_FILTER).empty());
  c.UpdateAccess(true, addr("10.0.0.1"));
  c.UpdateAccess(true, addr("10.0.0.1"));
  auto set = requests(rx::RTP_EXT_SET_FILTER);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(set[0].arg("src_addr"), 0x0A000001);
  EXPECT_TRUE(c.filter_set());
  // A refused change keeps the old filter, so the next call tries again.
  sim().fail_next(Device::rtp_ext, EIO);
  c.UpdateAccess(true, addr("10.0.0.2"));
  EXPECT_EQ(c.filter_addr(), addr("10.0.0.1").s_addr);
  c.UpdateAccess(true, addr("10.0.0.2"));
  EXPECT_EQ(requests(rx::RTP_EXT_SET_FILTER).size(), 3u);
  EXPECT_EQ(c.filter_addr(), addr("10.0.0.2").s_addr);
  sim().fail_next(Device::rtp_ext, EIO);
  c.UpdateAccess(false, addr("0.0.0.0"));
  EXPECT_TRUE(c.filter_set());
  c.UpdateAccess(false, addr("0.0.0.0"));
  EXPECT_FALSE(c.filter_set());
  EXPECT_EQ(requests(rx::RTP_EXT_RESET_FILTER).size(), 2u);
  EXPECT_FALSE(sim().rtp_ext().sessions().begin()->second.filter);
}

TEST_F(RadioControlTest, StatusTimerTicksEveryIntervalUntilDisabledOrDestroyed) {
  auto c = std::make_unique<Probe>();
  c->SetTimerEnable(true);
  EXPECT_TRUE(c->timer_pending());
  c->SetTimerInterval(300);  // takes effect at the next arming
  advance(999);
  EXPECT_TRUE(c->ticks.empty());
  advance(1);
  ASSERT_EQ(c->ticks.size(), 1u);
  EXPECT_EQ(c->time_stamp(), c->ticks[0]);
  advance(300);
  EXPECT_EQ(c->ticks.size(), 2u);
  c->next_wait = 50;  // a dialect asks for a shorter wait
  advance(300);
  advance(50);
  EXPECT_EQ(c->ticks.size(), 4u);
  c->SetTimerEnable(false);
  EXPECT_FALSE(c->timer_pending());
  advance(5000);
  EXPECT_EQ(c->ticks.size(), 4u);
  // Destroyed, it closes the session without a detach and leaves no tick behind.
  c->SetTimerEnable(true);
  c.reset();
  EXPECT_EQ(sim().open_count(Device::rtp_ext), 0);
  EXPECT_TRUE(requests(rx::RTP_EXT_DETACH).empty());
  advance(2000);
}

TEST_F(RadioControlTest, ReceiveStepsReportSourceAndEndOnEmptyQueue) {
  Probe c(4);
  const uint8_t first[] = {130, 0, 0, 0, 1, 0, 0, 10, 0, 0, 0, 9};
  const uint8_t second[] = {129, 4, 0, 0};
  ASSERT_EQ(sim().rtp_ext_packet(addr("10.0.0.7").s_addr, 0xABCDEF01, first), 1u);
  ASSERT_EQ(sim().rtp_ext_packet(addr("10.0.0.8").s_addr, 0x22, second), 1u);
  pump();
  uint8_t buf[rx::kMaxPacket];
  ASSERT_EQ(c.ReadExtPacket(buf, sizeof buf), 12);
  auto source = [&] { return std::vector<uint32_t>{c.rx_info().ssrc, c.rx_info().src_addr}; };
  EXPECT_EQ(source(), (std::vector<uint32_t>{0xABCDEF01u, addr("10.0.0.7").s_addr}));
  ASSERT_EQ(c.ReadExtPacket(buf, sizeof buf), 4);
  EXPECT_EQ(source(), (std::vector<uint32_t>{0x22u, addr("10.0.0.8").s_addr}));
  EXPECT_EQ(c.ReadExtPacket(buf, sizeof buf), 0);  // an empty queue ends the read at once
  EXPECT_EQ((std::vector<uint32_t>{c.stats().rx_info_calls, c.stats().bytes_read, c.stats().read_errno}),
            (std::vector<uint32_t>{2, 16, 0}));
  ASSERT_EQ(c.WriteExtPacket(second, sizeof second), 4);
  EXPECT_EQ(sent(), (std::vector<board::sim::Bytes>{{129, 4, 0, 0}}));
  EXPECT_EQ(c.stats().packets_written, 1u);
}

TEST_F(RadioControlTest, LocalAddressIsTheFirstPrivateOneOrLoopback) {
  EXPECT_EQ(RadioControl::PickLocalAddress({}).GetString(), "127.0.0.1:0");
  INet4::Addr a, b;
  a.Assign("192.168.1.5", nullptr);
  b.Assign("10.0.0.1", nullptr);
  EXPECT_EQ(RadioControl::PickLocalAddress({a, b}).GetString(), "192.168.1.5:0");
}

}  // namespace
