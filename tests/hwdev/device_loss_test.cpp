// The tone-control and DSP-processing services when their device goes away and comes back, a
// receiver's generator at its destruction, and events on a timeslot that two receivers share.
#include <cerrno>
#include <vector>

#include "asn1/schemas/LGCP.h"
#include "board/dsp.h"
#include "board/dtmf.h"
#include "hardware/DSProcReceiver.h"
#include "hardware/DSProcReceiverService.h"
#include "hardware/TonecReceiver.h"
#include "hardware/TonecReceiverService.h"
#include "HwDevTest.h"

namespace {

using Hardware::DSProcReceiver;
using Hardware::DSProcReceiverService;
using Hardware::TonecReceiver;
using Hardware::TonecReceiverService;
namespace dsp = board::dsp;
namespace dtmf = board::dtmf;

struct Tones : TonecReceiver {
  explicit Tones(unsigned timeslot) : ts(timeslot) {}
  unsigned ts;
  std::vector<uint32_t> codes;
  void tonec_event(const Params& p) override { codes.push_back(p.code); }
  unsigned tonec_timeslot() const override { return ts; }
};

struct Dsp : DSProcReceiver {
  explicit Dsp(unsigned timeslot) : ts(timeslot) {}
  unsigned ts;
  std::vector<int> vads, sds;
  std::vector<uint32_t> tones;
  void dsproc_vad_event(const Hardware::DSProcVADEvent& e) override { vads.push_back(e.rx); }
  void dsproc_bss_event(const Hardware::dsproc_bss_event*) override {}
  void dsproc_sd_event(const Hardware::DSProcSDEvent& e) override { sds.push_back(e.sd); }
  void dsproc_tone_flt_event(const Hardware::dsproc_tone_event* e) override { tones.push_back(e->frequency); }
  void dsproc_flags_event(const Hardware::dsproc_flags_event*) override {}
  unsigned dsproc_timeslot() const override { return ts; }
};

using Generator = std::tuple<int, int, int, int>;
const Generator kOff{0, 0, 0, 0};

class DeviceLoss : public HwDevTest {
 protected:
  void SetUp() override {
    HwDevTest::SetUp();
    tonec().init();
    dsproc().init();
    sim().clear_requests();
    clear_output();
  }
  void TearDown() override {
    sim().fail_open(Device::dtmf, 0);
    sim().fail_open(Device::dsp, 0);
    HwDevTest::TearDown();
  }
  static TonecReceiverService& tonec() { return *TonecReceiverService::instance(); }
  static DSProcReceiverService& dsproc() { return *DSProcReceiverService::instance(); }
  static Generator generator(unsigned ts) {
    const auto& t = sim().state().tones[ts];
    return {t.frequency1, t.frequency2, t.amplitude1, t.amplitude2};
  }
  // The device hangs up, the loop sees it, and the driver forgets what the old descriptor held.
  void lose(Device device) {
    sim().hangup(device);
    pass(3);
    if (device == Device::dtmf) sim().state().tones.clear();
    if (device == Device::dsp) sim().state().dsp.clear();
  }
};

TEST_F(DeviceLoss, ToneRequestsOfAnyKindReopenAndPutBackWhatReceiversHold) {
  Tones held(21), fresh(22);
  ASSERT_TRUE(held.enableDTMF(true));
  ASSERT_TRUE(held.enableIVA(true));
  ASSERT_TRUE(held.enableDTMFReject(true));
  ASSERT_TRUE(held.echoCancel(true));
  ASSERT_TRUE(held.enableToneGenerator(425, 0, 2048, 0));
  const uint32_t id = held.requestId();
  lose(Device::dtmf);
  ASSERT_FALSE(tonec().is_open());

  // An enable (not a configure) brings the device back.
  EXPECT_TRUE(fresh.enableDTMF(true));
  EXPECT_TRUE(tonec().is_open());
  const auto& t = sim().state().tones[21];
  EXPECT_TRUE(t.detector);
  EXPECT_EQ(t.detector_id, id) << "the id its events carry";
  EXPECT_TRUE(t.iva);
  EXPECT_TRUE(t.rejection);
  EXPECT_TRUE(t.echo_canceller);
  EXPECT_EQ(generator(21), (Generator{425, 0, 2048, 0}));
  EXPECT_TRUE(sim().state().tones[22].detector);
  sim().dtmf_event(21, 7, 1);
  pass();
  EXPECT_EQ(held.codes, std::vector<uint32_t>{7});

  // A generator request on a descriptor the loop has not yet seen go is made on a new one.
  sim().hangup(Device::dtmf);
  EXPECT_TRUE(fresh.enableToneGenerator(1000, 0, 100, 0));
  EXPECT_EQ(generator(22), (Generator{1000, 0, 100, 0}));
}

TEST_F(DeviceLoss, AnAbsentToneDeviceIsRetriedOncePerPeriodAndRequestsFail) {
  Tones held(23);
  ASSERT_TRUE(held.enableDTMF(true));
  sim().fail_open(Device::dtmf, ENOENT);
  lose(Device::dtmf);
  EXPECT_FALSE(held.enableToneGenerator(425, 0, 2048, 0)) << "an error, not success";
  EXPECT_FALSE(held.activateAudibleCall());
  held.cancelAudibleCall();
  clear_output();
  for (int i = 0; i < 5; ++i) advance(TonecReceiverService::kRetryMs);
  EXPECT_FALSE(tonec().is_open());
  EXPECT_EQ(err(), "open tonec fail, DTMF proceeding disabled: No such file or directory\n") << "logged once";
  clear_output();
  EXPECT_FALSE(held.enableToneGenerator(425, 0, 2048, 0));
  EXPECT_EQ(err(), "DTMF_DIAL fail: timeslot=23 errno=\"No such file or directory\"\n");

  // It comes back by itself: detection is in force again without any request, and the
  // generator, whose last request failed, is put in a known state: off.
  sim().state().tones[23].frequency1 = 999;
  sim().fail_open(Device::dtmf, 0);
  pass(10);
  EXPECT_FALSE(tonec().is_open()) << "no open outside the timer";
  advance(TonecReceiverService::kRetryMs);
  EXPECT_TRUE(tonec().is_open());
  EXPECT_TRUE(sim().state().tones[23].detector);
  EXPECT_EQ(generator(23), kOff) << "not the refused tone";
  sim().dtmf_event(23, 3, 1);
  pass();
  EXPECT_EQ(held.codes, std::vector<uint32_t>{3});
}

TEST_F(DeviceLoss, DestructionSwitchesOffTheGeneratorAndStopsTheSequence) {
  LGCP::TranslateDtmfParams digits;
  LGCP::DualTone tone;
  tone.set_freq1(697);
  tone.set_freq2(1209);
  digits.get_digits().push_back(tone);
  digits.get_digits().push_back(tone);
  for (int kind = 0; kind < 3; ++kind) {
    {
      Tones r(30);
      if (kind == 0) ASSERT_TRUE(r.activateAudibleCall());
      if (kind == 1) ASSERT_TRUE(r.translateDTMF(digits));
      if (kind == 2) ASSERT_TRUE(r.enableToneGenerator(425, 0, 2048, 0));
      ASSERT_NE(generator(30), kOff);
      r.CleanBeforeDestroy();
    }
    EXPECT_EQ(generator(30), kOff) << kind;
    advance(5000);
    EXPECT_EQ(generator(30), kOff) << kind;
  }
  // A receiver that never started the generator leaves another's alone.
  Tones other(31);
  ASSERT_TRUE(other.enableToneGenerator(425, 0, 2048, 0));
  sim().clear_requests();
  { Tones idle(31); idle.CleanBeforeDestroy(); }
  EXPECT_TRUE(requests(Device::dtmf, dtmf::DTMF_DIAL).empty());
  other.CleanBeforeDestroy();
}

// A receiver destroyed while both devices are away: its switch-offs wait for the devices, are
// made before the live receiver of the same timeslot is restored, and only once.
TEST_F(DeviceLoss, SwitchOffsTheDevicesCouldNotTakeAreMadeWhenTheyReturnBeforeTheLiveReceivers) {
  Tones live(50);
  Dsp dlive(50);
  {
    Tones gone(50);
    Dsp dgone(50);
    ASSERT_TRUE(gone.activateAudibleCall());
    ASSERT_TRUE(gone.enableDTMF(true));
    ASSERT_TRUE(gone.enableIVA(true));
    ASSERT_TRUE(dgone.enableVAD(true));
    ASSERT_TRUE(dgone.enableNG(true));
    ASSERT_TRUE(dgone.configureDelays(10, 20, 30));
    ASSERT_TRUE(dgone.configureRxGain(-6));
    ASSERT_TRUE(dgone.configureToneFilter(1000, 1, 50, -20));
    for (Device d : {Device::dtmf, Device::dsp}) {
      sim().fail_open(d, ENOENT);
      sim().hangup(d);
    }
    pass(3);
    gone.CleanBeforeDestroy();
    dgone.CleanBeforeDestroy();
  }
  EXPECT_EQ(tonec().owed(), 1u);
  EXPECT_EQ(dsproc().owed(), 1u);
  EXPECT_FALSE(live.enableDTMF(true)) << "the device is still away";
  for (Device d : {Device::dtmf, Device::dsp}) sim().fail_open(d, 0);
  ASSERT_TRUE(live.enableDTMF(true));
  ASSERT_TRUE(dlive.enableSD(true));
  advance(DSProcReceiverService::kRetryMs);

  const auto& t = sim().state().tones[50];
  EXPECT_EQ(generator(50), kOff);
  EXPECT_FALSE(t.iva);
  EXPECT_TRUE(t.detector) << "the live receiver's enable came after the switch-off";
  EXPECT_EQ(t.detector_id, live.requestId());
  const auto& d = sim().state().dsp[50];
  EXPECT_EQ(d.enabled, dsp::kSd);
  const std::array<uint8_t, 12> zero{};
  EXPECT_EQ(d.configured.at(dsp::kConfigureDelays), zero);
  EXPECT_EQ(d.configured.at(dsp::kConfigureRxGain), zero);
  EXPECT_EQ(tonec().owed(), 0u);
  EXPECT_EQ(dsproc().owed(), 0u);

  // A later return restores the live receivers alone.
  sim().clear_requests();
  lose(Device::dtmf);
  lose(Device::dsp);
  advance(DSProcReceiverService::kRetryMs);
  EXPECT_TRUE(requests(Device::dtmf, dtmf::DTMF_DIAL).empty());
  EXPECT_TRUE(requests(Device::dsp, dsp::DSPROC_DISABLE).empty());
  EXPECT_TRUE(sim().state().tones[50].detector);
  EXPECT_EQ(sim().state().dsp[50].enabled, dsp::kSd);
}

// A present device that refuses the switch-offs: they are retried on a backing-off timer,
// quietly, carried out once and logged once; a new receiver and a request on the timeslot try
// them first, and a new receiver's own setting of a feature makes its owed switch-off moot.
TEST_F(DeviceLoss, SwitchOffsAPresentDeviceRefusedAreRetriedUntilTakenAndLoggedOnce) {
  {
    Tones gone(60);
    Dsp dgone(60);
    ASSERT_TRUE(gone.activateAudibleCall());
    ASSERT_TRUE(gone.enableDTMF(true));
    ASSERT_TRUE(dgone.enableVAD(true));
    sim().fail_next(Device::dtmf, EIO, 1000);
    sim().fail_next(Device::dsp, EIO, 1000);
    gone.CleanBeforeDestroy();
    dgone.CleanBeforeDestroy();
  }
  ASSERT_EQ(tonec().owed(), 1u);
  ASSERT_EQ(dsproc().owed(), 1u);
  sim().clear_requests();
  clear_output();
  for (unsigned ms = 0; ms < 3000; ms += 10) advance(10);
  // 10, 20, 40 ... 640 ms, then once a second: about ten tries in 3 s, and no line for them.
  const size_t tries = requests(Device::dtmf, dtmf::DTMF_DIAL).size();
  EXPECT_GE(tries, 7u);
  EXPECT_LE(tries, 11u);
  EXPECT_EQ(requests(Device::dsp, dsp::DSPROC_DISABLE).size(), tries);
  EXPECT_EQ(err(), "");
  EXPECT_TRUE(tonec().is_open()) << "a refusal is not a loss";
  EXPECT_NE(generator(60), kOff);

  // The device takes requests again: the next try carries the switch-offs out, once.
  sim().fail_next(Device::dtmf, 0, 0);
  sim().fail_next(Device::dsp, 0, 0);
  advance(TonecReceiverService::kRetryMs);
  EXPECT_EQ(generator(60), kOff);
  EXPECT_FALSE(sim().state().tones[60].detector);
  EXPECT_EQ(sim().state().dsp[60].enabled & dsp::kVad, 0u);
  EXPECT_EQ(tonec().owed(), 0u);
  EXPECT_EQ(dsproc().owed(), 0u);
  EXPECT_LINE(log(), "tonec: switch-off of timeslot 60 done");
  EXPECT_LINE(log(), "dsproc: switch-off of timeslot 60 done");
  sim().clear_requests();
  advance(5000);
  EXPECT_TRUE(requests(Device::dtmf, dtmf::DTMF_DIAL).empty()) << "carried out once";

  // Refused again at destruction: a new receiver tries the owed work before it comes, even
  // with the timer far off.
  {
    Tones gone(61);
    ASSERT_TRUE(gone.enableIVA(true));
    sim().fail_next(Device::dtmf, EIO, 1);
    gone.CleanBeforeDestroy();
  }
  EXPECT_TRUE(sim().state().tones[61].iva);
  Tones next(61);
  EXPECT_FALSE(sim().state().tones[61].iva);
  EXPECT_EQ(tonec().owed(), 0u);

  // A new receiver's own tone on the timeslot replaces the owed switch-off of the old one.
  {
    Tones gone(62);
    ASSERT_TRUE(gone.enableToneGenerator(425, 0, 2048, 0));
    sim().fail_next(Device::dtmf, EIO, 1);
    gone.CleanBeforeDestroy();
  }
  sim().fail_next(Device::dtmf, EIO, 1);  // the try before the request
  Tones taker(62);
  EXPECT_EQ(tonec().owed(), 1u);
  EXPECT_TRUE(taker.enableToneGenerator(1000, 0, 100, 0));
  EXPECT_EQ(tonec().owed(), 0u);
  advance(5000);
  EXPECT_EQ(generator(62), (Generator{1000, 0, 100, 0})) << "not switched off under the new receiver";
  taker.CleanBeforeDestroy();
  next.CleanBeforeDestroy();
}

// What the returned device refuses to take back stays wanted: it counts as on (events, the
// switch-off at destruction) and is put back quietly with back-off, configuration before switches.
TEST_F(DeviceLoss, PutBacksTheDeviceRefusesAreRetriedAndCountAsOnMeanwhile) {
  Tones t(70);
  Dsp d(70);
  ASSERT_TRUE(t.enableDTMF(true));
  ASSERT_TRUE(d.enableVAD(true));
  constexpr unsigned kFilters = 17;
  for (unsigned f = 1000; f < 1000 + kFilters; ++f) ASSERT_TRUE(d.configureToneFilter(f, 1, 50, -20));
  ASSERT_TRUE(d.configureToneFilter(1005, 0, 50, -20));
  EXPECT_EQ(d.toneFilterRecords(), kFilters - 1) << "every filter on is kept; one is off";
  const Device receivers[] = {Device::dtmf, Device::dsp};
  for (bool destroyed : {false, true}) {
    for (Device device : receivers) lose(device);
    for (Device device : receivers) sim().fail_next(device, EIO, 1000);
    advance(TonecReceiverService::kRetryMs);
    ASSERT_TRUE(tonec().is_open() && dsproc().is_open());
    EXPECT_EQ(t.unconfirmed(), TonecReceiverService::kDetector);
    EXPECT_EQ(d.unconfirmed(), DSProcReceiverService::kToneFilterConfig | DSProcReceiverService::kVadOn);
    EXPECT_TRUE(t.dtmfEnabled());
    EXPECT_EQ(d.vad().state, 1);
    clear_output();
    for (unsigned ms = 0; ms < 3000; ms += 10) advance(10);
    EXPECT_EQ(err(), "") << "the retries are quiet";
    sim().clear_requests();
    if (destroyed) {
      t.CleanBeforeDestroy();
      d.CleanBeforeDestroy();
      EXPECT_EQ(t.unconfirmed() | d.unconfirmed(), 0u);
      EXPECT_EQ(tonec().owed() + dsproc().owed(), 2u) << "the switch-offs are owed";
    }
    for (Device device : receivers) sim().fail_next(device, 0, 0);
    advance(1000);
    EXPECT_EQ(t.unconfirmed() | d.unconfirmed(), 0u);
    EXPECT_EQ(sim().state().tones[70].detector, !destroyed);
    EXPECT_EQ((sim().state().dsp[70].enabled & dsp::kVad) != 0, !destroyed);
    const auto configures = requests(Device::dsp, dsp::DSPROC_CONFIGURE);
    EXPECT_EQ(configures.size(), destroyed ? 0u : kFilters - 1);
    if (!destroyed) {
      EXPECT_LINE(log(), "tonec: settings of timeslot 70 put back");
      EXPECT_LINE(log(), "dsproc: settings of timeslot 70 put back");
    }
  }
}

TEST_F(DeviceLoss, EventsOnASharedTimeslotReachTheReceiverThatEnabledTheFeature) {
  Tones out(40), in(40);
  Dsp dout(40), din(40);
  ASSERT_TRUE(in.enableDTMF(true));
  ASSERT_TRUE(din.enableVAD(true));
  ASSERT_TRUE(din.enableSD(true));
  ASSERT_TRUE(din.configureToneFilter(1000, 1, 50, -20));
  ASSERT_TRUE(dout.configureToneFilter(2000, 1, 50, -20));
  sim().dtmf_event(40, 5, 1);
  sim().dsp_vad(40, 1, 1, 0);
  sim().dsp_sd(40, 1);
  // A detection names its frequency: it goes to the receiver whose filter that is.
  const uint8_t tone[12] = {0, 0, 3, 0xE8, 0, 0, 0, 1}, other[12] = {0, 0, 7, 0xD0, 0, 0, 0, 1};
  sim().dsp_event(40, dsp::kEventToneFilter, other);
  sim().dsp_event(40, dsp::kEventToneFilter, tone);
  pass(2);
  EXPECT_TRUE(out.codes.empty());
  EXPECT_EQ(in.codes, std::vector<uint32_t>{5});
  EXPECT_TRUE(dout.vads.empty());
  EXPECT_EQ(din.vads, std::vector<int>{1});
  EXPECT_EQ(din.sds, std::vector<int>{1});
  EXPECT_EQ(din.tones, std::vector<uint32_t>{1000});
  EXPECT_EQ(dout.tones, std::vector<uint32_t>{2000});
}

// A tone generator request refused leaves the generator unknown: it goes to the newest wish left,
// another receiver's, not to this receiver's older tone.
TEST_F(DeviceLoss, ARefusedGeneratorRequestLeavesAnotherReceiversNewerTone) {
  Tones a(46), b(46);
  ASSERT_TRUE(a.enableToneGenerator(425, 0, 2048, 0));
  ASSERT_TRUE(b.enableToneGenerator(1000, 0, 100, 0));
  sim().fail_next(Device::dtmf, EIO);
  sim().state().tones[46].frequency1 = 999;  // what the refusal left is not known
  EXPECT_FALSE(a.enableToneGenerator(600, 0, 100, 0));
  advance(TonecReceiverService::kSettleMs);
  EXPECT_EQ(generator(46), (Generator{1000, 0, 100, 0}));
  b.CleanBeforeDestroy();
  EXPECT_EQ(generator(46), kOff) << "a's refused tone and its older one stay off";
  a.CleanBeforeDestroy();
}

// Two receivers of one timeslot (a mixer channel's ports) switch the same thing on: a returned
// device gets it once, with the newest enable's id, and the older receiver's switch-off is made,
// judged against what the device holds, not against its own earlier wish.
TEST_F(DeviceLoss, ASwitchTwoReceiversOfTheTimeslotTurnedOnIsPutBackOnceWithTheNewestId) {
  Tones tin(44), tout(44);
  Dsp din(44), dout(44);
  ASSERT_TRUE(tin.enableDTMF(true) && din.enableVAD(true) && tout.enableDTMF(true) && dout.enableVAD(true));
  for (Device device : {Device::dtmf, Device::dsp}) lose(device);
  sim().clear_requests();
  advance(TonecReceiverService::kRetryMs);
  ASSERT_EQ(requests(Device::dtmf, dtmf::DTMF_ENABLE_DETECTOR).size(), 1u);
  EXPECT_EQ(sim().state().tones[44].detector_id, tout.requestId());
  ASSERT_EQ(requests(Device::dsp, dsp::DSPROC_ENABLE).size(), 1u);
  EXPECT_EQ(sim().state().dsp[44].ids.at(dsp::kVad), dout.vad().id);
  ASSERT_TRUE(tin.disableDTMF() && din.disableVAD());
  EXPECT_FALSE(sim().state().tones[44].detector);
  EXPECT_EQ(sim().state().dsp[44].enabled, 0u);
  ASSERT_TRUE(dout.enableVAD(true));
  EXPECT_EQ(sim().state().dsp[44].enabled, dsp::kVad);
  for (Tones* t : {&tin, &tout}) t->CleanBeforeDestroy();
  for (Dsp* d : {&din, &dout}) d->CleanBeforeDestroy();
  EXPECT_EQ(sim().state().dsp[44].enabled, 0u);
}

TEST_F(DeviceLoss, DspRequestsReopenAndPutBackFeaturesWithTheirIds) {
  Dsp held(50), fresh(51), unmuted(52), second(53);
  ASSERT_TRUE(unmuted.disableMute());
  ASSERT_TRUE(second.enableMute(false, true));
  sim().state().vad_version = 1;
  ASSERT_TRUE(held.enableVAD(true));
  ASSERT_TRUE(held.enableSD(true));
  ASSERT_TRUE(held.enableNG(true));
  ASSERT_TRUE(held.enableMute(true, false));
  ASSERT_TRUE(held.configureDelays(20, 30, 0));
  ASSERT_TRUE(held.configureRxGain(-6));
  const uint32_t vad = held.vad().id, mute = held.muteId();
  lose(Device::dsp);
  ASSERT_FALSE(dsproc().is_open());

  EXPECT_TRUE(fresh.enableBSS(true));
  const auto& d = sim().state().dsp[50];
  EXPECT_EQ(d.enabled, dsp::kVad | dsp::kSd | dsp::kNg | dsp::kMuteFirst);
  EXPECT_EQ(d.ids.at(dsp::kVad), vad);
  EXPECT_EQ(d.ids.at(dsp::kMuteFirst), mute);
  EXPECT_EQ(d.configured.count(dsp::kConfigureDelays), 1u);
  EXPECT_EQ(d.configured.count(dsp::kConfigureRxGain), 1u);
  EXPECT_EQ(sim().state().dsp[51].enabled, dsp::kBss);
  EXPECT_EQ(sim().state().dsp[53].enabled, dsp::kMuteSecond);
  for (const auto& r : requests(Device::dsp, dsp::DSPROC_ENABLE)) EXPECT_NE(r.bytes().at(3), 52) << "mute is off";
  sim().dsp_vad(50, 1, 1, 0);
  pass();
  EXPECT_EQ(held.vads, std::vector<int>{1});

  sim().hangup(Device::dsp);
  EXPECT_TRUE(fresh.disableBSS()) << "made again on a new descriptor";
  EXPECT_EQ(sim().state().dsp[51].enabled, 0u);
}

}  // namespace
