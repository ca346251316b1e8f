// The tone-control service and its receivers on the simulated "/dev/dtmf".
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <tuple>

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/TERM.h"
#include "board/dtmf.h"
#include "hardware/TonecReceiver.h"
#include "hardware/TonecReceiverService.h"
#include "HwDevTest.h"
#include "tests/support/RecordBytes.h"

namespace {

using Hardware::TonecReceiver;
using Hardware::TonecReceiverService;
namespace dtmf = board::dtmf;

struct ToneSlot : TonecReceiver {
  explicit ToneSlot(unsigned timeslot) : ts(timeslot) {}
  unsigned ts;
  std::vector<Params> events;
  int completed = 0;
  std::function<void()> on_event;
  std::function<void()> on_complete;

  void tonec_event(const Params& p) override {
    events.push_back(p);
    if (auto f = on_event) f();  // a copy: the callback may destroy this receiver
  }
  unsigned tonec_timeslot() const override { return ts; }
  void tone_gen_complete() override {
    ++completed;
    if (auto f = on_complete) f();
  }
};

using Generator = std::tuple<int, int, int, int>;  // f1, f2, a1, a2

LGCP::TranslateDtmfParams digits(std::initializer_list<std::pair<int, int>> tones) {
  LGCP::TranslateDtmfParams p;
  for (auto [f1, f2] : tones) {
    LGCP::DualTone t;
    t.set_freq1(f1);
    t.set_freq2(f2);
    p.get_digits().push_back(t);
  }
  return p;
}

class ToneTest : public HwDevTest {
 protected:
  void SetUp() override {
    HwDevTest::SetUp();
    svc().init();
    sim().clear_requests();
    clear_output();
  }

