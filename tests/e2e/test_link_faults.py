"""Signalling links whose channel fails, or whose activation the board refuses, against libpri
and libss7 as far ends: the controller hears "deactivated" at once and once, the link's record
says it is down, "activate" answers success only when the link got a channel, and once the
fault clears an activation brings the link back and a call or a link test gets through."""

import resource

import vxharness as vx
from test_hardware import Reader
from test_resources import leave_free_descriptors
import test_signalling as sig
from test_signalling import (SIG_ACTIVATED, SIG_DEACTIVATED, SS7_LINK_INFO, SS7_WORKED, STATUS_ENQUIRY_PRI,
                             ANSWERS, SETUP, create_ats_qsig, create_isdn, create_pstn_isdn, destroy, user_data)
from test_slots import activate, connect, create_trunk

UNSUPPORTED = 6
ISDN_LINK_INFO, HDLC_LINK_INFO = 5, 6
TEI_ASSIGNED, MULTIPLE_FRAME_ESTABLISHED = 3, 6
# A SABME from the user side (TEI 0, P = 1) as the far end receives it.
SABME_FROM_USER = "rx 00017F"


def event(payload):
    """As the signalling test reads them, with the LAPD state of an isdnLinkInfo record:
    ('ioctl', slot, ISDN_LINK_INFO, state)."""
    e = sig.event(payload)
    if e[0] != "ioctl" or e[2] != ISDN_LINK_INFO:
        return e
    r = Reader(payload)
    vx.read_signal_start(r)
    r.take(4)               # the alternative
    r.take(1)               # side
    for _ in range(10):     # the counters before the state
        r.integer()
    return ("ioctl", e[1], ISDN_LINK_INFO, r.take(3))


class Events(sig.Events):
    decode = staticmethod(event)


