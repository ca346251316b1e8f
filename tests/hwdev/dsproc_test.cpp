// The DSP-processing service and its receivers on the simulated "/dev/dsp".
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include "asn1/schemas/LGCP.h"
#include "asn1/schemas/TERM.h"
#include "board/dsp.h"
#include "hardware/DSProcReceiver.h"
#include "hardware/DSProcReceiverService.h"
#include "HwDevTest.h"
#include "tests/support/RecordBytes.h"

namespace {

using Hardware::DSProcReceiver;
using Hardware::DSProcReceiverService;
namespace dsp = board::dsp;

struct DspSlot : DSProcReceiver {
  explicit DspSlot(unsigned timeslot) : ts(timeslot) {}
  unsigned ts;
  std::vector<std::pair<int, int>> vads;
  std::vector<int> sds;
  std::vector<float> scores;
  std::vector<std::pair<uint32_t, uint32_t>> tones;
  std::vector<std::pair<uint32_t, uint32_t>> flags;
  std::function<void()> on_vad;

  void dsproc_vad_event(const Hardware::DSProcVADEvent& e) override {
    vads.emplace_back(e.rx, e.tx);
    if (auto f = on_vad) f();  // a copy: the callback may destroy this receiver
  }
  void dsproc_bss_event(const Hardware::dsproc_bss_event* e) override { scores.push_back(e->score); }
  void dsproc_sd_event(const Hardware::DSProcSDEvent& e) override { sds.push_back(e.sd); }
  void dsproc_tone_flt_event(const Hardware::dsproc_tone_event* e) override {
    tones.emplace_back(e->frequency, e->presence);
  }
  void dsproc_flags_event(const Hardware::dsproc_flags_event* e) override { flags.emplace_back(e->flags, e->mask); }
  unsigned dsproc_timeslot() const override { return ts; }
};

class DspTest : public HwDevTest {
 protected:
  void SetUp() override {
    HwDevTest::SetUp();
    svc().init();
    sim().state().vad_version = 2;
    sim().clear_requests();
    clear_output();
  }

  static DSProcReceiverService& svc() { return *DSProcReceiverService::instance(); }
  static std::vector<board::sim::Request> all() { return sim().requests(Device::dsp); }
};

TEST_F(DspTest, FeatureRequestsFollowTheStateAndShareOneIdCounter) {
  DspSlot r(3);
  uint32_t id = svc().request_counter() + 1;
  EXPECT_TRUE(r.enableVAD(true));
  EXPECT_TRUE(r.enableVAD(true));
  EXPECT_TRUE(r.enableBSS(true));
  EXPECT_TRUE(r.enableNG(true));
  auto enables = requests(Device::dsp, dsp::DSPROC_ENABLE);
  ASSERT_EQ(enables.size(), 3u);
  EXPECT_EQ(enables[0].bytes(), be32({3, id, 1}));
  EXPECT_EQ(enables[1].bytes(), be32({3, id + 1, 16}));
  EXPECT_EQ(enables[2].bytes(), be32({3, id + 2, 128}));
  EXPECT_EQ(r.vad().id, id);
  EXPECT_EQ(r.ng().id, id + 2);

  EXPECT_TRUE(r.disableVAD());
  EXPECT_TRUE(r.disableVAD());
  auto disables = requests(Device::dsp, dsp::DSPROC_DISABLE);
  ASSERT_EQ(disables.size(), 1u);
  EXPECT_EQ(disables[0].bytes(), be32({3, 0, 1}));

  // SD starts unset, so its first disable is issued; BSS starts off, so its disable is not.
  DspSlot fresh(4);
  EXPECT_TRUE(fresh.disableSD());
  EXPECT_TRUE(fresh.disableBSS());
  EXPECT_EQ(requests(Device::dsp, dsp::DSPROC_DISABLE).size(), 2u);
  EXPECT_EQ(fresh.sd().state, 0);

  // A failure changes nothing; the wrapped counter skips 0.
  svc().set_request_counter(0xFFFFFFFFu);
  sim().fail_next(Device::dsp, EIO);
  EXPECT_FALSE(fresh.enableSD(true));
  EXPECT_EQ(fresh.sd().state, 0);
  EXPECT_LINE(err(), "DSPROC_ENABLE SD fail: timeslot=4 id=1 errno=\"Input/output error\"");
  sim().fail_next(Device::dsp, EIO);
  EXPECT_FALSE(r.disableNG());
  EXPECT_EQ(r.ng().state, 1);
  EXPECT_TRUE(fresh.enableSD(true));
  EXPECT_EQ(fresh.sd().id, 2u);

  // Mute switches both directions under one id; from the unset state the request is issued.
  EXPECT_TRUE(r.enableMute(false, false));
  EXPECT_TRUE(r.disableMute());
  sim().clear_requests();
  EXPECT_TRUE(r.enableMute(true, false));
  EXPECT_TRUE(r.enableMute(true, false));
  EXPECT_TRUE(r.enableMute(true, true));
  auto e = requests(Device::dsp, dsp::DSPROC_ENABLE);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].arg("mask"), 4);
  EXPECT_EQ(e[1].arg("mask"), 12);
  EXPECT_EQ(r.muteId(), static_cast<uint32_t>(*e[1].arg("id")));
  EXPECT_EQ(std::pair(r.muteFirst(), r.muteSecond()), std::pair(1, 1));
  EXPECT_TRUE(r.disableMute());
  EXPECT_EQ(requests(Device::dsp, dsp::DSPROC_DISABLE).at(0).bytes(), be32({3, 0, 12}));
}

