"""What a refusing, absent or reset device leaves behind is put right before the next call or the
next controller meets it: tone and DSP switch-offs of a destroyed slot, events of a mixer port
that lost its channel, receivers' settings after a refused put-back or a reset (the newest of
each where two ports share a timeslot, what a port that stays shares with one that went, a
switch only once its configuration was taken), an RTP connect whose receive start was refused,
CAS trunks of a controller that left, that did not come back after a hang-up or whose channel
was closed before it came back, and the trunk clock mask."""

import signal
import time

import vxharness as vx
from test_rtp import CodecSessionTest, rtp

MIXER_TIMESLOT = 3072  # channel 0 of mixer unit 0
VAD_RX = 1 << 29  # the receive-direction VAD bit of a DSP flags event
VAD = 1  # the VAD bit of the DSP features
SD = 2  # the SD bit of the DSP features


def fields(line):
    """The name=value fields of a board answer as a dict."""
    return dict(f.split("=", 1) for f in line.split() if "=" in f)


def tone_filters(board, ts):
    """{frequency: enable byte} of the last tone filter record of each frequency given for ts."""
    records = [fields(line) for line in board.ask("requests dsp 4096 DSPROC_CONFIGURE")]
    return {int(f["word2"]) >> 16: (int(f["word2"]) >> 8) & 0xFF for f in records
            if f["timeslot"] == str(ts) and f["what"] == "256"}


class DeviceStateTest(CodecSessionTest):
    def command(self, text):
        """A command without a slot number (trunk control, query)."""
        return self.send_to(None, text)

    def rtp(self, slot):
        """An RTP slot; its channel."""
        before = set(self.board.sessions())
        self.assertEqual(self.send_to(slot, rtp("ptG711-Ulaw")), "success")
        (channel,) = set(self.board.sessions()) - before
        return channel

    def tone(self, ts):
        return fields(self.board.ask("tone %d" % ts))

    def dsp(self, ts):
        return int(fields(self.board.ask("dsp %d" % ts))["enabled"])

    def mixer_in(self, slot, channel):
        """A mixerIn port on a channel of unit 0 (found by a query first); its timeslot."""
        self.command("query : NULL")
        self.assertEqual(self.send_to(slot, "create : mixerIn : { unit 0, channel tdm : %d }" % channel), "success")
        return MIXER_TIMESLOT + channel

    def tone_filters_on(self, ts):
        return self.board.ask("dsp-filters %d" % ts)

    def generator_off(self, ts):
        t = self.tone(ts)
        return all(t[k] == "0" for k in ("f1", "f2", "a1", "a2"))

    def cas(self, trunk, ts, cmd):
        return self.command("ioctl : cas : { channel { path %d, timeslot %d }, cmd %s }" % (trunk, ts, cmd))

    def cas_state(self, trunk, ts):
        return fields(self.board.ask("cas-state %d %d" % (trunk, ts)))

    def tclk(self):
        return int(self.board.ask("tclk"))


