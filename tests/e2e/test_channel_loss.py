"""A slot that loses or gives up its channel (a failed codec change, a hung-up controller channel,
the end of its signalling slot, a modem handed to the fax program) holds no channel from then on:
the board gives the number to the next slot that asks, and whatever the first slot is told to do
afterwards (connect, disconnect, ioctl, destroy) must not reach the second slot's routes, tone
detector or digits. Mixer ports of one channel: destroying the output port leaves the input
port's feed alone."""

import os
import re
import stat

import vxharness as vx
from test_modem import ModemTest, activation, map_rx, modem_params
from test_rtp import CodecSessionTest, rtp

RTP_CHANNEL = 2048
# Error causes as the answers carry them.
UNSUPPORTED = 6
CONNECT_FAIL = 9


def trunk(timeslot):
    return "create : trunk : { trunk 0, timeslot %d }" % timeslot


class Loss(CodecSessionTest):
    def setUp(self):
        super().setUp()
        for slot in (1, 2, 3):
            self.assertEqual(self.send_to(slot, trunk(slot)), "success")

    def switch(self, channel):
        return self.board.ask("switch %d" % channel)

    def detector(self, timeslot):
        return dict(f.split("=", 1) for f in self.board.ask("tone %d" % timeslot).split())["detector"]

    def connect(self, src, dst):
        return self.send_to(src, "connect : %d" % dst)

    def check_driven_alone(self, lost, held, channel, feed, sink):
        """`lost` held `channel` once, `held` holds it now, fed from trunk slot `feed` (channel
        = slot number) and feeding trunk slot `sink`: nothing `lost` is told touches that."""
        self.assertEqual(self.connect(feed, held), "success")
        self.assertEqual(self.connect(held, sink), "success")
        self.assertEqual(self.switch(channel), "connected %d" % feed)
        self.assertEqual(self.connect(3, lost), CONNECT_FAIL)
        self.assertEqual(self.connect(lost, 1), CONNECT_FAIL)
        self.assertEqual(self.switch(channel), "connected %d" % feed)
        self.assertNotEqual(self.switch(1), "connected %d" % channel)
        self.assertEqual(self.send_to(lost, "disconnect : NULL"), "success")
        self.assertEqual(self.send_to(lost, "destroy : NULL"), "success")
        self.assertEqual(self.switch(channel), "connected %d" % feed)
        self.assertEqual(self.switch(sink), "connected %d" % channel)

    def test_rtp_session_lost_in_a_failed_codec_change(self):
        self.assertEqual(self.send_to(9, rtp()), "success")
        self.assertEqual(self.connect(1, 9), "success")
        self.assertEqual(self.connect(9, 2), "success")
        self.assertEqual(self.send_to(9, "ioctl : dtmf-enable : TRUE"), "success")
        self.assertEqual(self.switch(RTP_CHANNEL), "connected 1")
        with vx.failing(self.board, "rtp", "EIO", "RTP_BEGIN_SESSION"):
            self.assertEqual(self.send_to(9, "ioctl : encoder-mode : ulaw"), UNSUPPORTED)
        # Its paths and detector went while the channel was still its own.
        self.assertNotEqual(self.switch(RTP_CHANNEL), "connected 1")
        self.assertNotEqual(self.switch(2), "connected %d" % RTP_CHANNEL)
        self.assertEqual(self.detector(RTP_CHANNEL), "0")
        # No session: neither the same change again nor a feature of the timeslot.
        self.assertEqual(self.send_to(9, "ioctl : encoder-mode : ulaw"), UNSUPPORTED)
        self.assertEqual(self.send_to(9, "ioctl : dtmf-enable : TRUE"), UNSUPPORTED)

        self.assertEqual(self.send_to(10, rtp()), "success")
        self.assertIn(RTP_CHANNEL, self.board.sessions())
        self.assertNotEqual(self.switch(RTP_CHANNEL), "connected 1")
        self.assertEqual(self.send_to(10, "ioctl : dtmf-enable : TRUE"), "success")
        self.assertEqual(self.board.ask("dtmf %d 5 77" % RTP_CHANNEL), "1")
        self.assertEqual(self.signal("tonec"), (10, "{ timestamp 77, event dtmf : 5 }"))
        self.check_driven_alone(9, 10, RTP_CHANNEL, 1, 2)
        # The destroy left the detector that the new session enabled.
        self.assertEqual(self.detector(RTP_CHANNEL), "1")
        self.assertEqual(self.board.ask("dtmf %d 6 78" % RTP_CHANNEL), "1")
        self.assertEqual(self.signal("tonec"), (10, "{ timestamp 78, event dtmf : 6 }"))

    def test_rtp_session_hung_up(self):
        self.assertEqual(self.send_to(9, rtp()), "success")
        self.assertEqual(self.connect(1, 9), "success")
        self.assertEqual(self.connect(9, 2), "success")
        self.assertEqual(self.switch(RTP_CHANNEL), "connected 1")
        self.board.ask("hangup rtp")
        # The board freed the channel: the slot took its paths down while it was still its own.
        self.assertTrue(vx.wait_for(lambda: self.switch(RTP_CHANNEL) != "connected 1"))
        self.assertNotEqual(self.switch(2), "connected %d" % RTP_CHANNEL)

        self.assertEqual(self.send_to(10, rtp()), "success")
        self.assertIn(RTP_CHANNEL, self.board.sessions())
        self.assertEqual(self.send_to(10, "ioctl : dtmf-enable : TRUE"), "success")
        self.assertEqual(self.send_to(9, "ioctl : activateWaitTone : NULL"), UNSUPPORTED)
        self.assertEqual(self.board.ask("tone %d" % RTP_CHANNEL).split()[2:6], ["f1=0", "f2=0", "a1=0", "a2=0"])
        self.check_driven_alone(9, 10, RTP_CHANNEL, 1, 2)
        self.assertEqual(self.detector(RTP_CHANNEL), "1")

    def test_isdn_controller_channel_hung_up(self):
        self.assertEqual(self.send_to(20, "create : isdn : { type pri, trunk 0, log 0, side user : NULL }"),
                         "success")
        channel = self.controller_channel()
        self.assertEqual(self.connect(1, 20), "success")
        self.assertEqual(self.board.ask("hdlc-hangup %d" % channel), "1")
        self.assertTrue(vx.wait_for(lambda: self.switch(channel) != "connected 1"))
        self.assertEqual(self.send_to(21, "create : isdn : { type pri, trunk 0, log 0, side user : NULL }"),
                         "success")
        self.assertEqual(self.controller_channel(), channel)
        self.check_driven_alone(20, 21, channel, 2, 3)

    def test_mcc_channel_hung_up(self):
        self.assertEqual(self.send_to(20, "create : mcc : { type data, mode standard }"), "success")
        channel = self.controller_channel()
        self.assertEqual(self.connect(20, 2), "success")
        self.assertEqual(self.board.ask("hdlc-hangup %d" % channel), "1")
        self.assertTrue(vx.wait_for(lambda: self.switch(2) != "connected %d" % channel))
        self.assertEqual(self.send_to(21, "create : mcc : { type data, mode standard }"), "success")
        self.assertEqual(self.controller_channel(), channel)
        self.check_driven_alone(20, 21, channel, 1, 3)

    def test_ats_qsig_b_slot_outliving_its_signalling_slot(self):
        qsig = "create : ats-qsig : { side user : NULL, log 0 }"
        self.assertEqual(self.send_to(30, qsig), "success")
        self.assertEqual(self.send_to(31, "create : ats-qsig-b : { slot 30, subslot 1 }"), "success")
        self.assertEqual(self.connect(1, 31), "success")
        channel = int(self.slot_signal(31, "receiver").split(" : ")[1])
        self.assertEqual(self.send_to(30, "destroy : NULL"), "success")
        self.assertNotEqual(self.switch(channel), "connected 1")
        self.assertEqual(self.send_to(30, qsig), "success")
        self.assertEqual(self.send_to(33, "create : ats-qsig-b : { slot 30, subslot 1 }"), "success")
        self.assertEqual(self.connect(2, 33), "success")
        self.assertEqual(self.switch(channel), "connected 2")
        closes = len(self.board.ask("requests dsp-data 100 DSPDATA_CLOSE_B"))
        self.check_driven_alone(31, 33, channel, 2, 3)
        # The orphan's destroy closed no B channel of the new signalling slot.
        self.assertEqual(len(self.board.ask("requests dsp-data 100 DSPDATA_CLOSE_B")), closes)

    def test_ats_qsig_b_slot_whose_signalling_channel_hung_up(self):
        qsig = "create : ats-qsig : { side user : NULL, log 0 }"
        self.assertEqual(self.send_to(40, qsig), "success")
        signalling = self.controller_channel()
        self.assertEqual(self.send_to(41, "create : ats-qsig-b : { slot 40, subslot 1 }"), "success")
        self.assertEqual(self.connect(1, 41), "success")
        channel = int(self.slot_signal(41, "receiver").split(" : ")[1])
        self.assertEqual(self.board.ask("hdlc-hangup %d" % signalling), "1")
        self.assertTrue(vx.wait_for(lambda: self.switch(channel) != "connected 1"))
        self.assertEqual(self.send_to(42, qsig), "success")
        self.assertEqual(self.send_to(43, "create : ats-qsig-b : { slot 42, subslot 1 }"), "success")
        self.check_driven_alone(41, 43, channel, 2, 3)

    def test_hdlc_data_slot_whose_channel_hung_up(self):
        package = "ioctl : hdlcPackages : { { body '0102'H } }"
        self.assertEqual(self.send_to(20, "create : hdlcParams : { trunk 1, log 0, address 4660 }"), "success")
        self.assertEqual(self.connect(20, 1), "success")
        channel = self.controller_channel()
        self.assertEqual(self.send_to(20, package), "success")
        self.assertEqual(self.board.ask("hdlc-hangup %d" % channel), "1")
        self.assertTrue(vx.wait_for(lambda: "%d type=" % channel not in " ".join(
            line for line in self.board.ask("channels") if "open=1" in line)))
        self.assertEqual(self.send_to(20, package), UNSUPPORTED)

    def controller_channel(self):
        """The highest controller channel open on the board (the tests open one at a time)."""
        return max(int(line.split()[0]) for line in self.board.ask("channels") if "open=1" in line)

    def test_mixer_output_destroy_leaves_the_input_feed(self):
        self.board.ask("mixer-unit 0 8 8")
        self.seq += 1
        vx.answer_keeping_signals(self.c, self.codec.encode("{ seq %d, pdu command : query : NULL }" % self.seq),
                                  self.pending)
        self.assertEqual(self.send_to(31, "create : mixerIn : { unit 0, channel tdm : 3 }"), "success")
        self.assertEqual(self.send_to(32, "create : mixerOut : { unit 0, channel tdm : 3, inputs { } }"),
                         "success")
        self.assertEqual(self.connect(1, 31), "success")
        self.assertEqual(self.connect(32, 2), "success")
        timeslot = int(self.board.ask("switch 2").split()[1])
        self.assertEqual(self.switch(timeslot), "connected 1")
        self.assertEqual(self.send_to(32, "destroy : NULL"), "success")
        self.assertEqual(self.switch(timeslot), "connected 1")
        self.assertEqual(self.send_to(31, "destroy : NULL"), "success")
        self.assertEqual(self.switch(timeslot), "disabled")

    def query(self):
        self.seq += 1
        vx.answer_keeping_signals(self.c, self.codec.encode("{ seq %d, pdu command : query : NULL }" % self.seq),
                                  self.pending)

    def test_a_dropped_mixer_units_port_releases_nothing_of_the_unit_found_again(self):
        timeslot = 3072 + 5  # unit 0, channel 5
        for old, drop in ((10, "mixer-remove 0"), (20, "fail mixer EIO 1 MIX_ENUMERATE")):
            new_in, new_out = old + 1, old + 2
            with self.subTest(drop=drop):
                self.board.ask("mixer-unit 0 16 8")
                self.query()
                self.assertEqual(self.send_to(old, "create : mixerOut : { unit 0, channel tdm : 5, inputs { } }"),
                                 "success")
                self.assertEqual(self.connect(old, 2), "success")
                self.assertEqual(self.send_to(old, "ioctl : tone-gen-enable : { freq 425, amp 2048 }"), "success")
                # The unit is not found by one query: its port is aborted and holds nothing more.
                self.board.ask(drop)
                self.query()
                self.assertEqual(self.slot_signal(old, "abort"), "0")
                self.assertNotEqual(self.switch(2), "connected %d" % timeslot)
                self.assertEqual(self.send_to(old, "ioctl : tone-gen-enable : { freq 425, amp 2048 }"), UNSUPPORTED)
                if drop.startswith("mixer-remove"):
                    self.board.ask("mixer-unit 0 16 8")
                self.query()
                # The conference rebuilt on the unit found again, on the same channel.
                self.assertEqual(self.send_to(new_in, "create : mixerIn : { unit 0, channel tdm : 5 }"), "success")
                self.assertEqual(self.send_to(
                    new_out, "create : mixerOut : { unit 0, channel tdm : 5, inputs { { channel tdm : 9, gain 0 } } }"),
                    "success")
                self.assertEqual(self.connect(1, new_in), "success")
                self.assertEqual(self.connect(new_out, 3), "success")
                self.assertEqual(self.send_to(new_in, "ioctl : dtmf-enable : TRUE"), "success")
                self.assertEqual(self.send_to(new_out, "ioctl : tone-gen-enable : { freq 1000, amp 2048 }"), "success")
                live = (self.switch(timeslot), self.switch(3), self.board.ask("mixer-sum 0 5"), self.tone(timeslot))
                self.assertEqual(live[0], "connected 1")
                self.assertEqual(live[2], ["0/9 gain=0"])
                self.assertEqual(self.send_to(old, "destroy : NULL"), "success")
                self.assertEqual((self.switch(timeslot), self.switch(3), self.board.ask("mixer-sum 0 5"),
                                  self.tone(timeslot)), live)
                for slot in (new_out, new_in):
                    self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")

    def tone(self, timeslot):
        return dict(f.split("=", 1) for f in self.board.ask("tone %d" % timeslot).split())


