// Conference mixer ports on the simulated mixer device, driven through the Slots service: units
// found by the resource query, inputs and outputs with their sums, ioctls on their
// timeslots, and units that disappear.
#include <gtest/gtest.h>

#include "board/dsp.h"
#include "board/dtmf.h"
#include "board/hal.h"
#include "board/mixer.h"
#include "board/sim/SimMixer.h"
#include "slots/Mixer.h"
#include "slots/MixerFactory.h"
#include "slots/MixerSlot.h"
#include "tests/slots/MediaFixture.h"
#include "tests/hwsvc/Harness.h"
#include "tests/support/RecordBytes.h"

namespace {

using namespace mediatest;
using board::sim::SimMixer;
using Sum = std::map<std::pair<int32_t, int32_t>, int32_t>;

void tdm(LGCP::MixerChannel& c, int v) { c.set_tdm(v); }

auto output(int unit, int channel, std::vector<std::pair<int, int>> inputs = {}) {
  return [=](LGCP::CreateParams& p) {
    LGCP::MixerOutParams& o = p.select_mixerOut();
    o.set_unit(unit);
    tdm(o.get_channel(), channel);
    for (auto [ch, gain] : inputs) {
      LGCP::MixerInput in;
      tdm(in.get_channel(), ch);
      in.set_gain(gain);
      o.get_inputs().push_back(in);
    }
  };
}

auto input(int unit, int channel, std::optional<int> summator = {}, bool ecm = false, bool rtpSummator = false) {
  return [=](LGCP::CreateParams& p) {
    LGCP::MixerInParams& i = p.select_mixerIn();
    i.set_unit(unit);
    tdm(i.get_channel(), channel);
    if (summator) tdm(i.include_summator(), *summator);
    if (rtpSummator) i.include_summator().set_rtp(1);
    if (ecm) {
      i.include_ecm().set_ec(true);
      i.get_ecm().set_es(false);
    }
  };
}

class MixerTest : public MediaTest {
 protected:
  void SetUp() override {
    MediaTest::SetUp();
    auto& m = sim().state().mixer;
    m.units.clear();
    m.set_unit(0, 8, 4);
    m.set_unit(2, 6, 6);
  }
  void TearDown() override {
    MediaTest::TearDown();
    sim().state().mixer = SimMixer{};
  }
  static Sum sum(int unit, int channel) { return *sim().state().mixer.sum(unit, channel); }
  Mixer::MixerSlot* port(unsigned n = 3) { return dynamic_cast<Mixer::MixerSlot*>(Slots::instance()->Find(n)); }

  Mixer::MixerFactory factory;
};

TEST_F(MixerTest, UnitsExistOnlyOnceAQueryFoundThemAndReportTheSmallestCounts) {
  EXPECT_EQ(create(output(0, 1)), LGCP::ErrorCause::insufficientResources) << "no query yet";
  EXPECT_EQ(create(input(0, 1)), LGCP::ErrorCause::insufficientResources);

  sim().state().mixer.units[0].sums[3][{0, 3}] = 5;  // left over from before the start
  LGCP::Resources r = query();
  const auto& list = r.get_mixer();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].get_unit(), 0);
  EXPECT_EQ(list[1].get_unit(), 2);
  for (const auto& m : list)
    EXPECT_EQ((std::vector<int64_t>{m.get_tdm_inputs(), m.get_tdm_outputs(), m.get_mixer_inputs(), m.get_dpu_per_mixer(),
                                    m.get_dpu_per_ec(), m.get_dpu_per_lms()}),
              (std::vector<int64_t>{6, 6, 4, 770, 17, 24}));
  // A new unit starts with every channel cleared, up to the smallest channel count.
  EXPECT_TRUE(sum(0, 3).empty());
  EXPECT_EQ(requests(Device::mixer, board::mixer::MIX_RX_CLEAR).size(), 12u);
  EXPECT_TRUE(factory.versionValid);

  // A second query keeps the units it finds again, without clearing them.
  sim().clear_requests();
  EXPECT_EQ(query().get_mixer().size(), 2u);
  EXPECT_TRUE(requests(Device::mixer, board::mixer::MIX_RX_CLEAR).empty());

  EXPECT_EQ(create(output(1, 0)), LGCP::ErrorCause::insufficientResources) << "unit 1 does not exist";
  EXPECT_EQ(create(output(2, 6)), LGCP::ErrorCause::insufficientResources) << "the limit is exclusive";
  EXPECT_EQ(create(input(0, 6)), LGCP::ErrorCause::insufficientResources) << "unit 0 has 8, but the smallest is 6";
  EXPECT_EQ(create(input(0, -1)), LGCP::ErrorCause::insufficientResources);
  EXPECT_EQ(create([](LGCP::CreateParams& p) {
              LGCP::RtpOnMixerParams& r = p.select_rtpOnMixer();
              r.set_unit(0);
            }),
            LGCP::ErrorCause::insufficientResources);

  sim().fail_next(Device::voice, EIO);
  query();
  EXPECT_FALSE(factory.versionValid);
}

