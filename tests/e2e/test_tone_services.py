"""Tone, DSP and CAS services end to end: the tone-control, DSP-processing and CAS devices hang up
and come back with what the slots and trunks held, a destroyed slot leaves no tone on its
channel, the events of a mixer channel's input reach the input, and the ports of one mixer
channel share its timeslot's settings: the newest wish of the live ports holds, and a detection
goes to the port whose enable or filter it answers."""

import unittest

import vxharness as vx
from test_rtp import FIRST_CHANNEL, CodecSessionTest, udp_port

MIXER_TIMESLOT = 3072  # channel 0 of mixer unit 0
INVALID_PARAMS = 0  # the error cause
VAD = 1  # the VAD bit of the DSP features
TONE_FILTER = 0x100  # the DSP event type of a tone filter's detection
RTP = ('rtp : { codecRTP { payload ptG711-Ulaw, dhost { iaddr "127.0.0.1", port %d } }, '
       "txPayload ptG711-Ulaw, rxPayload ptG711-Ulaw }")


def fields(line):
    """The name=value fields of a board answer as a dict."""
    return dict(f.split("=", 1) for f in line.split() if "=" in f)


class ToneServices(CodecSessionTest):
    def setUp(self):
        super().setUp()
        self.mixers_known = False

    def create(self, slot, params):
        if params.startswith("mixer") and not self.mixers_known:
            self.command("query : NULL")  # the mixer units are found by a query
            self.mixers_known = True
        self.assertEqual(self.send_to(slot, "create : " + params), "success")

    def rtp(self, slot):
        """An RTP slot; its channel."""
        before = set(self.board.sessions())
        self.create(slot, RTP % (udp_port() - 1))
        (channel,) = set(self.board.sessions()) - before
        return channel

    def tone(self, ts):
        return fields(self.board.ask("tone %d" % ts))

    def mixer_ports(self, channel, *ports):
        """(slot, "mixerIn" or "mixerOut") ports made in order on one mixer channel; its timeslot."""
        for slot, kind in ports:
            inputs = ", inputs {}" if kind == "mixerOut" else ""
            self.create(slot, "%s : { unit 0, channel tdm : %d%s }" % (kind, channel, inputs))
        return MIXER_TIMESLOT + channel

    def generator(self, ts):
        t = self.tone(ts)
        return tuple(int(t[k]) for k in ("f1", "f2", "a1", "a2"))

    def opened(self, device, timeout=3.0):
        """The daemon holds a descriptor on the device (again) within the timeout."""
        return vx.wait_for(lambda: int(self.board.ask("open " + device)) > 0, timeout)

    def command(self, text):
        """A command without a slot number (trunk control)."""
        self.seq += 1
        return self.answer(self.codec.encode("{ seq %d, pdu command : %s }" % (self.seq, text)))

    def cas(self, trunk, ts, cmd):
        return self.command("ioctl : cas : { channel { path %d, timeslot %d }, cmd %s }" % (trunk, ts, cmd))

    def cas_signal(self, text, timeout=2.0):
        """Is this "cas" signal among those that come within the timeout (others are dropped)?"""
        return vx.wait_signal(self.c, self.pending, self.parse, lambda p: p[1] == "cas" and p[2] == text,
                              timeout) is not None

    def cas_state(self, trunk, ts):
        return fields(self.board.ask("cas-state %d %d" % (trunk, ts)))

    def test_tone_device_hangup_reopens_at_the_next_request_with_detection_in_force(self):
        ch = self.rtp(9)
        self.assertEqual(self.send_to(9, "ioctl : dtmf-enable : TRUE"), "success")
        self.board.ask("hangup dtmf")
        # A generator request (not a configure) brings the device back, and the tone sounds.
        self.assertEqual(self.send_to(9, "ioctl : activateWaitTone : NULL"), "success")
        self.assertEqual(self.generator(ch), (425, 0, 2048, 2048))
        self.assertTrue(self.opened("dtmf"))
        self.assertEqual(self.board.ask("dtmf %d 5 77" % ch), "1")
        self.assertEqual(self.signal("tonec"), (9, "{ timestamp 77, event dtmf : 5 }"))

        # Away without any request: it comes back by itself, detection still on.
        self.board.ask("hangup dtmf")
        self.assertTrue(self.opened("dtmf"))
        self.board.ask("dtmf %d 6 78" % ch)
        self.assertEqual(self.signal("tonec"), (9, "{ timestamp 78, event dtmf : 6 }"))

        # Detection switched on after a hang-up on another slot works too.
        other = self.rtp(10)
        self.board.ask("hangup dtmf")
        self.assertEqual(self.send_to(10, "ioctl : dtmf-enable : TRUE"), "success")
        self.board.ask("dtmf %d 7 79" % other)
        self.assertEqual(self.signal("tonec"), (10, "{ timestamp 79, event dtmf : 7 }"))

    def test_requests_the_devices_cannot_carry_out_answer_an_error(self):
        self.rtp(9)
        try:
            for device in ("dtmf", "dsp"):
                self.board.ask("fail-open %s ENOENT" % device)
                self.board.ask("hangup " + device)
            for request in ("activateWaitTone : NULL", "translateDTMF : { digits { { freq1 697, freq2 1209 } } }",
                            "dtmf-enable : TRUE", "rx-gain : { gainDB -6 }", "vad-enable : TRUE"):
                self.assertNotEqual(self.send_to(9, "ioctl : " + request), "success", request)
        finally:
            for device in ("dtmf", "dsp"):
                self.board.ask("fail-open %s none" % device)
        self.assertTrue(self.opened("dtmf"))
        self.assertEqual(self.send_to(9, "ioctl : activateWaitTone : NULL"), "success")

    def test_dsp_device_hangup_reopens_with_the_features_in_force(self):
        ch = self.rtp(9)
        self.assertEqual(self.send_to(9, "ioctl : vad-enable : TRUE"), "success")
        self.board.ask("hangup dsp")
        self.assertEqual(self.send_to(9, "ioctl : sd-enable : TRUE"), "success")
        self.assertEqual(int(fields(self.board.ask("dsp %d" % ch))["enabled"]) & 3, 3)
        self.assertTrue(self.opened("dsp"))
        self.board.ask("dsp-vad %d 1 1 0" % ch)
        self.assertIsNotNone(self.signal("vad", timeout=2.0))

    def test_destroy_switches_off_the_generator_of_the_slot(self):
        cases = (("ioctl : activateWaitTone : NULL", None),
                 ("ioctl : translateDTMF : { digits { { freq1 697, freq2 1209 }, { freq1 770, freq2 1336 } }, "
                  "toneDuration 2000 }", None),
                 ("ioctl : tone-gen-enable : { freq 425, amp 2048 }", "mixerOut : { unit 0, channel tdm : 1, "
                                                                      "inputs {} }"))
        for number, (start, mixer) in enumerate(cases):
            slot = 20 + number
            if mixer:
                self.create(slot, mixer)
                ts = MIXER_TIMESLOT + 1
            else:
                ts = self.rtp(slot)
            self.assertEqual(self.send_to(slot, start), "success")
            self.assertNotEqual(self.generator(ts), (0, 0, 0, 0))
            self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")
            self.assertTrue(vx.wait_for(lambda: self.generator(ts) == (0, 0, 0, 0), 1.0), (start, self.tone(ts)))

    def test_clean_up_of_a_slot_destroyed_while_the_devices_were_away_is_done_when_they_return(self):
        ch = self.rtp(9)
        for request in ("activateWaitTone : NULL", "dtmf-enable : TRUE", "vad-enable : TRUE"):
            self.assertEqual(self.send_to(9, "ioctl : " + request), "success")
        try:
            for device in ("dtmf", "dsp"):
                self.board.ask("fail-open %s ENOENT" % device)
                self.board.ask("hangup " + device)
            self.assertEqual(self.send_to(9, "destroy : NULL"), "success")
            self.assertEqual(self.rtp(10), ch)
        finally:
            for device in ("dtmf", "dsp"):
                self.board.ask("fail-open %s none" % device)
        self.assertTrue(self.opened("dtmf") and self.opened("dsp"))
        self.assertTrue(vx.wait_for(lambda: self.generator(ch) == (0, 0, 0, 0)), self.tone(ch))
        self.assertEqual(self.tone(ch)["detector"], "0")
        self.assertTrue(vx.wait_for(lambda: int(fields(self.board.ask("dsp %d" % ch))["enabled"]) & 1 == 0))
        # The new slot's own detection, switched on after the return, stays.
        self.assertEqual(self.send_to(10, "ioctl : dtmf-enable : TRUE"), "success")
        self.board.ask("hangup dtmf")
        self.assertTrue(self.opened("dtmf"))
        self.assertEqual(self.board.ask("dtmf %d 4 80" % ch), "1")
        self.assertEqual(self.signal("tonec", timeout=2.0), (10, "{ timestamp 80, event dtmf : 4 }"))

    def test_events_of_a_mixer_input_reach_the_input_not_the_output(self):
        ts = MIXER_TIMESLOT + 2
        self.create(30, "mixerOut : { unit 0, channel tdm : 2, inputs {} }")
        self.create(31, "mixerIn : { unit 0, channel tdm : 2 }")
        self.assertEqual(self.send_to(31, "ioctl : dtmf-enable : TRUE"), "success")
        self.assertEqual(self.send_to(31, "ioctl : vad-enable : TRUE"), "success")
        self.board.ask("dtmf %d 5 90" % ts)
        self.assertEqual(self.signal("tonec", timeout=2.0), (31, "{ timestamp 90, event dtmf : 5 }"))
        self.board.ask("dsp-vad %d 1 1 0" % ts)
        found = self.signal("vad", timeout=2.0)
        self.assertIsNotNone(found)
        self.assertEqual(found[0], 31)

    def test_ports_of_a_channel_keep_the_detectors_the_others_switched_on(self):
        ts = self.mixer_ports(4, (40, "mixerIn"), (41, "mixerIn"))
        for slot in (40, 41):
            self.ioctls(slot, "dtmf-enable : TRUE", "iva-enable : TRUE", "vad-enable : TRUE")
        # The newer port goes: the older one still hears digits and voice, with its own enables.
        self.assertEqual(self.send_to(41, "destroy : NULL"), "success")
        self.assertEqual((self.tone(ts)["detector"], self.tone(ts)["iva"]), ("1", "1"))
        self.assertEqual(int(fields(self.board.ask("dsp %d" % ts))["enabled"]) & VAD, VAD)
        self.assertEqual(self.board.ask("dtmf %d 5 91" % ts), "1")
        self.assertEqual(self.signal("tonec", timeout=2.0), (40, "{ timestamp 91, event dtmf : 5 }"))
        self.board.ask("dsp-vad %d 1 1 0" % ts)
        self.assertEqual((self.signal("vad", timeout=2.0) or (None,))[0], 40)
        # A port made later switches the detector off: off it goes, and the older port's comes
        # back when the later one goes.
        self.mixer_ports(4, (42, "mixerIn"))
        self.ioctls(42, "dtmf-enable : FALSE")
        self.assertEqual(self.tone(ts)["detector"], "0")
        self.assertEqual(self.send_to(42, "destroy : NULL"), "success")
        self.assertEqual(self.tone(ts)["detector"], "1")
        self.board.ask("dtmf %d 6 92" % ts)
        self.assertEqual(self.signal("tonec", timeout=2.0), (40, "{ timestamp 92, event dtmf : 6 }"))

    def test_a_tone_filter_and_its_detections_belong_to_the_port_that_set_it(self):
        ts = self.mixer_ports(6, (50, "mixerIn"), (51, "mixerOut"))
        filter_on = "tone-filter : { freq %d, enable TRUE, duration-th-msec 300, det-level-dB -20 }"
        self.ioctls(50, filter_on % 1000)
        self.ioctls(51, filter_on % 2000)
        for slot, frequency in ((51, 2000), (50, 1000)):
            self.board.ask("dsp-event %d %d %08x00000001" % (ts, TONE_FILTER, frequency))
            self.assertEqual(self.signal("tonec", timeout=2.0),
                             (slot, "{ timestamp 0, event tone-presence : { freq %d, presence TRUE } }" % frequency))
        # The output goes, and its filter with it; the input's stays.
        self.assertEqual(self.send_to(51, "destroy : NULL"), "success")
        self.assertEqual(self.board.ask("dsp-filters %d" % ts), "1000/300/-20")

    def test_cas_trunks_stay_open_across_a_hangup_of_the_cas_device(self):
        self.assertEqual(self.cas(0, 1, "open : 1"), "success")
        self.board.ask("hangup e1-cas")
        self.assertTrue(self.opened("e1-cas"))
        self.assertEqual(self.cas(0, 1, "get : NULL"), "success")
        self.assertTrue(self.cas_signal("{ channel { path 0, timeslot 1 }, rx 0, tx 1 }"))
        self.assertEqual(self.cas(0, 1, "close : NULL"), "success")
        self.assertTrue(self.cas_signal("{ channel { path 0, timeslot 1 }, rx -1, tx 1 }"))
        self.assertEqual(self.cas_state(0, 1)["enabled"], "0")
        self.assertEqual(self.cas(0, 0, "close : NULL"), "success")
        self.assertTrue(self.cas_signal("{ channel { path 0, timeslot 0 }, rx 1, tx 0 }"))
        self.assertEqual(self.cas_state(0, 1)["open"], "0")
        # A trunk that is not open cannot be read or closed.
        self.assertEqual(self.cas(0, 1, "get : NULL"), INVALID_PARAMS)
        self.assertEqual(self.cas(0, 0, "close : NULL"), INVALID_PARAMS)

    def test_cas_trunk_of_a_controller_that_left_while_the_device_was_away_is_closed_not_reopened(self):
        self.assertEqual(self.cas(0, 1, "open : 9"), "success")
        self.assertEqual(self.cas_state(0, 1), {"open": "1", "enabled": "1", "rx": "0", "tx": "9"})
        try:
            self.board.ask("fail-open e1-cas ENOENT")
            self.board.ask("hangup e1-cas")
            # The controller leaves; the next one is taken once the daemon let it go.
            self.c.close()
            self.c = self.daemon.connect()
            self.pending = []
            seen = len(self.daemon.output())
        finally:
            self.board.ask("fail-open e1-cas none")
        self.assertTrue(self.opened("e1-cas"))
        self.assertTrue(vx.wait_for(lambda: self.cas_state(0, 1)["open"] == "0"))
        self.assertEqual(self.cas_state(0, 1)["enabled"], "0")
        self.assertNotIn("open cas signalling on trunk(0)", self.daemon.output()[seen:])
        # The new controller opens the trunk afresh.
        self.assertEqual(self.cas(0, 2, "open : 5"), "success")
        self.assertEqual(self.cas_state(0, 1)["enabled"], "0")
        self.assertEqual(self.cas_state(0, 2)["enabled"], "1")
        self.assertEqual(self.cas(0, 0, "close : NULL"), "success")


if __name__ == "__main__":
    vx.main()