FAX_HOLD = "/tmp/fax.hold"


ENODEV = 19


class FaxHandover(ModemTest):
    """Modem slot 11 hands its modem to a fax transfer that runs until the test lets it end."""

    def hold_fax(self):
        """Slot 11 on modem 0, handed to the fax program, map slot 13 hearing it; slot 12, a PPP
        dial-in, is then given a modem and its caller's authentication is reported on it."""
        program = self.daemon.path("/usr/local/sbin/faxhold")
        with open(program, "w") as f:
            f.write('#!/bin/sh\nwhile [ -e "$VOXRELAY_ROOT%s" ]; do sleep 0.02; done\nexit 3\n' % FAX_HOLD)
        os.chmod(program, os.stat(program).st_mode | stat.S_IXUSR)
        self.hold = self.daemon.path(FAX_HOLD)
        os.makedirs(os.path.dirname(self.hold), exist_ok=True)
        open(self.hold, "w").close()
        self.addCleanup(lambda: os.path.exists(self.hold) and os.unlink(self.hold))
        self.clear_log()
        self.create(11, modem_params(fax=True, execfile="/usr/local/sbin/faxhold", execargs=["send", "/tmp/d.g3"]))
        self.assertIn("success", self.answer(self.start(11, 13)))
        self.assertEqual(self.board.ask("switch %d" % map_rx(13)), "connected 1024")
        # The simulator shows the modem free while the fax runs, but slot 11's paths of its
        # timeslot stand: slot 12 gets another one.
        self.create(12, modem_params())
        self.assertIn("success", self.answer(self.start(12, 14)))
        got = self.messages(lambda t: "modemProceeding : auth" in t)
        self.assertRegex(got[-1], r"slot 12, .*auth : \{ username \"bob\"")

    def test_modem_handed_to_the_fax_program(self):
        self.options("aoptions", "auth bob pw\n")
        self.hold_fax()
        self.assertEqual(self.board.ask("switch %d" % map_rx(13)), "connected 1024")
        other = self.board.ask("switch %d" % map_rx(14))
        self.assertRegex(other, r"^connected \d+$")
        self.assertNotEqual(other, "connected 1024")
        os.unlink(self.hold)
        self.messages(lambda t: "slot 11" in t and "abort : 768" in t)
        self.assertEqual(self.board.ask("switch %d" % map_rx(14)), other)
        self.assertIn("connectFail", self.answer(self.command(11, "connect : 14")))
        self.assertIn("success", self.answer(self.command(11, "destroy : NULL")))
        self.assertNotEqual(self.board.ask("switch %d" % map_rx(13)), "connected 1024")
        self.assertEqual(self.board.ask("switch %d" % map_rx(14)), other)
        self.assertIn("success", self.answer(self.command(12, "destroy : NULL")))

    def test_the_handed_over_slots_activation_reaches_not_the_new_holders_call(self):
        self.options("aoptions", "auth bob pw\nwait-ip\n")
        self.hold_fax()
        # Nothing goes to the PPP side under session 0, so the activation is not done.
        self.assertIn("unsupported", self.answer(self.command(11, activation("10.5.5.5"))))
        self.assertIn("success", self.answer(self.command(12, activation("10.7.7.7"))))
        self.assertTrue(vx.wait_for(lambda: any(f[0] == "ip" for f in self.log() if f)))
        ips = [f for f in self.log() if f and f[0] == "ip"]
        self.assertEqual([f[4] for f in ips], ["10.7.7.7"], ips)