TEST_F(MixerTest, OutputsSumTheirInputsAndInputsJoinTheirSummator) {
  query();
  ASSERT_EQ(create(output(0, 1)), hwtest::kSuccess) << log.all();
  EXPECT_EQ(sum(0, 1), (Sum{{{0, 1}, 32767}})) << "an output without inputs carries its own channel";
  EXPECT_EQ(port()->IGetTransmitChannel(), SimMixer::timeslot(0, 1));
  EXPECT_EQ(port()->IGetReceiveChannel(), -1) << "an output has no input";

  ASSERT_EQ(create(output(0, 2, {{3, 100}, {4, -200}}), 4), hwtest::kSuccess);
  EXPECT_EQ(sum(0, 2), (Sum{{{0, 3}, 100}, {{0, 4}, -200}}));
  auto adds = requests(Device::mixer, board::mixer::MIX_RX_ADD);
  ASSERT_GE(adds.size(), 2u);
  EXPECT_EQ(adds.back().bytes(), vxtest::bytes_of(board::mixer::MixRx{.rx = {0, 0, 2}, .tx = {0, 0, 4}, .gain = -200}));

  // An input joins its summing point at full gain, and leaves it when destroyed: the output's
  // own sum of that channel comes back.
  ASSERT_EQ(create(input(0, 3, 2, true), 5), hwtest::kSuccess);
  auto* in = dynamic_cast<Mixer::TdmInput*>(port(5));
  ASSERT_NE(in, nullptr);
  EXPECT_TRUE(in->summed);
  EXPECT_EQ(in->summator, 2);
  EXPECT_EQ(sum(0, 2).at({0, 3}), 32767);
  EXPECT_TRUE(sim().state().tones[static_cast<uint32_t>(in->timeslot)].echo_canceller) << "ecm switches the canceller";
  EXPECT_EQ(in->IGetReceiveChannel(), SimMixer::timeslot(0, 3));

  ASSERT_EQ(simple(&LGCP::Command::set_destroy, 5), hwtest::kSuccess);
  EXPECT_EQ(sum(0, 2), (Sum{{{0, 3}, 100}, {{0, 4}, -200}}));
  auto disable = requests(Device::hal, board::hal::MUX_DISABLE);
  ASSERT_FALSE(disable.empty());
  EXPECT_EQ(disable.back().arg("channel"), SimMixer::timeslot(0, 3));

  // An input whose summing point is not a TDM channel is made without one.
  ASSERT_EQ(create(input(0, 5, {}, false, true), 6), hwtest::kSuccess);
  EXPECT_EQ(dynamic_cast<Mixer::TdmInput*>(port(6))->summator, -1);

  // A destroyed output loses its inputs.
  ASSERT_EQ(simple(&LGCP::Command::set_destroy, 4), hwtest::kSuccess);
  EXPECT_TRUE(sum(0, 2).empty());

  // An input the device refuses leaves no slot, and the output as it was.
  sim().state().mixer.units[0].inputs = 1;
  EXPECT_EQ(create(output(0, 2, {{3, 1}, {4, 1}}), 4), LGCP::ErrorCause::insufficientResources);
  EXPECT_TRUE(sum(0, 2).empty()) << "the inputs added before the refusal are taken back";
}

