"""A channel goes to a new owner only when no route into or out of it stands, end to end on
voxrelay-sim: an ATS-QSIG slot destroyed while the switch refuses keeps its channel until its routes are down; a
slot given back under another's grace is not fed by the old call; a lost channel's clean-up
leaves the routes of the number's next owner alone."""

import vxharness as vx
from test_rtp import rtp
from test_switch_refusal import TrunkSwitchCase

RTP_CHANNEL = 2048
IDLE = "constant 213"
QSIG = "create : ats-qsig : { side user : NULL, log 0 }"
ISDN = "create : isdn : { type pri, trunk 0, log 0, side user : NULL }"
HDLC = "create : hdlcParams : { trunk 1, log 0, address 4660 }"


class ChannelHold(TrunkSwitchCase):
    def test_a_lost_channels_clean_up_leaves_the_next_owners_route(self):
        self.assertEqual(self.send_to(9, rtp()), "success")
        self.assertEqual(self.connect(1, 9), "success")
        self.assertEqual(self.switch(RTP_CHANNEL), "connected 1")
        # The hang-up, and the create and connect in one write, all read in one loop pass: the
        # daemon is held still while they are sent. The board hands the number out again at
        # once, but its old route stands: the new session gets another channel.
        commands = vx.tpkt(self.encoded(10, rtp())) + vx.tpkt(self.encoded(2, "connect : 10"))
        self.sent_in_one_pass(b"hangup rtp\n", commands)
        self.assertEqual(self.answers(2), ["success", "success"])
        self.assertEqual(self.switch(RTP_CHANNEL + 1), "connected 2")
        # The old route goes once the lost slot notices, and the number with it.
        self.assertTrue(vx.wait_for(lambda: RTP_CHANNEL not in self.board.sessions()))
        self.assertNotEqual(self.switch(RTP_CHANNEL), "connected 1")
        self.assertEqual(self.send_to(9, "destroy : NULL"), "success")
        self.assertEqual(self.switch(RTP_CHANNEL + 1), "connected 2")
        self.assertEqual(self.send_to(10, "disconnect : NULL"), "success")
        self.assertEqual(self.switch(RTP_CHANNEL + 1), IDLE)

    def test_an_ats_qsig_destroy_the_switch_refused_keeps_its_channel(self):
        self.assertEqual(self.send_to(16, "create : trunk : { trunk 0, timeslot 16 }"), "success")
        before = self.open_channels()
        self.assertEqual(self.send_to(30, QSIG), "success")
        (channel,) = self.open_channels() - before
        self.assertEqual(self.connect(30, 16), "success")
        self.assertEqual(self.connect(16, 30), "success")
        self.board.ask("fail hal EBUSY 1000000")
        self.assertEqual(self.send_to(30, "destroy : NULL"), "success")
        self.assertEqual(self.switch(16), "connected %d" % channel)
        for new, kind in ((31, QSIG), (32, ISDN)):
            self.assertEqual(self.send_to(new, kind), "success")
            self.assertIn(channel, self.open_channels(), "kept while its routes stand")
        self.assertEqual(len(self.open_channels() - before), 3)
        self.board.ask("fail hal none")
        self.assertTrue(vx.wait_for(lambda: self.switch(16) == IDLE, 3), self.switch(16))
        self.assertTrue(vx.wait_for(lambda: self.switch(channel) != "connected 16", 3))
        self.assertTrue(vx.wait_for(lambda: channel not in self.open_channels(), 3))

    def test_a_slot_given_back_under_anothers_grace_hears_nothing_of_it(self):
        before = self.open_channels()
        self.assertEqual(self.send_to(30, QSIG), "success")
        (qsig,) = self.open_channels() - before
        self.assertEqual(self.send_to(31, "create : ats-qsig-b : { slot 30, subslot 1 }"), "success")
        self.assertEqual(self.send_to(20, HDLC), "success")
        self.assertEqual(self.connect(20, 30), "success")
        self.assertEqual(self.connect(20, 31), "success")
        bchannel = int(self.slot_signal(31, "receiver").split(" : ")[1])
        old = {self.switch(qsig), self.switch(bchannel)}
        self.assertTrue(all(s.startswith("connected 4") for s in old), old)
        # The data slot goes first: its routes stand for its grace; the slots it fed go within
        # that grace, and new ones are made at once.
        self.assertEqual(self.send_to(20, "destroy : NULL"), "success")
        self.assertEqual(self.send_to(31, "destroy : NULL"), "success")
        self.assertEqual(self.send_to(33, "create : ats-qsig-b : { slot 30, subslot 1 }"), "success")
        self.assertEqual(self.send_to(30, "destroy : NULL"), "success")
        self.assertEqual(self.send_to(34, QSIG), "success")
        self.assertEqual(self.send_to(35, "create : ats-qsig-b : { slot 34, subslot 1 }"), "success")
        for channel in (qsig, bchannel):
            self.assertNotIn(self.switch(channel), old, "%d hears the old call" % channel)


if __name__ == "__main__":
    vx.main()