class SwitchOffs(DeviceStateTest):
    def test_switch_offs_a_present_device_refused_are_made_before_the_next_call(self):
        # Ring-back, detection and VAD on; each device refuses one request of the destroy.
        ch = self.rtp(9)
        for request in ("activateWaitTone : NULL", "dtmf-enable : TRUE", "vad-enable : TRUE"):
            self.assertEqual(self.send_to(9, "ioctl : " + request), "success")
        seen = len(self.daemon.output())
        with vx.failing(self.board, "dtmf", "EIO", "any", first=ch), \
                vx.failing(self.board, "dsp", "EIO", "any", first=ch):
            self.assertEqual(self.send_to(9, "destroy : NULL"), "success")
        self.assertEqual(self.rtp(10), ch)
        self.assertTrue(vx.wait_for(lambda: self.generator_off(ch), 2.0), self.tone(ch))
        self.assertTrue(vx.wait_for(lambda: self.dsp(ch) & VAD == 0, 2.0), self.board.ask("dsp %d" % ch))
        self.assertEqual(self.tone(ch)["detector"], "0")
        self.assertTrue(vx.wait_for(
            lambda: self.daemon.output()[seen:].count("switch-off of timeslot %d done" % ch) == 2, 2.0))
        self.assertEqual(self.send_to(10, "destroy : NULL"), "success")

        # The detector's switch-off refused: the next call's slot has no detector of the old one.
        ch = self.rtp(11)
        self.assertEqual(self.send_to(11, "ioctl : dtmf-enable : TRUE"), "success")
        with vx.failing(self.board, "dtmf", "EIO", "DTMF_DISABLE_DETECTOR", first=ch):
            self.assertEqual(self.send_to(11, "destroy : NULL"), "success")
        self.assertEqual(self.rtp(12), ch)
        self.assertTrue(vx.wait_for(lambda: self.tone(ch)["detector"] == "0", 2.0), self.tone(ch))
        # Its own detection works, and the old switch-off is not made under it.
        self.assertEqual(self.send_to(12, "ioctl : dtmf-enable : TRUE"), "success")
        self.assertEqual(self.board.ask("dtmf %d 4 80" % ch), "1")
        self.assertEqual(self.signal("tonec", timeout=2.0), (12, "{ timestamp 80, event dtmf : 4 }"))
        self.assertEqual(self.tone(ch)["detector"], "1")
        self.assertGreater(int(self.board.ask("open dtmf")), 0)

    def test_a_mixer_port_that_lost_its_channel_takes_no_events(self):
        ts = MIXER_TIMESLOT + 5
        self.board.ask("mixer-unit 0 16 8")
        self.command("query : NULL")
        self.assertEqual(self.send_to(10, "create : mixerIn : { unit 0, channel tdm : 5 }"), "success")
        self.assertEqual(self.send_to(10, "ioctl : vad-enable : TRUE"), "success")
        # The unit is not found by a query: the port is aborted, the controller keeps it.
        self.board.ask("mixer-remove 0")
        self.command("query : NULL")
        self.assertIsNotNone(self.slot_signal(10, "abort", timeout=2.0))
        self.board.ask("mixer-unit 0 16 8")
        self.command("query : NULL")
        self.assertEqual(self.send_to(11, "create : mixerIn : { unit 0, channel tdm : 5 }"), "success")
        self.assertEqual(self.send_to(11, "ioctl : vad-enable : TRUE"), "success")
        self.assertEqual(self.board.ask("dsp-flags %d %d %d" % (ts, VAD_RX, VAD_RX)), "1")
        found = vx.wait_signal(self.c, self.pending, self.parse, lambda p: p[1] == "vad", 2.0)
        self.assertIsNotNone(found)
        self.assertEqual(found[0], 11)
        for slot in (11, 10):
            self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")