  static TonecReceiverService& svc() { return *TonecReceiverService::instance(); }
  static Generator generator(unsigned ts) {
    const auto& t = sim().state().tones[ts];
    return {t.frequency1, t.frequency2, t.amplitude1, t.amplitude2};
  }
  static size_t count(uint32_t request) { return requests(Device::dtmf, request).size(); }
};

const Generator kOff{0, 0, 0, 0};
const Generator kSilence{1000, 1000, 0, 0};
const Generator kRing{425, 0, 2048, 2048};

TEST_F(ToneTest, DetectorEnableTakesANewIdOnlyWhenTheStateChanges) {
  ToneSlot r(5);
  uint32_t before = svc().request_counter();
  EXPECT_TRUE(r.enableDTMF(true));
  EXPECT_TRUE(r.enableDTMF(true));
  ASSERT_EQ(count(dtmf::DTMF_ENABLE_DETECTOR), 1u);
  EXPECT_EQ(r.requestId(), before + 1);
  EXPECT_EQ(requests(Device::dtmf, dtmf::DTMF_ENABLE_DETECTOR)[0].bytes(), be32({5, before + 1}));

  EXPECT_TRUE(r.disableDTMF());
  EXPECT_TRUE(r.disableDTMF());
  EXPECT_EQ(count(dtmf::DTMF_DISABLE_DETECTOR), 1u);
  EXPECT_EQ(requests(Device::dtmf, dtmf::DTMF_DISABLE_DETECTOR)[0].arg("timeslot"), 5);

  // The id skips 0 when the counter wraps, and a failed enable still spends its id.
  svc().set_request_counter(0xFFFFFFFEu);
  sim().fail_next(Device::dtmf, EIO);
  EXPECT_FALSE(r.enableDTMF(true));
  EXPECT_FALSE(r.dtmfEnabled());
  EXPECT_TRUE(r.enableDTMF(true));
  EXPECT_EQ(r.requestId(), 1u);

  // IVA on first must not make the DTMF enable a no-op (it would leave the detector without an
  // id); IVA off keeps the digits coming, and with DTMF off IVA results still arrive.
  ToneSlot iva(6);
  sim().clear_requests();
  ASSERT_TRUE(iva.enableIVA(true));
  ASSERT_TRUE(iva.enableDTMF(true));
  EXPECT_EQ(count(dtmf::DTMF_ENABLE_DETECTOR), 1u);
  ASSERT_TRUE(iva.enableIVA(false));
  sim().dtmf_event(6, 1, 10);
  pass();
  EXPECT_EQ(iva.events.size(), 1u);
  ASSERT_TRUE(iva.enableIVA(true));
  ASSERT_TRUE(iva.enableDTMF(false));
  sim().dtmf_event(6, 2, 11, iva.requestId());
  pass();
  EXPECT_EQ(iva.events.size(), 2u);
  ASSERT_TRUE(iva.enableIVA(false));
  sim().dtmf_event(6, 3, 12, iva.requestId());
  pass();
  EXPECT_EQ(iva.events.size(), 2u);
}

TEST_F(ToneTest, EventsReachTheFirstReceiverOfTheirTimeslotWithTheCurrentId) {
  ToneSlot first(5), second(5), other(7);
  ASSERT_TRUE(first.enableDTMF(true));
  ASSERT_TRUE(second.enableDTMF(true));  // the detector's id is now second's
  uint32_t id = first.requestId();
  sim().dtmf_event(5, 3, 1000, id);
  sim().dtmf_event(5, 4, 1001, id + 5);  // stale
  sim().dtmf_event(7, 5, 1002, 0);       // receiver without detector
  sim().dtmf_event(9, 6, 1003, 0);       // nobody
  pass();
  ASSERT_EQ(first.events.size(), 1u);
  EXPECT_EQ(first.events[0].code, 3u);
  EXPECT_EQ(first.events[0].timestamp, 1000u);
  EXPECT_TRUE(second.events.empty());
  EXPECT_TRUE(other.events.empty());
  // Once the newest wish has the detector off, the device holds it off for both.
  ASSERT_TRUE(second.disableDTMF());
  EXPECT_TRUE(first.dtmfEnabled());
  sim().dtmf_event(5, 7, 1004, id);
  pass();
  EXPECT_EQ(first.events.size(), 1u);

  // Receivers may come and go while their events are delivered.
  auto doomed = std::make_unique<ToneSlot>(8);
  ASSERT_TRUE(doomed->enableDTMF(true));
  id = doomed->requestId();
  std::unique_ptr<ToneSlot> successor;
  doomed->on_event = [&] {
    doomed.reset();
    successor = std::make_unique<ToneSlot>(8);
  };
  sim().dtmf_event(8, 1, 1, id);
  sim().dtmf_event(8, 2, 2, id);
  pass();
  EXPECT_FALSE(doomed);
  ASSERT_TRUE(successor);
  EXPECT_TRUE(successor->events.empty());
}

TEST_F(ToneTest, RecordsAreTakenWholeAndAHungUpDeviceIsReopenedByTheNextConfigure) {
  ToneSlot r(4);
  ASSERT_TRUE(r.enableDTMF(true));
  auto record = [&](uint32_t code) {
    dtmf::ToneEvent e;
    e.code = code;
    e.timeslot = 4;
    e.timestamp = 77;
    e.id = r.requestId();
    return vxtest::bytes_of(e);
  };
  Bytes two = record(1);
  Bytes second = record(2);
  two.insert(two.end(), second.begin(), second.end());
  sim().inject_raw(Device::dtmf, two);
  sim().inject_raw(Device::dtmf, Bytes(10, 0xEE));
  Bytes torn = record(3);
  torn.resize(20, 0);
  sim().inject_raw(Device::dtmf, torn);
  pass();
  ASSERT_EQ(r.events.size(), 3u);
  EXPECT_EQ(r.events[2].code, 3u);

  sim().hangup(Device::dtmf);
  pass();
  EXPECT_FALSE(svc().is_open());
  EXPECT_EQ(svc().fd(), -1);
  LGCP::IVAParams iva;
  iva.set_det_lvl_dB(-30);
  sim().fail_open(Device::dtmf, ENOENT);
  EXPECT_FALSE(r.configureIVA(iva));
  sim().fail_open(Device::dtmf, 0);
  ASSERT_TRUE(r.configureIVA(iva));
  EXPECT_TRUE(svc().is_open());
  auto c = requests(Device::dtmf, dtmf::IVA_CONFIGURE_DETECTOR);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].bytes(), (Bytes{0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 0xE2}));
}