TEST_F(MixerTest, IoctlsReachTheToneAndDspDevicesOfThePortTimeslot) {
  query();
  ASSERT_EQ(create(output(0, 1)), hwtest::kSuccess);
  ASSERT_EQ(create(input(0, 2), 4), hwtest::kSuccess);
  const uint32_t out = static_cast<uint32_t>(SimMixer::timeslot(0, 1)), in = static_cast<uint32_t>(SimMixer::timeslot(0, 2));

  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_dtmf_enable(true); }, 4), hwtest::kSuccess);
  EXPECT_TRUE(sim().state().tones[in].detector);
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_dtmf_enable(true); }), LGCP::ErrorCause::unsupported)
      << "an output detects no digits";
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_echoSuppressor(true); }, 4), hwtest::kSuccess);
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_echoSuppressor(true); }), LGCP::ErrorCause::unsupported);
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_vad_enable(true); }), hwtest::kSuccess);
  EXPECT_EQ(sim().state().dsp[out].enabled, 1u);

  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) {
              LGCP::ToneGenerator& g = p.select_tone_gen_enable();
              g.set_freq(1000);
              g.set_amp(512);
            }),
            hwtest::kSuccess);
  EXPECT_EQ(sim().state().tones[out].frequency1, 1000);
  EXPECT_EQ(sim().state().tones[out].amplitude1, 512);
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_tone_gen_disable(); }), hwtest::kSuccess);
  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) { p.set_tone_gen_disable(); }, 4), LGCP::ErrorCause::unsupported);

  EXPECT_EQ(ioctl([](LGCP::IoctlParams& p) {
              LGCP::Delays& d = p.select_delays();
              d.set_rx(20);
              d.set_selcal(7);
            }, 4),
            hwtest::kSuccess);
  auto configure = requests(Device::dsp, board::dsp::DSPROC_CONFIGURE);
  ASSERT_FALSE(configure.empty());
  EXPECT_EQ(configure.back().arg("timeslot"), in);

  // Tone events of the input become signals; the output reports the end of its tones only.
  ctl.signals();
  sim().dtmf_event(in, 5, 11);
  sim().dtmf_event(out, 6, 12);
  pass(2);
  auto signals = ctl.signals();
  ASSERT_EQ(signals.size(), 1u) << log.all();
  EXPECT_TRUE(signals[0].is_tonec());
}

TEST_F(MixerTest, ReleasingAPortSilencesItsRunningDialling) {
  query();
  auto dial = [](LGCP::IoctlParams& p) {
    for (auto [f1, f2] : {std::pair{697, 1209}, std::pair{770, 1336}}) {
      LGCP::DualTone t;
      t.set_freq1(f1);
      t.set_freq2(f2);
      p.select_translateDTMF().get_digits().push_back(t);
    }
  };
  ASSERT_EQ(create(output(0, 1)), hwtest::kSuccess);
  ASSERT_EQ(create(output(0, 2), 4), hwtest::kSuccess);
  ASSERT_EQ(ioctl(dial), hwtest::kSuccess);
  ASSERT_EQ(requests(Device::dtmf, board::dtmf::DTMF_DIAL).back().arg("frequency1"), 697) << "the dialling runs";
  const int ts = SimMixer::timeslot(0, 1);
  for (unsigned n : {3u, 4u}) {
    sim().clear_requests();
    ASSERT_EQ(simple(&LGCP::Command::set_destroy, n), hwtest::kSuccess);
    std::vector<std::string> dials;
    for (const auto& r : requests(Device::dtmf, board::dtmf::DTMF_DIAL))
      dials.push_back(std::to_string(*r.arg("timeslot")) + " " + std::to_string(*r.arg("frequency1")) + "/" +
                      std::to_string(*r.arg("amplitude1")));
    if (n == 3) EXPECT_EQ(dials, (std::vector<std::string>{std::to_string(ts) + " 1000/0", std::to_string(ts) + " 0/0"}));
    else EXPECT_TRUE(dials.empty()) << "a port with no tone running leaves the generator alone";
  }
  EXPECT_EQ(sim().state().tones[static_cast<uint32_t>(ts)].frequency1, 0);
}