class LinkFaults(sig.SignallingCase):
    def setUp(self):
        super().setUp()
        self.ev = Events(self.c)

    # -- helpers

    def refused(self, slot):
        """An activation the board refuses: "unsupported", and "deactivated" once. The LAPD
        state the link reported with it, if any."""
        self.ev.seen.clear()
        answer = self.command(lambda s: activate(slot, seq=s))
        self.assertEqual(answer[:2], ("error", UNSUPPORTED), answer)
        return self.down(slot)

    def down(self, slot, timeout=3):
        """Waits for "deactivated": the LAPD state of the record sent with it, or None."""
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_DEACTIVATED, slot), timeout, keep_earlier=True)
        states = [e[3] for e in self.ev.seen if e[:3] == ("ioctl", slot, ISDN_LINK_INFO)]
        self.ev.seen.clear()
        return states[-1] if states else None

    def no_more_deactivated(self, slot, rounds, kind, worked):
        """The next statistics rounds: the link's record never says it works again, and no
        second "deactivated" comes. (An ISDN record goes out only when it changed: a round is
        then marked by the channel's record.)"""
        mark = kind if kind == SS7_LINK_INFO else HDLC_LINK_INFO
        records = [self.ev.wait(lambda e: e[:3] == ("ioctl", slot, mark), 5, keep_earlier=True)
                   for _ in range(rounds)]
        records += [e for e in self.ev.seen if e[:3] == ("ioctl", slot, kind)]
        for info in records:
            if info[2] == kind:
                self.assertNotEqual(info[3][-1] if kind == SS7_LINK_INFO else info[3], worked, info)
        self.assertNotIn(("signal", SIG_DEACTIVATED, slot), self.ev.seen)

    def short_of_descriptors(self):
        """The daemon's soft limit lowered so that no descriptor is free; a function that
        raises it again."""
        pid = self.daemon.pid()
        soft, hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)
        leave_free_descriptors(self, pid)
        return lambda: resource.prlimit(pid, resource.RLIMIT_NOFILE, (soft, hard))

    # -- tests

    def test_a_refused_reactivation_takes_an_ss7_link_out_of_service(self):
        """Refused at the channel, at its route, or for want of a descriptor, the activation
        leaves the link idle instead of worked on no channel; the next one realigns it with
        libss7 on a new channel."""
        def shortage():
            restore = self.short_of_descriptors()
            self.addCleanup(restore)
            return restore

        faults = (("fail mcc EIO 1", "fail mcc none"), ("fail hal EIO 2 MUX_CONNECT", "fail hal none"), (shortage, None))
        for n, (fault, clear) in enumerate(faults):
            trunk_slot, slot, timeslot = 40 + 2 * n, 41 + 2 * n, 16 + n
            peer, before, channel = self.ss7_link(trunk_slot, slot, timeslot)
            mark = peer.mark()
            restore = fault() if callable(fault) else self.board.ask(fault)
            self.refused(slot)
            if callable(restore):
                restore()
            else:
                self.board.ask(clear)
            self.no_more_deactivated(slot, 2, SS7_LINK_INFO, SS7_WORKED)

            self.ok(lambda s: activate(slot, seq=s))
            self.ss7_up(peer, slot, mark)
            self.assertGreater(peer.count(lambda l: l == "down", mark), 0, "libss7 saw the link realign")
            self.assertTrue(vx.wait_for(lambda: len(self.open_channels() - before) == 1), self.channels())
            (channel,) = self.open_channels() - before
            self.destroy_frees(slot, channel)
            self.ok(lambda s: destroy(trunk_slot, s))

    def pri_link(self, trunk_slot, slot, timeslot):
        """A primary-rate user-side link against libpri: the peer and the open channels before it."""
        peer = self.lapd_peer(timeslot, "network", "pri")
        before = self.open_channels()
        self.ok(lambda s: create_trunk(trunk_slot, 0, timeslot, seq=s))
        self.ok(lambda s: create_pstn_isdn(slot, bri=False, trunk=1, network=False, seq=s))
        self.ok(lambda s: connect(trunk_slot, slot, seq=s))
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, slot))
        self.assertTrue(peer.wait(lambda l: l == "event 0 PRI_EVENT_DCHAN_UP"), peer.lines[-20:])
        return peer, before

    def back_up(self, peer, slot, mark):
        """After an activation: libpri heard our SABME, and both ways work again."""
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, slot), 5)
        self.assertTrue(peer.wait_since(mark, lambda l: l == SABME_FROM_USER, 5), peer.lines[-20:])
        self.ok(lambda s: user_data(slot, STATUS_ENQUIRY_PRI, seq=s))
        self.user_data_from(slot, 4, ANSWERS)
        peer.command("call")
        self.user_data_from(slot, 4, SETUP)

    def test_a_pri_link_whose_reactivation_is_refused_or_whose_channel_fails_goes_down_at_once(self):
        peer, before = self.pri_link(50, 51, 24)
        (channel,) = self.open_channels() - before

        # Refused: the link is released, not left established on no channel.
        mark = peer.mark()
        with vx.failing(self.board, "mcc", "EIO", "MCC_ALLOCATE"):
            self.assertEqual(self.refused(51), TEI_ASSIGNED)
        self.no_more_deactivated(51, 1, ISDN_LINK_INFO, MULTIPLE_FRAME_ESTABLISHED)
        self.assertTrue(vx.wait_for(lambda: channel not in self.open_channels()), self.channels())
        self.ok(lambda s: activate(51, seq=s))
        self.back_up(peer, 51, mark)

        # The channel fails under the established link: down now, not after 18 s of polls.
        (channel,) = self.open_channels() - before
        self.ev.seen.clear()
        self.assertEqual(self.board.ask("hdlc-hangup %d" % channel), "1")
        self.assertEqual(self.down(51), TEI_ASSIGNED)
        self.no_more_deactivated(51, 1, ISDN_LINK_INFO, MULTIPLE_FRAME_ESTABLISHED)
        mark = peer.mark()
        self.ok(lambda s: activate(51, seq=s))
        self.back_up(peer, 51, mark)
        (channel,) = self.open_channels() - before
        self.destroy_frees(51, channel)
        self.ok(lambda s: destroy(50, s))

    def test_isdn_and_ats_qsig_slots_that_lost_their_channel_take_a_new_one_on_activation(self):
        # An ISDN slot on a trunk timeslot, against libpri.
        peer = self.lapd_peer(88, "network", "pri")
        before = self.open_channels()
        self.ok(lambda s: create_trunk(60, 2, 24, seq=s))
        self.ok(lambda s: create_isdn(61, bri=False, trunk=3, network=False, seq=s))
        (channel,) = self.open_channels() - before
        self.ok(lambda s: connect(60, 61, seq=s))
        self.ok(lambda s: connect(61, 60, seq=s))
        self.ok(lambda s: activate(61, seq=s))
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, 61))

        self.ev.seen.clear()
        self.assertEqual(self.board.ask("hdlc-hangup %d" % channel), "1")
        self.assertEqual(self.down(61), TEI_ASSIGNED)
        with vx.failing(self.board, "mcc", "EIO", "MCC_ALLOCATE"):
            self.assertEqual(self.command(lambda s: activate(61, seq=s))[:2], ("error", UNSUPPORTED))
        mark = peer.mark()
        self.ok(lambda s: activate(61, seq=s))
        (channel,) = self.open_channels() - before
        # The loss took the slot's paths down: the controller connects the new channel.
        self.ok(lambda s: connect(60, 61, seq=s))
        self.ok(lambda s: connect(61, 60, seq=s))
        self.assertEqual(self.board.ask("switch 88"), "connected %d" % channel)
        self.back_up(peer, 61, mark)
        self.destroy_frees(61, channel)
        self.ok(lambda s: destroy(60, s))

        # An ATS-QSIG slot, network side, whose data device hangs up.
        before = self.open_channels()
        self.ok(lambda s: create_ats_qsig(62, network=True, seq=s))
        (channel,) = self.open_channels() - before
        peer = self.lapd_peer(channel, "cpe", "pri")
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, 62))
        self.ev.seen.clear()
        self.board.ask("hangup dsp-data")
        self.assertEqual(self.down(62), TEI_ASSIGNED)
        with vx.failing(self.board, "dsp-data", "EIO", "DSPDATA_TIMESLOT"):
            self.assertEqual(self.command(lambda s: activate(62, seq=s))[:2], ("error", UNSUPPORTED))
        self.assertNotIn(("signal", SIG_DEACTIVATED, 62), self.ev.seen, "said once")

        self.ok(lambda s: activate(62, seq=s))
        self.assertTrue(vx.wait_for(lambda: len(self.open_channels() - before) == 1), self.channels())
        (channel,) = self.open_channels() - before
        peer = self.lapd_peer(channel, "cpe", "pri")
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, 62), 10)
        self.assertTrue(peer.wait(lambda l: l == "event 0 PRI_EVENT_DCHAN_UP"), peer.lines[-20:])
        peer.command("call")
        self.user_data_from(62, 4, SETUP)
        self.destroy_frees(62, channel)


if __name__ == "__main__":
    vx.main()
