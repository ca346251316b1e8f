// The slot table service: create and destroy (at once, put off, replaced), the answers of the
// slot commands, the loss of the controller, the resource report, the trunk status, and the
// slot's event converters.
#include "SlotsFixture.h"
#include "board/rtp.h"

namespace {

using namespace slotstest;
using Strings = std::vector<std::string>;
using EC = LGCP::ErrorCause;
using C = LGCP::Command;

std::string err(int cause) { return "error " + std::to_string(cause); }

TEST_F(SlotsTest, CreateAsksEveryFactoryAndReplacesASlotThatGoesAtOnce) {
  send(create_probe(1, 5, -2, 0));  // no factory takes it
  EXPECT_EQ(texts(), Strings{err(EC::insufficientResources)});
  EXPECT_EQ(slots.Find(5), nullptr);

  send(create_probe(2, 5));
  Probe* first = probe(5);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->number, 5u);
  EXPECT_EQ(first->factory, &probes);
  bool deleted = false;
  first->deleted = &deleted;
  send(create_probe(3, 5));
  EXPECT_TRUE(deleted);
  EXPECT_EQ(texts(), (Strings{"success", "success"}));
  EXPECT_EQ(probes.slots, std::vector<Slot*>{slots.Find(5)});
  EXPECT_EQ(slots.Live(), std::vector<Slot*>{slots.Find(5)});

  // A create that no factory takes after the old slot went leaves the number free.
  send(create_probe(4, 5, -2, 0));
  EXPECT_EQ(texts(), Strings{err(EC::insufficientResources)});
  EXPECT_EQ(slots.Find(5), nullptr);
  EXPECT_TRUE(probes.slots.empty());
}

TEST_F(SlotsTest, ADestroyThatIsPutOffIsAnsweredWhenTheSlotReleasesItself) {
  probes.prepare = [](Probe& p) { p.immediate = false; };
  send(create_probe(1, 5));
  send(simple(20, 5, C::e_destroy));
  send(simple(21, 5, C::e_destroy));
  send(create_probe(22, 5));
  send(simple(23, 5, C::e_deactivate));  // other commands still reach the slot
  auto got = answers();
  ASSERT_EQ(got.size(), 4u);
  EXPECT_TRUE(got[0].success());
  EXPECT_EQ(got[1].error(), EC::destroyInProgress);
  EXPECT_EQ(got[2].error(), EC::destroyInProgress);
  EXPECT_EQ(got[3].error(), EC::unsupported);
  EXPECT_EQ(got[3].seq, 23);

  probe(5)->on_release();
  got = answers();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].success());
  EXPECT_EQ(got[0].seq, 20);
  EXPECT_EQ(got[0].slot, 5u);
  EXPECT_EQ(slots.Find(5), nullptr);
  EXPECT_TRUE(probes.slots.empty());

  // A create over a slot that puts its destruction off finds the number busy; its release
  // then answers nothing, as no destroy command waits for it.
  send(create_probe(30, 5));
  send(create_probe(31, 5));
  send(create_probe(32, 5));
  EXPECT_EQ(texts(), (Strings{"success", err(EC::slotIdBusy), err(EC::destroyInProgress)}));
  probe(5)->on_release();
  EXPECT_TRUE(texts().empty());
  EXPECT_EQ(slots.Find(5), nullptr);
  // on_release of a slot that is not being destroyed does nothing.
  send(create_probe(33, 6));
  probe(6)->on_release();
  EXPECT_NE(slots.Find(6), nullptr);
}

// Connect still reaches a slot whose destroy is pending; what was switched to it then goes when
// the slot is deleted, or the sink would stay fed by the channel of a slot that no longer exists.
TEST_F(SlotsTest, ConnectionsMadeWhileADestroyIsPendingGoWithTheSlot) {
  probes.prepare = [](Probe& p) { p.immediate = p.tx != 5; };
  send(create_probe(1, 5, 5, 8202));
  send(create_probe(2, 6, 6, 8203));
  send(create_probe(3, 7, 7, 8204));
  send(simple(4, 5, C::e_destroy));
  send(connect_cmd(5, 5, 6));  // the dying slot feeds 6
  send(connect_cmd(6, 7, 5));  // and is fed by 7
  EXPECT_EQ(texts(), (Strings{"success", "success", "success", "transmitter active 5", "receiver active 8203",
                              "success", "transmitter active 7", "receiver active 8202", "success"}));
  EXPECT_EQ(sw(8203), "from 5");
  EXPECT_EQ(sw(8202), "from 7");

  probe(5)->on_release();
  EXPECT_EQ(texts(), (Strings{"success"}));
  EXPECT_EQ(sw(8203), "idle");
  EXPECT_EQ(sw(8202), "idle");
  EXPECT_EQ(probe(6)->source, nullptr);
  EXPECT_TRUE(probe(7)->sinks.empty());
}

