"""A lost channel's clean-up switches off only its own slot's tone and DSP features, end to end on
voxrelay-sim: an RTP session hangs up, and in the same loop pass the controller makes a new
session on the freed channel with its own ring-back, DTMF detection and VAD and connects it. When
the old slot's loss is handled, the new slot's features stand; what only the old slot had goes
off."""


import vxharness as vx
from test_rtp import CodecSessionTest, rtp

RTP_CHANNEL = 2048
VAD = 1
RX_GAIN = "config64"  # the DSP configuration of the receive gain
NO_GAIN = "00" * 12
OFF = "frequency1=0 frequency2=0 amplitude1=0 amplitude2=0"


def fields(text):
    return dict(f.split("=", 1) for f in text.split())


class LostChannelFeatures(CodecSessionTest):
    def setUp(self):
        super().setUp()
        for slot in (1, 2):
            self.assertEqual(self.send_to(slot, "create : trunk : { trunk 0, timeslot %d }" % slot), "success")

    def tone(self):
        return fields(self.board.ask("tone %d" % RTP_CHANNEL))

    def dsp(self, field="enabled"):
        value = fields(self.board.ask("dsp %d" % RTP_CHANNEL))[field]
        return int(value) if field == "enabled" else value

    def offs(self):
        """The generator switch-offs the board was asked for on the channel."""
        return [line for line in self.board.ask("requests dtmf 1000 DTMF_DIAL")
                if line.startswith("DTMF_DIAL timeslot=%d %s ->" % (RTP_CHANNEL, OFF))]

    def lose_and_reissue(self, features):
        """Slot 9 loses channel 2048 while, in the same loop pass, slot 10 is made on it, given
        `features` and fed from trunk slot 2; back once slot 9's loss was handled."""
        commands = [rtp()] + ["ioctl : " + f for f in features] + ["connect : 10"]
        frames = b"".join(vx.tpkt(self.encoded(2 if command.startswith("connect") else 10, command))
                          for command in commands)
        seen = len(self.daemon.output())
        # All read in one pass: the daemon is held still while they are sent.
        self.sent_in_one_pass(b"hangup rtp\n", frames)
        self.assertEqual(self.answers(len(commands)), ["success"] * len(commands))
        self.assertIn(RTP_CHANNEL, self.board.sessions())
        self.assertTrue(vx.wait_for(lambda: "slot 09:rtp lost its channel" in self.daemon.output()[seen:]))
        self.assertEqual(self.switch_reads(), "connected 2")

    def switch_reads(self):
        return self.board.ask("switch %d" % RTP_CHANNEL)

    def test_the_new_owners_features_stand_and_only_the_old_owners_own_go(self):
        # Unconnected: a channel some route still touches would not be handed out again at once.
        self.assertEqual(self.send_to(9, rtp()), "success")
        for request in ("activateWaitTone : NULL", "dtmf-enable : TRUE", "vad-enable : TRUE",
                        "dtmf-reject-enable : TRUE", "rx-gain : { gainDB -6 }"):
            self.assertEqual(self.send_to(9, "ioctl : " + request), "success")
        self.assertEqual(self.tone()["rejection"], "1")
        self.assertNotEqual(self.dsp(RX_GAIN), NO_GAIN)

        self.lose_and_reissue(("activateWaitTone : NULL", "dtmf-enable : TRUE", "vad-enable : TRUE"))
        # The new slot's ring-back, detector and VAD stand ...
        self.assertEqual(self.offs(), [])
        self.assertNotEqual((self.tone()["f1"], self.tone()["a1"]), ("0", "0"))
        self.assertEqual(self.tone()["detector"], "1")
        self.assertEqual(self.dsp() & VAD, VAD)
        self.assertEqual(self.board.ask("dtmf %d 5 77" % RTP_CHANNEL), "1")
        self.assertEqual(self.signal("tonec"), (10, "{ timestamp 77, event dtmf : 5 }"))
        self.assertEqual(self.board.ask("dsp-vad %d 1 1 0" % RTP_CHANNEL), "1")
        self.assertEqual(self.signal("vad")[0], 10)
        # ... while what only the old one had went with it.
        self.assertEqual(self.tone()["rejection"], "0")
        self.assertEqual(self.dsp(RX_GAIN), NO_GAIN)

        # The new slot's own destroy takes its features down.
        self.assertEqual(self.send_to(10, "destroy : NULL"), "success")
        self.assertTrue(vx.wait_for(lambda: self.offs() != [] and self.tone()["detector"] == "0"), self.tone())
        self.assertEqual(self.dsp() & VAD, 0)

    def test_features_the_new_owner_does_not_set_go_off(self):
        self.assertEqual(self.send_to(9, rtp()), "success")
        for request in ("activateWaitTone : NULL", "dtmf-enable : TRUE", "vad-enable : TRUE"):
            self.assertEqual(self.send_to(9, "ioctl : " + request), "success")
        self.lose_and_reissue(())
        self.assertEqual(len(self.offs()), 1)
        self.assertEqual(self.tone()["detector"], "0")
        self.assertEqual(self.dsp() & VAD, 0)


if __name__ == "__main__":
    vx.main()