TEST_F(ToneTest, ConfigurationAndSwitchRequestsCarryTheirRecords) {
  ToneSlot r(5);
  LGCP::DTMFParams p;
  p.get_threshold().set_twist(1);
  p.get_threshold().set_ratio(2);
  p.get_threshold().set_noise(3);
  p.get_level().set_silence(4);
  ASSERT_TRUE(r.configureDTMF(p));
  auto c = requests(Device::dtmf, dtmf::DTMF_CONFIGURE_DETECTOR);
  ASSERT_EQ(c.size(), 1u);
  // Silence comes before noise in the record.
  EXPECT_EQ(c[0].bytes(), be32({5, 1, 2, 4, 3}));

  EXPECT_TRUE(r.echoCancel(true));
  sim().fail_next(Device::dtmf, EIO);
  EXPECT_FALSE(r.echoCancel(false));
  EXPECT_TRUE(sim().state().tones[5].echo_canceller);

  ASSERT_TRUE(r.enableDTMF(true));
  ASSERT_TRUE(r.enableIVA(true));
  sim().fail_next(Device::dtmf, EBUSY);
  EXPECT_FALSE(r.enableDTMFReject(true));
  EXPECT_FALSE(r.rejectEnabled());
  ASSERT_TRUE(r.enableDTMFReject(true));

  // What the receiver switched on is switched off again before it goes.
  sim().clear_requests();
  r.CleanBeforeDestroy();
  std::vector<std::string> names;
  for (const auto& q : sim().requests(Device::dtmf)) names.push_back(q.def ? q.def->name : "?");
  EXPECT_EQ(names,
            (std::vector<std::string>{"DTMF_DISABLE_DETECTOR", "IVA_DETECTOR_DISABLE", "DTMF_REJECTION_DISABLE"}));
  sim().clear_requests();
  r.CleanBeforeDestroy();
  EXPECT_TRUE(sim().requests(Device::dtmf).empty());

  // Selective calling sends the first four signs and refuses fewer.
  TERM::SelcalCommand cmd;
  cmd.set_signs("12345");
  EXPECT_EQ(r.translateSelcal(cmd), 0);
  cmd.set_amp(500);
  cmd.set_signs("ABCD");
  EXPECT_EQ(r.translateSelcal(cmd), 0);
  cmd.set_signs("123");
  EXPECT_LT(r.translateSelcal(cmd), 0);
  auto s = requests(Device::dtmf, dtmf::SELCAL_DIAL);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].bytes(), (Bytes{0, 0, 0, 5, 0x2E, 0xE0, '1', '2', '3', '4', 0, 0}));
  EXPECT_EQ(s[1].bytes(), (Bytes{0, 0, 0, 5, 0x01, 0xF4, 'A', 'B', 'C', 'D', 0, 0}));
}

// The generator after each step of the loop's clock.
struct Step {
  uint32_t ms;
  Generator expected;
};
#define EXPECT_STEPS(...)                                               \
  for (const Step& step : std::initializer_list<Step>{__VA_ARGS__}) {   \
    advance(step.ms);                                                   \
    EXPECT_EQ(generator(5), step.expected) << "after " << step.ms;      \
  }

// The timeslot's number went to a new receiver before the old one let it go (a lost channel
// handled a pass late), or two ports share it: the old one's clean-up leaves what the other has
// on, owes only what nobody has on, and still switches that off.
TEST_F(ToneTest, CleanUpLeavesWhatAnotherReceiverOfTheTimeslotHasOn) {
  auto old = std::make_unique<ToneSlot>(5);
  ASSERT_TRUE(old->activateAudibleCall());
  ASSERT_TRUE(old->enableDTMF(true));
  ASSERT_TRUE(old->enableIVA(true));
  ASSERT_TRUE(old->enableDTMFReject(true));
  ToneSlot fresh(5);
  ASSERT_TRUE(fresh.activateAudibleCall());
  ASSERT_TRUE(fresh.enableDTMF(true));
  sim().clear_requests();
  // The device refuses the first switch-off: it is owed, and only it.
  sim().fail_next(Device::dtmf, EIO);
  old->CleanBeforeDestroy();
  old.reset();
  EXPECT_EQ(svc().owed(), 1u);
  std::vector<std::string> names;
  for (const auto& q : sim().requests(Device::dtmf)) names.push_back(q.def ? q.def->name : "?");
  EXPECT_EQ(names, (std::vector<std::string>{"IVA_DETECTOR_DISABLE", "DTMF_REJECTION_DISABLE"}));
  advance(TonecReceiverService::kSettleMs);
  EXPECT_EQ(svc().owed(), 0u);
  EXPECT_FALSE(sim().state().tones[5].iva);
  EXPECT_FALSE(sim().state().tones[5].rejection);
  EXPECT_EQ(count(dtmf::DTMF_DISABLE_DETECTOR), 0u);

  // The new receiver's ring-back and detection carry on; the old one's sequence is over.
  EXPECT_EQ(generator(5), kRing);
  EXPECT_TRUE(sim().state().tones[5].detector);
  sim().dtmf_event(5, 9, 500, fresh.requestId());
  pass();
  EXPECT_EQ(fresh.events.size(), 1u);
  sim().clear_requests();
  EXPECT_STEPS({TonecReceiver::kRingOn - TonecReceiverService::kSettleMs, kSilence}, {TonecReceiver::kRingOff, kRing});
  EXPECT_EQ(count(dtmf::DTMF_DIAL), 2u);

  // Alone on the timeslot, the new one switches everything off.
  fresh.CleanBeforeDestroy();
  EXPECT_EQ(generator(5), kOff);
  EXPECT_FALSE(sim().state().tones[5].detector);
}