TEST_F(SlotsTest, SlotCommandsAnswerTheirCauses) {
  send(create_probe(1, 5));
  probe(5)->supported = false;
  send(simple(2, 9, C::e_destroy));
  send(simple(3, 9, C::e_disconnect));
  send(connect_cmd(4, 5, 9));
  send(connect_cmd(5, 9, 5));
  send(simple(6, 5, C::e_disconnect));  // no source: success
  send(slot_command(7, 5, [](LGCP::Command& c) { c.select_activate().select_empty(); }));
  probe(5)->supported = true;
  send(slot_command(8, 5, [](LGCP::Command& c) { c.select_activate().select_empty(); }));
  send(slot_command(9, 5, [](LGCP::Command& c) { c.select_userData(); }));
  EXPECT_EQ(texts(), (Strings{"success", err(EC::slotNotExists), err(EC::slotNotExists), err(EC::slotNotExists),
                              err(EC::slotNotExists), "success", err(EC::unsupported), "success",
                              err(EC::unsupported)}));
  EXPECT_EQ(slots.Find(unsigned(-1)), nullptr);
}

TEST_F(SlotsTest, LosingTheControllerDestroysEverySlotAndDeletesThePutOffOnesASecondLater) {
  for (unsigned n : {1u, 2u, 3u, 4u}) send(create_probe(int(n), n, 10 + int(n), 8200 + int(n)));
  probe(2)->immediate = false;
  probe(4)->immediate = false;
  send(connect_cmd(5, 1, 2));
  send(simple(6, 4, C::e_destroy));  // put off: its answer goes with the connection
  bool gone[5] = {};
  for (unsigned n : {1u, 2u, 3u, 4u}) probe(n)->deleted = &gone[n];
  Probe* late = probe(2);
  texts();

  slots.OnDisconnect();
  EXPECT_TRUE(gone[1] && gone[3]);
  EXPECT_FALSE(gone[2] || gone[4]);
  EXPECT_TRUE(slots.Live().empty());
  EXPECT_EQ(slots.Pending(), (std::vector<Slot*>{late, slots.Find(4)}));
  EXPECT_EQ(sw(8202), "idle");
  EXPECT_TRUE(late->destroying);
  send(create_probe(7, 2));
  EXPECT_EQ(texts(), Strings{err(EC::destroyInProgress)});

  // One that finishes early goes at once, without an answer for the old destroy.
  slots.Find(4)->on_release();
  EXPECT_TRUE(gone[4]);
  EXPECT_TRUE(texts().empty());

  clock.advance(Slots::kPendingDestroyMs - 1);
  vxtest::pump(1);
  EXPECT_FALSE(gone[2]);
  clock.advance(1);
  vxtest::pump(1);
  EXPECT_TRUE(gone[2]);
  EXPECT_EQ(slots.Find(2), nullptr);
  EXPECT_TRUE(slots.Pending().empty());
  // Deleted although it never released itself: its factory forgot it first.
  EXPECT_TRUE(probes.slots.empty());
}

TEST_F(SlotsTest, ALostControllersPutOffSlotsHoldTheNextControllerAndSignalOnlyToTheLog) {
  send(create_probe(1, 1));
  send(create_probe(2, 2));
  probe(1)->immediate = probe(2)->immediate = false;
  Slot* first = probe(1);
  slots.OnDisconnect();
  EXPECT_TRUE(server.held());
  texts();
  streams.clear();

  // Accounting of a call that now belongs to no one: on record, not on the wire.
  TERM::ModemProceeding m;
  TERM::MdmRequestUserAuth& auth = m.select_auth();
  auth.set_username("a\nb");
  auth.set_password("p");
  first->OnModem(m);
  EXPECT_TRUE(texts().empty());
  EXPECT_EQ(streams.log.str(),
            "slot 01:probe: controller lost, signal not sent: modemProceeding : auth : "
            "{ username {\"a\", {0, 10}, \"b\"}, password \"p\" }\n");
  // A long one is cut.
  first->OnUserData(std::vector<char>(4000, 'x'));
  EXPECT_LT(streams.log.str().size(), 1300u);

  // The hold lasts while one of them is left; the second goes with the timer.
  first->on_release();
  EXPECT_TRUE(server.held());
  clock.advance(Slots::kPendingDestroyMs);
  vxtest::pump(1);
  EXPECT_EQ(slots.Find(2), nullptr);
  EXPECT_FALSE(server.held());

  // Slots of the next controller signal as usual, and a loss with nothing left over holds nothing.
  send(create_probe(3, 3));
  texts();
  probe(3)->OnActivated();
  EXPECT_EQ(texts(), Strings{"signal " + std::to_string(LGCP::Signal::e_activated)});
  slots.OnDisconnect();
  EXPECT_FALSE(server.held());
}