class ModemReset(ModemTest):
    def test_a_modem_device_reset_takes_the_modem_from_its_slot(self):
        self.clear_log()
        self.options("aoptions", "auth alice secret\n")
        self.create(5, modem_params())
        self.start(5, 6)
        self.messages(lambda t: "slot 5" in t and "modemProceeding : auth" in t)
        self.assertEqual(self.board.ask("switch %d" % map_rx(6)), "connected 1024")

        # The board frees every modem: slot 5 loses its modem, its paths and its pppd at once.
        self.board.ask("hangup mctl")
        self.messages(lambda t: "slot 5" in t and "abort : %d" % ENODEV in t)
        self.assertNotEqual(self.board.ask("switch %d" % map_rx(6)), "connected 1024")
        self.assertTrue(vx.wait_for(lambda: ["hup"] in self.log(), 3), self.log())
        self.assertTrue(vx.wait_for(lambda: "disconnected." in self.daemon.output(), 3))

        # Slot 7 gets modem 0: its caller's authentication and its settings are its own.
        self.options("aoptions", "auth bob pw\nwait-ip\n")
        self.create(7, modem_params())
        self.start(7, 8)
        got = self.messages(lambda t: "modemProceeding : auth" in t)
        self.assertIn("transmitter : active : 1024", "\n".join(got))
        self.assertRegex(got[-1], r"slot 7, .*auth : \{ username \"bob\"")
        self.assertIn("unsupported", self.answer(self.command(5, activation("10.5.5.5"))))
        self.assertIn("success", self.answer(self.command(7, activation("10.7.7.7"))))
        self.assertTrue(vx.wait_for(lambda: any(f[0] == "ip" for f in self.log() if f)))
        self.assertEqual([f[4] for f in self.log() if f and f[0] == "ip"], ["10.7.7.7"])
        # Slot 5 holds no channel: the new call's paths stay as they are.
        self.assertEqual(self.board.ask("switch %d" % map_rx(8)), "connected 1024")
        self.assertIn("connectFail", self.answer(self.command(5, "connect : 6")))
        self.assertIn("success", self.answer(self.command(5, "destroy : NULL")))
        self.assertEqual(self.board.ask("switch %d" % map_rx(8)), "connected 1024")
        self.assertIn("success", self.answer(self.command(7, "destroy : NULL")))


if __name__ == "__main__":
    vx.main()