class Receivers(DeviceStateTest):
    def test_a_refused_put_back_keeps_the_call_detected_and_is_switched_off_at_destroy(self):
        ch = self.rtp(9)
        self.ioctls(9, "dtmf-enable : TRUE", "vad-enable : TRUE")
        seen = len(self.daemon.output())
        # Both devices come back with the board's state kept, and refuse the put-back once.
        for device, tag in (("dtmf", "tonec"), ("dsp", "dsproc")):
            self.board.ask("fail %s EIO 1 any %d" % (device, ch))
            self.board.ask("hangup " + device)
            opened = tag + ": device opened again"
            self.assertTrue(vx.wait_for(lambda: self.daemon.output()[seen:].count(opened) == 1))
        # The call's digits and voice activity still reach the controller.
        self.assertEqual(self.board.ask("dtmf %d 4 80" % ch), "1")
        self.assertEqual(self.signal("tonec", timeout=2.0), (9, "{ timestamp 80, event dtmf : 4 }"))
        self.assertEqual(self.board.ask("dsp-vad %d 1 1 0" % ch), "1")
        found = vx.wait_signal(self.c, self.pending, self.parse, lambda p: p[1] == "vad", 2.0)
        self.assertEqual(found and found[0], 9)
        # The destroy switches both off: the next call's slot has neither.
        self.assertEqual(self.send_to(9, "destroy : NULL"), "success")
        self.assertEqual(self.rtp(10), ch)
        self.assertEqual(self.tone(ch)["detector"], "0")
        self.assertEqual(self.dsp(ch) & VAD, 0)
        self.assertEqual(self.send_to(10, "destroy : NULL"), "success")

    def test_a_reset_gives_a_receiver_back_its_configuration_before_its_switches(self):
        ts = MIXER_TIMESLOT + 5
        self.command("query : NULL")
        self.assertEqual(self.send_to(12, "create : mixerIn : { unit 0, channel tdm : 5 }"), "success")
        self.ioctls(12, "dtmf-params : { threshold { twist 8, ratio 6, noise 30 }, level { silence 40 } }",
                    "iva-params : { det_lvl_dB -30 }", "iva-enable : TRUE", "dtmf-enable : TRUE",
                    "vad-params : v2 : { voice-th-msec 40, silence-th-msec 200, e-th-dB 30 }", "vad-enable : TRUE",
                    "tone-filter : { freq 2100, enable TRUE, duration-th-msec 300, det-level-dB -20 }")
        tone, dsp = self.tone(ts), self.board.ask("dsp %d" % ts)
        self.assertEqual((tone["iva_level"], tone["twist"]), ("-30", "8"))
        self.assertIn("config256=", dsp)
        self.board.ask("reset")
        self.assertTrue(vx.wait_for(lambda: self.board.ask("dsp %d" % ts) == dsp and self.tone(ts) == tone, 3.0),
                        (self.tone(ts), self.board.ask("dsp %d" % ts)))
        # Configured before switched on.
        for device, config, switch in (("dtmf", "IVA_CONFIGURE_DETECTOR", "IVA_DETECTOR_ENABLE"),
                                       ("dtmf", "DTMF_CONFIGURE_DETECTOR", "DTMF_ENABLE_DETECTOR"),
                                       ("dsp", "DSPROC_CONFIGURE", "DSPROC_ENABLE")):
            names = [line.split()[0] for line in self.board.ask("requests %s 1000" % device)]
            self.assertLess(names.index(config), names.index(switch), names)
        self.assertEqual(self.send_to(12, "destroy : NULL"), "success")

    def test_two_ports_of_a_channel_get_back_the_newest_of_each_setting_and_every_tone_filter(self):
        ts = MIXER_TIMESLOT + 3
        self.command("query : NULL")
        dtmf = "dtmf-params : { threshold { twist %d, ratio %d, noise %d }, level { silence %d } }"
        tone_filter = "tone-filter : { freq %d, enable %s, duration-th-msec 300, det-level-dB -20 }"
        filters_on = {f: 1 for f in range(1000, 1017)}
        self.assertEqual(self.send_to(20, "create : mixerIn : { unit 0, channel tdm : 3 }"), "success")
        self.assertEqual(self.send_to(21, "create : mixerOut : { unit 0, channel tdm : 3, inputs { } }"), "success")
        # The output sets, then the input sets newer values, switches off what the output switched
        # on, and switches on more tone filters than a receiver used to keep.
        self.ioctls(21, "delays : { rx 10, tx 10 }", dtmf % (5, 5, 5, 5), tone_filter % (2100, "TRUE"),
                    "vad-enable : TRUE", "iva-enable : TRUE")
        self.ioctls(20, "delays : { rx 20, tx 20 }", dtmf % (9, 9, 9, 9), tone_filter % (2100, "FALSE"),
                    "vad-disable : NULL", "iva-enable : FALSE", *(tone_filter % (f, "TRUE") for f in filters_on))
        seen = len(self.daemon.output())
        self.board.ask("clear-requests")
        self.board.ask("reset")
        for opened in ("tonec: device opened again", "dsproc: device opened again"):
            self.assertTrue(vx.wait_for(lambda: opened in self.daemon.output()[seen:], 3.0))
        time.sleep(0.3)
        # The newest of each comes back, nothing older.
        tone, dsp = self.tone(ts), fields(self.board.ask("dsp %d" % ts))
        self.assertEqual((tone["twist"], tone["iva"], int(dsp["enabled"]) & VAD, int(dsp["config32"][:8], 16),
                          {f: e for f, e in tone_filters(self.board, ts).items() if e}), ("9", "0", 0, 20, filters_on))
        self.assertNotIn("settings of timeslot %d put off" % ts, self.daemon.output()[seen:])

    def test_the_port_that_stays_gets_back_what_it_shares_with_one_that_went_after_a_reset_too(self):
        dtmf = "dtmf-params : { threshold { twist %d, ratio 6, noise 30 }, level { silence 40 } }"
        tone_filter = "tone-filter : { freq 2100, enable TRUE, duration-th-msec %d, det-level-dB -20 }"
        ts = self.mixer_in(60, 7)
        self.mixer_in(61, 7)
        for slot, twist, duration in ((60, 4, 300), (61, 8, 500)):
            self.ioctls(slot, "echoSuppressor : TRUE", "sd-enable : TRUE", dtmf % twist, tone_filter % duration,
                        "dtmf-enable : TRUE")
        self.assertEqual(self.send_to(61, "destroy : NULL"), "success")
        # The older port's settings hold, each as it set it, and it hears its digits, after a reset too.
        for reset in (False, True):
            if reset:
                self.board.ask("reset")
            held = lambda: (self.tone(ts)["lms"], self.tone(ts)["twist"], self.tone(ts)["detector"],
                            self.dsp(ts) & SD, self.tone_filters_on(ts))
            self.assertTrue(vx.wait_for(lambda: held() == ("1", "4", "1", SD, "2100/300/-20"), 3.0), held())
            self.assertEqual(self.board.ask("dtmf %d 3 %d" % (ts, 70 + reset)), "1")
            self.assertEqual(self.signal("tonec", timeout=2.0), (60, "{ timestamp %d, event dtmf : 3 }" % (70 + reset)))
        self.ioctls(60, "sd-disable : NULL")
        self.assertEqual(self.send_to(60, "destroy : NULL"), "success")

    def test_a_switch_off_owed_for_a_port_that_went_leaves_the_next_ports_tone_filter(self):
        tone_filter = "tone-filter : { freq %d, enable TRUE, duration-th-msec 300, det-level-dB -20 }"
        ts = self.mixer_in(70, 8)
        self.ioctls(70, tone_filter % 2100)
        # The device refuses the old port's switch-off, at its destroy, when the next port comes
        # and before that port's filter, all in one pass; the filter is answered success.
        self.board.ask("fail dsp EIO 3 any %d" % ts)
        commands = ((70, "destroy : NULL"), (71, "create : mixerIn : { unit 0, channel tdm : 8 }"),
                    (71, "ioctl : " + tone_filter % 1000))
        frames = b"".join(vx.tpkt(self.encoded(slot, command)) for slot, command in commands)
        self.daemon.signal(signal.SIGSTOP)
        try:
            self.c.send_raw(frames)
        finally:
            self.daemon.signal(signal.SIGCONT)
        self.assertEqual(self.answers(3), ["success"] * 3)
        # The owed switch-off is made later: the old port's filter goes, the new one's stays.
        self.assertTrue(vx.wait_for(lambda: self.tone_filters_on(ts) == "1000/300/-20", 3.0), self.tone_filters_on(ts))
        time.sleep(1.2)
        self.assertEqual(self.tone_filters_on(ts), "1000/300/-20")
        self.assertEqual(self.send_to(71, "destroy : NULL"), "success")

    def test_a_switch_is_put_back_only_once_its_configuration_was_taken(self):
        ts = self.mixer_in(80, 9)
        self.ioctls(80, "dtmf-params : { threshold { twist 8, ratio 6, noise 30 }, level { silence 40 } }",
                    "dtmf-enable : TRUE", "vad-params : v2 : { voice-th-msec 40, silence-th-msec 200, e-th-dB 30 }",
                    "vad-enable : TRUE")
        seen = len(self.daemon.output())
        # The devices come back and refuse the first record put back: the configuration.
        self.board.ask_together("reset", "clear-requests", "fail dtmf EIO 1 DTMF_CONFIGURE_DETECTOR %d" % ts,
                                "fail dsp EIO 1 DSPROC_CONFIGURE %d" % ts)
        for tag in ("tonec", "dsproc"):
            back = "%s: settings of timeslot %d put back" % (tag, ts)
            self.assertTrue(vx.wait_for(lambda: back in self.daemon.output()[seen:], 4.0), tag)
        for device, config, switch in (("dtmf", "DTMF_CONFIGURE_DETECTOR ", "DTMF_ENABLE_DETECTOR "),
                                       ("dsp", "DSPROC_CONFIGURE timeslot=%d what=1 " % ts,
                                        "DSPROC_ENABLE timeslot=%d " % ts)):
            lines = self.board.ask("requests %s 1000" % device)
            switched = [i for i, line in enumerate(lines) if line.startswith(switch)]
            self.assertTrue(switched, lines)
            self.assertTrue(any(line.startswith(config) and line.endswith("-> 0") for line in lines[:switched[0]]),
                            lines)
        self.assertEqual([self.board.ask("fail %s" % device) for device in ("dtmf", "dsp")], ["0", "0"])
        self.assertEqual(self.tone(ts)["detector"], "1")
        self.assertEqual(self.dsp(ts) & VAD, VAD)
        self.assertEqual(self.send_to(80, "destroy : NULL"), "success")

    def test_a_refused_receive_start_fails_the_connect_and_the_next_one_makes_it(self):
        self.assertEqual(self.send_to(1, "create : trunk : { trunk 0, timeslot 1 }"), "success")
        ch = self.rtp(9)
        self.board.ask("fail rtp EIO 1 RTP_START_RX")
        for made in (False, True):
            self.assertEqual(self.send_to(1, "connect : 9") == "success", made)
            self.assertEqual(self.board.sessions()[ch]["receiving"], "01"[made])
            self.assertEqual(self.board.ask("switch %d" % ch) == "connected 1", made)
        for slot in (9, 1):
            self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")