TEST_F(MixerTest, AUnitThatDisappearsAbortsItsPortsAndGoesWithTheLast) {
  query();
  ASSERT_EQ(create(output(2, 1)), hwtest::kSuccess);
  ASSERT_EQ(create(input(2, 2), 4), hwtest::kSuccess);
  ctl.signals();
  sim().state().mixer.units.erase(2);
  EXPECT_EQ(query().get_mixer().size(), 1u);
  int aborts = 0;
  for (const LGCP::Signal& s : querySignals) aborts += s.is_abort() && s.get_abort() == 0;
  EXPECT_EQ(aborts, 2);
  EXPECT_EQ(factory.findMixer(2), nullptr);
  EXPECT_EQ(create(output(2, 3), 5), LGCP::ErrorCause::insufficientResources);
  // The ports stay until destroyed; the mixer object goes with the last of them.
  EXPECT_EQ(simple(&LGCP::Command::set_destroy, 3), hwtest::kSuccess);
  EXPECT_EQ(simple(&LGCP::Command::set_destroy, 4), hwtest::kSuccess);

  // A unit that comes back is a new unit, cleared again.
  sim().state().mixer.set_unit(2, 6, 6);
  EXPECT_EQ(query().get_mixer().size(), 2u);
  EXPECT_EQ(create(output(2, 3), 5), hwtest::kSuccess);
}

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(MixerTest, ARefusedRemovalIsTriedAgainBackingOffAndLoggedOncePerGap) {
  hwtest::TestClock clock;
  query();
  ASSERT_EQ(create(output(0, 1, {{2, 10}})), hwtest::kSuccess);
  ASSERT_EQ(create(input(0, 3, 1), 4), hwtest::kSuccess);
  sim().fail_next(Device::mixer, EIO, 1000);
  ASSERT_EQ(simple(&LGCP::Command::set_destroy, 4), hwtest::kSuccess);
  EXPECT_EQ(sum(0, 1), (Sum{{{0, 2}, 10}, {{0, 3}, 32767}}));
  Mixer::Mixer* unit = factory.findMixer(0);
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(unit->owed(), 1u);

  // Each try comes after twice the wait of the last, up to the longest wait.
  std::vector<unsigned> waits;
  sim().clear_requests();
  unsigned waited = 0;
  for (unsigned ms = 0; ms < 10000; ++ms) {
    clock.advance(1);
    ++waited;
    if (requests(Device::mixer, board::mixer::MIX_RX_REMOVE).size() > waits.size()) {
      waits.push_back(waited);
      waited = 0;
    }
  }
  EXPECT_EQ(waits, (std::vector<unsigned>{50, 100, 200, 400, 800, 1600, 2000, 2000, 2000}));
  EXPECT_EQ(occurrences(log.all(), "MIX_RX_REMOVE"), 1u) << log.all();
  EXPECT_EQ(occurrences(log.all(), "sum of output 1 not confirmed"), 1u);

  // The channel is not handed to a new port while the unit still sums it.
  EXPECT_EQ(create(input(0, 3), 5), LGCP::ErrorCause::insufficientResources);
  EXPECT_TRUE(logged("channel 3 still summed into output 1"));

  sim().fail_next(Device::mixer, 0, 0);
  clock.advance(2000);
  EXPECT_EQ(sum(0, 1), (Sum{{{0, 2}, 10}}));
  EXPECT_EQ(unit->owed(), 0u);
  EXPECT_EQ(occurrences(log.all(), "sum of output 1 confirmed"), 1u);
  sim().clear_requests();
  clock.advance(5000);
  EXPECT_TRUE(sim().requests(Device::mixer).empty()) << "nothing is owed: the timer stops";
  EXPECT_EQ(create(input(0, 3), 5), hwtest::kSuccess);
}