TEST_F(DspTest, EachEventTypeHasItsOwnFilter) {
  set_traces("signalling.events = yes");
  DspSlot r(3), never(4);
  sim().dsp_sd(3, 4, 0);
  sim().dsp_bss(3, 2.5f, 0);
  sim().dsp_vad(4, 3, 1, 1, 0);  // never switched on is off too
  pass();
  EXPECT_TRUE(r.sds.empty());
  EXPECT_TRUE(r.scores.empty());
  EXPECT_TRUE(never.vads.empty());

  ASSERT_TRUE(r.enableVAD(true));
  ASSERT_TRUE(r.enableSD(true));
  ASSERT_TRUE(r.enableBSS(true));
  const uint32_t id = r.vad().id;
  sim().dsp_vad(3, 2, 5, 9, id);
  sim().dsp_vad(3, 1, 5, 9, id);
  sim().dsp_vad(3, 3, -1, 0, id);
  sim().dsp_vad(3, 3, 1, 1, id + 1);  // stale
  sim().dsp_sd(3, 4);
  sim().dsp_sd(3, 5, r.sd().id + 1);  // stale
  sim().dsp_bss(3, 2.5f, 12345);      // BSS takes any id
  sim().dsp_flags(3, 0xFF, 0xF0);
  uint8_t tone[12] = {0, 0, 0x08, 0x34, 0, 0, 0, 1};
  sim().dsp_event(3, dsp::kEventToneFilter, tone);
  sim().dsp_event(3, 0x4000, tone);  // unknown type: nothing
  pass();
  EXPECT_EQ(r.vads, (std::vector<std::pair<int, int>>{{-1, 9}, {5, -1}, {-1, 0}}));
  EXPECT_EQ(r.sds, std::vector<int>{4});
  EXPECT_EQ(r.scores, std::vector<float>{2.5f});
  EXPECT_EQ(r.flags, (std::vector<std::pair<uint32_t, uint32_t>>{{0xFF, 0xF0}}));
  EXPECT_EQ(r.tones, (std::vector<std::pair<uint32_t, uint32_t>>{{2100, 1}}));
  EXPECT_LINE(log(), "ignore spurious dsproc vad event:  timeslot=3 id=" + std::to_string(id + 1) +
                         " type=1 rid=" + std::to_string(id));

  ASSERT_TRUE(r.disableVAD());
  sim().dsp_vad(3, 3, 1, 1, id);
  pass();
  EXPECT_EQ(r.vads.size(), 3u);
}