TEST_F(SlotsTest, QueryReportsEveryFactorysResourcesAndTrunkStatusReachesTheFactories) {
  send(srvtest::command(C::e_query, 3));
  auto got = answers();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[0].success());
  const LGCP::Signal& s = got[1].message.get_pdu().get_signal();
  ASSERT_TRUE(s.is_query());
  EXPECT_FALSE(got[1].slot);
  const LGCP::Resources& r = s.get_query();
  EXPECT_EQ(r.get_modem().getValue(), 7);
  EXPECT_TRUE(r.get_mux().getValue());
  // The fields no factory fills go out as zero, and no driver version is claimed.
  for (int v : {r.get_boardMajor().getValue(), r.get_boardMinor().getValue(), r.get_rtp_g729().getValue(),
                r.get_rtp_g723().getValue(), r.get_rtp_g711().getValue(), r.get_rtp_g711mcc().getValue(),
                r.get_mcc_data().getValue(), r.get_mcc_bri().getValue(), r.get_mcc_trans().getValue(),
                r.get_t38_instances().getValue(), r.get_digital_modems().getValue(), r.get_lin16().getValue(),
                r.get_universal().getValue()})
    EXPECT_EQ(v, 0);
  EXPECT_FALSE(r.has_drvVersion());

  LGCP::Signal trunk;
  trunk.select_trunkStatus().set_trunk(2);
  slots.OnSignal(trunk);
  LGCP::Signal other;
  other.set_activated();
  slots.OnSignal(other);
  EXPECT_EQ(probes.selfSignals, std::vector<int>{LGCP::Signal::e_trunkStatus});
}

// The converters' signals, each as the value notation of the signal on one line.
class ConverterTest : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    send(create_probe(1, 3));
    texts();
  }
  Strings signals() {
    Strings out;
    for (const auto& a : answers()) {
      EXPECT_EQ(a.slot, 3u);
      std::ostringstream os;
      os << a.message.get_pdu().get_signal();
      // One line: every run of blanks and line ends becomes one blank.
      std::string line;
      for (char c : os.str()) {
        const bool blank = c == ' ' || c == '\n';
        if (!blank || line.empty() || line.back() != ' ') line += blank ? ' ' : c;
      }
      out.push_back(line);
    }
    return out;
  }
  Probe& p() { return *probe(3); }
};

TEST_F(ConverterTest, ToneCodesBecomeDigitsFaxTonesOrIvaResults) {
  for (uint32_t code : {17u, 18u, 5u, 0x0500u, 0x1500u, 0x1600u, 0xFFFFFF00u}) p().processTonecEvent({code, 9});
  p().processToneGenEvent();
  EXPECT_EQ(signals(), (Strings{"tonec : { timestamp 9, event ced : NULL }", "tonec : { timestamp 9, event cng : NULL }",
                                "tonec : { timestamp 9, event dtmf : 5 }",
                                "tonec : { timestamp 9, event iva : code : 5 }",
                                "tonec : { timestamp 9, event iva : ringoff : NULL }",
                                "tonec : { timestamp 0, event dtmfDone : NULL }"}));
}

TEST_F(ConverterTest, DspRecordsBecomeVadSdBssSelcalAndToneSignals) {
  p().processVADEvent({1, -1});
  p().processVADEvent({-1, -1});
  p().processSDEvent({0});
  p().processSDEvent({-1});
  Hardware::dsproc_bss_event bss{};
  bss.score = 1.5f;
  p().processBSSEvent(&bss);
  Hardware::dsproc_flags_event flags{};
  flags.flags = 1u << 31 | 1u << 29;
  flags.mask = 1u << 31 | 1u << 30 | 1u << 29;
  p().processFlagsEvent(&flags);
  Hardware::dsproc_tone_event tone{};
  tone.frequency = 2100;
  tone.presence = 1;
  p().processToneFltEvent(&tone);
  board::rtp::rtp_event rtp{};
  rtp.type = 2;
  p().processRtpEvent(rtp);
  rtp.type = 1;
  rtp.value = 4;
  rtp.timeout = 300;
  p().processRtpEvent(rtp);
  EXPECT_EQ(signals(), (Strings{"vad : { vad-rx TRUE }", "sd : { sd-rx FALSE }", "bss : { score \"1.500000\" }",
                                "vad : { vad-rx TRUE, vad-tx FALSE }", "selcal : { in-progress TRUE }",
                                "tonec : { timestamp 0, event tone-presence : { freq 2100, presence TRUE } }",
                                "rtp : pd : { value 4, timeout 300 }"}));
}

TEST_F(ConverterTest, SendersCarryTheirValues) {
  p().OnNumber("123");
  p().OnAbort(-4);
  p().OnDeactivated();
  p().OnUserData({'a', 'b'});
  EXPECT_EQ(signals(), (Strings{"number : \"123\"", "abort : -4", "deactivated : networkError",
                                "userData : '61 62'H"}));
}

}  // namespace