TEST_F(MixerTest, ADeviceThatDoesNotOpenOwesItsRemovalAndGetsEverySumBack) {
  hwtest::TestClock clock;
  query();
  ASSERT_EQ(create(output(0, 1, {{2, 10}})), hwtest::kSuccess);
  ASSERT_EQ(create(input(0, 3, 1), 4), hwtest::kSuccess);
  ASSERT_EQ(create(output(0, 4, {{5, 20}}), 5), hwtest::kSuccess);
  // "No such file" from the open is no answer of the unit that the input is gone.
  sim().fail_open(Device::mixer, ENOENT);
  ASSERT_EQ(simple(&LGCP::Command::set_destroy, 4), hwtest::kSuccess);
  Mixer::Mixer* unit = factory.findMixer(0);
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(unit->owed(), 2u) << "what every output holds is not known any more";
  clock.advance(Mixer::Mixer::kRetryMs);
  EXPECT_EQ(occurrences(log.all(), "unit not answering"), 1u) << log.all();

  // The unit lost its sums while away; once it answers they are all sent again.
  sim().state().mixer.units[0].sums.clear();
  sim().fail_open(Device::mixer, 0);
  clock.advance(Mixer::Mixer::kMaxRetryMs);
  EXPECT_EQ(sum(0, 1), (Sum{{{0, 2}, 10}}));
  EXPECT_EQ(sum(0, 4), (Sum{{{0, 5}, 20}}));
  EXPECT_EQ(unit->owed(), 0u);
  EXPECT_EQ(occurrences(log.all(), "unit answers again"), 1u);
}

TEST_F(MixerTest, AChannelANewUnitCouldNotClearIsClearedBeforeAPortSumsIt) {
  hwtest::TestClock clock;
  sim().state().mixer.units[0].sums[4][{0, 3}] = 5;  // left over from before the start
  sim().fail_next(Device::mixer, EIO, 6, board::mixer::MIX_RX_CLEAR);
  query();
  EXPECT_TRUE(logged("reset fail: 6 errors."));
  EXPECT_FALSE(sum(0, 4).empty());
  Mixer::Mixer* unit = factory.findMixer(0);
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(unit->held(4), std::nullopt);
  // Channel 3 may still be heard on output 4: the clear goes first.
  ASSERT_EQ(create(input(0, 3)), hwtest::kSuccess);
  EXPECT_TRUE(sum(0, 4).empty());
  clock.advance(Mixer::Mixer::kRetryMs);
  EXPECT_EQ(unit->owed(), 0u);
}

TEST_F(MixerTest, CountsADriverReportsAreBounded) {
  auto& units = sim().state().mixer.units;
  units.clear();
  units[1] = board::sim::MixerUnit{1 << 30, -5, {}};
  LGCP::Resources r = query();
  ASSERT_EQ(r.get_mixer().size(), 1u);
  EXPECT_EQ(r.get_mixer()[0].get_tdm_inputs(), Mixer::MixerFactory::kMaxChannels);
  EXPECT_EQ(r.get_mixer()[0].get_mixer_inputs(), 0);
  EXPECT_EQ(requests(Device::mixer, board::mixer::MIX_RX_CLEAR).size(), static_cast<size_t>(Mixer::MixerFactory::kMaxChannels))
      << "a reset issues one clear per channel it believes in";
}

}  // namespace