TEST_F(ToneTest, DiallingPlaysEachToneAndPauseInTimeOrder) {
  ToneSlot r(5);
  auto p = digits({{697, 1209}, {941, 1336}});
  p.set_amp1(1000);
  p.set_toneDuration(100);
  p.set_pauseDuration(50);
  r.translateDTMF(p);
  EXPECT_TRUE(r.toneGeneratorRunning());
  const Generator first{697, 1209, 1000, 16384}, second{941, 1336, 1000, 16384};
  EXPECT_STEPS({0, first}, {99, first}, {1, kSilence}, {50, second}, {100, kSilence});
  EXPECT_EQ(r.completed, 0);
  EXPECT_STEPS({50, kOff});
  EXPECT_EQ(r.completed, 1);
  EXPECT_FALSE(r.toneGeneratorRunning());
  advance(1000);
  EXPECT_EQ(count(dtmf::DTMF_DIAL), 5u);
  EXPECT_FALSE(r.disableToneGenerator(false));  // nothing runs
  EXPECT_EQ(count(dtmf::DTMF_DIAL), 5u);

  // Defaults; a new list during the dialling replaces what is left without restarting the timing.
  r.translateDTMF(digits({{1, 2}, {3, 4}}));
  EXPECT_STEPS({0, Generator(1, 2, 16384, 16384)}, {70, kSilence});
  r.translateDTMF(digits({{5, 6}}));
  EXPECT_STEPS({69, kSilence}, {1, Generator(5, 6, 16384, 16384)}, {70, kSilence}, {70, kOff});
  EXPECT_EQ(r.completed, 2);
  r.translateDTMF(digits({}));
  EXPECT_EQ(generator(5), kOff);
  EXPECT_EQ(r.completed, 3);
  EXPECT_FALSE(r.toneGeneratorRunning());

  // The owner may go away when told that the dialling ended.
  auto gone = std::make_unique<ToneSlot>(6);
  gone->on_complete = [&] { gone.reset(); };
  gone->translateDTMF(digits({{7, 8}}));
  advance(70);
  advance(70);
  EXPECT_FALSE(gone);
}

TEST_F(ToneTest, RingBackRepeatsItsCadenceUntilCancelled) {
  ToneSlot r(5);
  r.activateAudibleCall();
  EXPECT_FALSE(r.toneGeneratorRunning());
  EXPECT_STEPS({0, kRing}, {1000, kSilence}, {2999, kSilence}, {1, kRing}, {1000, kSilence});
  r.cancelAudibleCall();
  size_t dials = count(dtmf::DTMF_DIAL);
  EXPECT_STEPS({0, kOff}, {3000, kOff}, {1000, kOff}, {3000, kOff});
  EXPECT_EQ(count(dtmf::DTMF_DIAL), dials);

  // A destroyed receiver leaves no timer behind.
  auto gone = std::make_unique<ToneSlot>(6);
  gone->activateAudibleCall();
  unsigned timers = multiplexer.timer_count();
  gone.reset();
  EXPECT_EQ(multiplexer.timer_count(), timers - 1);
  advance(5000);
}

TEST_F(ToneTest, RingBackAndDiallingShareTheGenerator) {
  ToneSlot r(5);
  r.translateDTMF(digits({{1, 2}}));
  r.cancelAudibleCall();  // a dialling runs: nothing happens
  EXPECT_EQ(generator(5), Generator(1, 2, 16384, 16384));
  EXPECT_TRUE(r.toneGeneratorRunning());

  // A ring-back takes the generator over; a later dialling starts at once and ends it.
  r.activateAudibleCall();
  EXPECT_FALSE(r.toneGeneratorRunning());
  EXPECT_STEPS({0, kRing}, {1000, kSilence});
  r.translateDTMF(digits({{3, 4}}));
  EXPECT_STEPS({0, Generator(3, 4, 16384, 16384)}, {70, kSilence}, {70, kOff}, {4000, kOff});
  EXPECT_EQ(r.completed, 1);

  // A forced stop ends a running ring-back too.
  r.activateAudibleCall();
  EXPECT_TRUE(r.disableToneGenerator(true));
  EXPECT_STEPS({1000, kOff});
}

}  // namespace