TEST_F(DspTest, EventsAreRoutedByTimeslot) {
  DspSlot a(3), b(4);
  ASSERT_TRUE(a.enableBSS(true));
  ASSERT_TRUE(b.enableBSS(true));
  sim().dsp_bss(4, 1.0f);
  sim().dsp_bss(12, 1.0f);
  pass();
  EXPECT_TRUE(a.scores.empty());
  EXPECT_EQ(b.scores.size(), 1u);

  // A receiver destroyed by its own event hears nothing more.
  auto doomed = std::make_unique<DspSlot>(5);
  ASSERT_TRUE(doomed->enableVAD(true));
  uint32_t id = doomed->vad().id;
  doomed->on_vad = [&] { doomed.reset(); };
  sim().dsp_vad(5, 3, 1, 1, id);
  sim().dsp_vad(5, 3, 1, 1, id);
  pass();
  EXPECT_FALSE(doomed);
}

TEST_F(DspTest, ConfigurationRecords) {
  DspSlot r(3);
  LGCP::VADParams v1;
  v1.set_v1();
  EXPECT_FALSE(r.configureVAD(v1));  // the driver speaks version 2
  LGCP::VADParams v2;
  v2.select_v2().set_voice_th_msec(200);
  v2.select_v2().set_silence_th_msec(500);
  v2.select_v2().set_e_th_dB(40);
  ASSERT_TRUE(r.configureVAD(v2));
  // A refused version query leaves the layout unknown: nothing is written.
  sim().fail_next(Device::dsp, EIO, 1, dsp::DSPROC_VAD_VERSION);
  EXPECT_FALSE(r.configureVAD(v2));
  EXPECT_EQ(requests(Device::dsp, dsp::DSPROC_CONFIGURE).size(), 1u);
  sim().state().vad_version = 1;
  ASSERT_TRUE(r.configureVAD(v2));
  ASSERT_TRUE(r.configureSD());
  ASSERT_TRUE(r.configureDelays(10, 20, 30));
  ASSERT_TRUE(r.configureRxGain(-6));
  ASSERT_TRUE(r.configureToneFilter(2100, 1, 300, -20));
  auto c = requests(Device::dsp, dsp::DSPROC_CONFIGURE);
  ASSERT_EQ(c.size(), 6u);
  EXPECT_EQ(c[0].bytes(), (Bytes{0, 0, 0, 3, 0, 0, 0, 1, 0, 200, 0x01, 0xF4, 40, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(c[1].bytes(), be32({3, 1, 3, 127, 0}));
  EXPECT_EQ(c[2].bytes(), be32({3, 2, 0, 0, 0}));
  EXPECT_EQ(c[3].bytes(), be32({3, 32, 10, 20, 30}));
  EXPECT_EQ(c[4].bytes(), (Bytes{0, 0, 0, 3, 0, 0, 0, 64, 0xFA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(c[5].bytes(), (Bytes{0, 0, 0, 3, 0, 0, 1, 0, 0x08, 0x34, 1, 0, 0x01, 0x2C, 0xEC, 0, 0, 0, 0, 0}));

  sim().fail_next(Device::dsp, EINVAL);
  EXPECT_FALSE(r.configureDelays(0, 0, 0));
  EXPECT_TRUE(r.delaysSet());
}

TEST_F(DspTest, CleanBeforeDestroyUndoesWhatWasSwitchedOn) {
  DspSlot r(3);
  ASSERT_TRUE(r.enableVAD(true));
  ASSERT_TRUE(r.enableBSS(true));
  ASSERT_TRUE(r.enableNG(true));
  ASSERT_TRUE(r.enableSD(true));
  ASSERT_TRUE(r.enableMute(true, true));
  ASSERT_TRUE(r.configureDelays(0, 5, 0));
  ASSERT_TRUE(r.configureRxGain(3));
  sim().clear_requests();
  r.CleanBeforeDestroy();
  std::vector<std::string> seen;
  for (const auto& q : all()) seen.push_back(q.text());
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "DSPROC_DISABLE timeslot=3 id=0 mask=1 -> 0",
                      "DSPROC_DISABLE timeslot=3 id=0 mask=16 -> 0",
                      "DSPROC_DISABLE timeslot=3 id=0 mask=128 -> 0",
                      "DSPROC_CONFIGURE timeslot=3 what=32 word2=0 word3=0 word4=0 -> 0",
                      "DSPROC_CONFIGURE timeslot=3 what=64 word2=0 word3=0 word4=0 -> 0",
                      "DSPROC_DISABLE timeslot=3 id=0 mask=256 -> 0",
                  }));

  // A gain set back to 0 (and delays cleared) need no reset; the tone filters always do.
  DspSlot q(4);
  ASSERT_TRUE(q.configureRxGain(5));
  ASSERT_TRUE(q.configureRxGain(0));
  EXPECT_FALSE(q.rxGainSet());
  sim().clear_requests();
  q.CleanBeforeDestroy();
  ASSERT_EQ(all().size(), 1u);
  EXPECT_EQ(all()[0].arg("mask"), 256);
}

// The timeslot's number went to a new receiver before the old one let it go, or two ports share
// it: the old one's clean-up leaves what the other has set and switches off only the rest.
TEST_F(DspTest, CleanUpLeavesWhatAnotherReceiverOfTheTimeslotHasSet) {
  auto old = std::make_unique<DspSlot>(13);
  ASSERT_TRUE(old->enableVAD(true));
  ASSERT_TRUE(old->enableBSS(true));
  ASSERT_TRUE(old->configureDelays(0, 5, 0));
  ASSERT_TRUE(old->configureRxGain(3));
  DspSlot fresh(13);
  ASSERT_TRUE(fresh.enableVAD(true));
  ASSERT_TRUE(fresh.configureRxGain(-6));
  ASSERT_TRUE(fresh.configureToneFilter(2100, 1, 300, -20));
  sim().clear_requests();
  sim().fail_next(Device::dsp, EIO);
  old->CleanBeforeDestroy();
  old.reset();
  std::vector<std::string> seen;
  for (const auto& q : all()) seen.push_back(q.text());
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "DSPROC_DISABLE timeslot=13 id=0 mask=16 -> -1 EIO",
                      "DSPROC_CONFIGURE timeslot=13 what=32 word2=0 word3=0 word4=0 -> 0",
                  }));
  // The refused switch-off is owed and made later; the new receiver's settings stay.
  EXPECT_EQ(svc().owed(), 1u);
  advance(DSProcReceiverService::kSettleMs);
  EXPECT_EQ(svc().owed(), 0u);
  EXPECT_EQ(sim().state().dsp[13].enabled, dsp::kVad);
  EXPECT_EQ(sim().state().dsp[13].configured[dsp::kConfigureRxGain][0], 0xFA);
  sim().dsp_vad(13, 3, 1, 0, fresh.vad().id);
  uint8_t tone[12] = {0, 0, 0x08, 0x34, 0, 0, 0, 1};
  sim().dsp_event(13, dsp::kEventToneFilter, tone);
  pass();
  EXPECT_EQ(fresh.vads.size(), 1u);
  EXPECT_EQ(fresh.tones.size(), 1u);
}