class Trunks(DeviceStateTest):
    def tearDown(self):
        for device in ("e1-cas", "maintenance"):
            self.board.ask("fail %s none" % device)
            self.board.ask("fail-open %s none" % device)
        super().tearDown()

    def test_a_cas_close_owed_by_a_controller_that_left_is_never_inherited(self):
        self.assertEqual(self.cas(0, 1, "open : 9"), "success")
        self.board.ask("fail e1-cas EIO 100000")
        self.new_controller()
        self.assertEqual(self.cas_state(0, 1)["open"], "1")
        # The next controller opens the trunk while the owed close is refused once more: the
        # open fails, and the close stays owed.
        self.board.ask("fail e1-cas EIO 1 CAS_CLOSE_TRUNK")
        self.assertEqual(self.cas(0, 2, "open : 5"), "success")
        self.assertTrue(vx.wait_for(lambda: self.cas_state(0, 1)["open"] == "0", 3.0), self.cas_state(0, 1))
        self.assertEqual(self.cas(0, 2, "open : 5"), "success")
        self.assertEqual(self.cas_state(0, 1), {"open": "1", "enabled": "0", "rx": "0", "tx": "9"})
        self.assertEqual(self.cas_state(0, 2)["enabled"], "1")
        self.assertEqual(self.cas(0, 0, "close : NULL"), "success")

    def test_a_trunk_whose_reopen_was_refused_is_still_the_controllers(self):
        for error in ("EIO", "ENODEV"):
            with self.subTest(error=error):
                self.assertEqual(self.cas(0, 1, "open : 9"), "success")
                # The device comes back and refuses the first request on the new descriptor.
                self.board.ask("fail e1-cas %s 1 CAS_OPEN_TRUNK" % error)
                self.board.ask("hangup e1-cas")
                self.assertTrue(vx.wait_for(lambda: int(self.board.ask("open e1-cas")) > 0, 3.0))
                self.board.ask("fail e1-cas none")
                # The controller still closes it; a second time, its departure does.
                if error == "EIO":
                    self.assertEqual(self.cas(0, 0, "close : NULL"), "success")
                    self.assertEqual(self.cas_state(0, 1)["open"], "0")
                else:
                    self.new_controller()
                    self.assertTrue(vx.wait_for(lambda: self.cas_state(0, 1)["open"] == "0", 3.0))
                self.assertEqual(self.cas_state(0, 1)["enabled"], "0")

    def test_a_channel_closed_before_its_trunk_came_back_stays_closed(self):
        for refusals in (1, 2):
            with self.subTest(refusals=refusals):
                self.assertEqual(self.cas(0, 1, "open : 9"), "success")
                self.assertEqual(self.cas(0, 2, "open : 5"), "success")
                self.board.ask("reset")
                # The trunk's reopen is refused once (the close brings the trunk back first), or
                # also at the close (the trunk comes back at the next tick): either way the closed
                # channel is never enabled again.
                self.board.ask("fail e1-cas EIO %d any 0" % refusals)
                self.pending = []
                self.assertEqual(self.cas(0, 1, "close : NULL"), "success")
                self.board.ask("fail e1-cas none")
                # The disable reaches the driver all the same; refused, the controller is told.
                self.assertTrue(any("timeslot=1 " in r and "disable=1" in r
                                    for r in self.board.ask("requests e1-cas 100 CAS_ENABLE")))
                if refusals == 2:
                    self.assertEqual(self.slot_signal(None, "cas", "{ channel { path 0, timeslot 1 }"),
                                     "{ channel { path 0, timeslot 1 }, rx -1, tx 0 }")
                self.assertTrue(vx.wait_for(lambda: self.cas_state(0, 2)["enabled"] == "1", 3.0),
                                self.cas_state(0, 2))
                self.assertEqual(self.cas_state(0, 1)["enabled"], "0")
                self.assertEqual(self.cas(0, 0, "close : NULL"), "success")

    def test_the_clock_mask_is_kept_between_controllers_and_the_next_one_starts_from_none(self):
        for away in ("fail maintenance EIO 100000", "fail-open maintenance ENOENT"):
            with self.subTest(away=away):
                self.assertEqual(self.command("trunkCfg : { trunk 2, mode slave }"), "success")
                self.assertEqual(self.tclk(), 4)
                # Between controllers the slave trunk keeps its clock, after a reset too.
                self.c.close()
                self.board.ask("reset")
                self.assertTrue(vx.wait_for(lambda: self.tclk() == 4, 3.0), self.tclk())
                # The next controller's empty mask is written once the board takes it.
                self.board.ask(away)
                if away.startswith("fail-open"):
                    self.board.ask("hangup maintenance")
                self.new_controller()
                self.board.ask("fail maintenance none")
                self.board.ask("fail-open maintenance none")
                self.assertTrue(vx.wait_for(lambda: self.tclk() == 0, 3.0), self.tclk())

    def test_the_clock_mask_is_written_again_after_a_reset(self):
        self.assertEqual(self.command("trunkCfg : { trunk 2, mode slave }"), "success")
        self.assertEqual(self.tclk(), 4)
        self.board.ask("reset")
        self.assertEqual(self.tclk(), 0)
        self.assertTrue(vx.wait_for(lambda: self.tclk() == 4, 3.0))


if __name__ == "__main__":
    vx.main()