TEST_F(DspTest, RecordsAreTakenWholeAndAHungUpDeviceIsReopenedByTheNextConfigure) {
  DspSlot r(3);
  ASSERT_TRUE(r.enableBSS(true));
  dsp::ProcEvent e;
  e.timeslot = 3;
  e.type = dsp::kEventBss;
  dsp::BssEvent score;
  score.score = 0.5f;
  dsp::set_payload(e.payload, score);
  Bytes torn = vxtest::bytes_of(e);
  torn.resize(30, 0);
  sim().inject_raw(Device::dsp, torn);
  sim().inject_raw(Device::dsp, Bytes(3, 1));
  pass();
  EXPECT_EQ(r.scores, std::vector<float>{0.5f});
  EXPECT_TRUE(svc().is_open());

  sim().hangup(Device::dsp);
  pass(3);
  EXPECT_FALSE(svc().is_open());
  sim().fail_open(Device::dsp, ENOENT);
  EXPECT_FALSE(r.configureSD());
  EXPECT_FALSE(r.disableToneAll());
  sim().fail_open(Device::dsp, 0);
  EXPECT_TRUE(r.configureSD());
  EXPECT_TRUE(svc().is_open());
  sim().dsp_bss(3, 1.5f);
  pass();
  EXPECT_EQ(r.scores, (std::vector<float>{0.5f, 1.5f}));
}

}  // namespace
