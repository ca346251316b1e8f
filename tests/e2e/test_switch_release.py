"""Switch routes when a controller channel is released or a link's trunk timeslot changes hands,
end to end on voxrelay-sim with far ends tied to the trunk timeslots: the old timeslot hears a
released channel's last frames and nothing of its next owner, a takedown the switch refused
is done later, and a primary-rate or SS7 link goes on hearing its trunk while the connection
that feeds it stands."""

import os
import socket
import tempfile
import time

import vxharness as vx
import test_signalling as sig
from test_slots import activate, connect, create_map, create_trunk

GRACE = 0.5  # the switch's grace for a released channel's last frames
SIG_ACTIVATED = sig.SIG_ACTIVATED

# LAPD on a primary-rate D channel, user side (ours) against a network side (the far end).
SABME, UA = bytes([0x00, 0x01, 0x7F]), bytes([0x00, 0x01, 0x73])


def is_disc(frame):
    return len(frame) == 3 and frame[2] & 0xEF == 0x43


def i_frame(ns, payload):
    """A network-side I frame (command) with send number ns, acknowledging nothing."""
    return bytes([0x02, 0x01, ns << 1, 0x00]) + payload


# SS7 level 2: status units of the far end and a message unit in sequence.
SIE, FISU = bytes([0xFF, 0xFF, 0x01, 0x02]), bytes([0xFF, 0xFF, 0x00])


def msu(fsn, payload):
    return bytes([0xFF, 0x80 | fsn, len(payload)]) + payload


class FarEnd(sig.SocketPeer):
    """A far end tied to a switch channel, played by the test."""

    def __init__(self, board, channel, path):
        super().__init__(path)
        self.board, self.channel = board, channel
        board.ask("tie %d %s" % (channel, path))
        self.accept()

    def send(self, frame):
        self.conn.send(frame)

    def gather(self, seconds):
        """Every frame that arrives within seconds."""
        frames, deadline = [], time.monotonic() + seconds
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return frames
            self.conn.settimeout(left)
            try:
                frames.append(self.conn.recv(65536))
            except socket.timeout:
                return frames

    def wait(self, pred, timeout=3.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for f in self.gather(min(0.1, deadline - time.monotonic())):
                if pred(f):
                    return f
        raise AssertionError("no such frame from the link at %d" % self.channel)

    def close(self):
        if self.conn:
            self.board.ask("untie %d" % self.channel)
        super().close()
        self.conn = None


class SwitchRelease(sig.SignallingCase):
    def far_end(self, channel):
        return FarEnd(self.board, channel, os.path.join(self.dir, "far%d-%d" % (channel, self.seq)))

    def leave(self, far, *slots):
        """Destroys what a case made, whether or not it got that far."""
        for slot in slots:
            self.command(lambda s: sig.destroy(slot, s))
        far.close()
        # (The next case finds its channel by what opens.)
        self.assertTrue(vx.wait_for(lambda: not self.open_channels(), 3), "a channel is still kept")

    def switch(self, channel):
        return self.board.ask("switch %d" % channel)

    def new_channel(self, before):
        (channel,) = self.open_channels() - before
        return channel

    def link_both_ways(self, trunk, timeslot, ss7=False):
        """Trunk slot 1 on the trunk's timeslot and a link (slot 2) connected to it both ways; the
        link's controller channel."""
        before = self.open_channels()
        self.ok(lambda s: create_trunk(1, trunk, timeslot, seq=s))
        if ss7:
            self.ok(lambda s: sig.create_pstn_ss7(2, trunk=2, emergency=True, seq=s))
        else:
            self.ok(lambda s: sig.create_pstn_isdn(2, bri=False, trunk=2, network=False, seq=s))
        self.ok(lambda s: connect(1, 2, seq=s))
        self.ok(lambda s: connect(2, 1, seq=s))
        return self.new_channel(before)

    def link_up(self, far, slot, ss7):
        """Our link on far's timeslot brought into service by the far end."""
        if ss7:
            far.wait(lambda f: len(f) == 4 and f[3] == 0)  # SIO: aligning
            far.send(SIE)
            far.send(FISU)
        else:
            far.wait(lambda f: f == SABME)
            far.send(UA)
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, slot))

    def test_the_old_timeslot_hears_a_released_channels_last_frames_and_none_of_its_next_owner(self):
        for old in ("hdlc", "pri"):
            with self.subTest(old):
                far = self.far_end(33)
                try:
                    self.old_timeslot_case(far, old)
                finally:
                    self.leave(far, 3, 2, 1)

    def old_timeslot_case(self, far, old):
        before = self.open_channels()
        self.ok(lambda s: create_trunk(1, 1, 1, seq=s))
        if old == "hdlc":
            self.ok(lambda s: sig.create_hdlc(2, trunk=2, address=1, seq=s))
            self.ok(lambda s: connect(1, 2, seq=s))
        else:
            self.ok(lambda s: sig.create_pstn_isdn(2, bri=False, trunk=2, network=False, seq=s))
            self.ok(lambda s: connect(1, 2, seq=s))
            self.ok(lambda s: connect(2, 1, seq=s))
            self.link_up(far, 2, ss7=False)
        channel = self.new_channel(before)
        self.assertEqual(self.switch(33), "connected %d" % channel)

        self.ok(lambda s: sig.destroy(2, s))
        self.ok(lambda s: sig.create_isdn(3, bri=False, trunk=2, network=False, seq=s))
        self.ok(lambda s: activate(3, seq=s))
        heard = far.gather(GRACE + 0.3)
        self.assertNotIn(SABME, heard, "the next owner's link heard on the old timeslot")
        if old == "pri":
            self.assertTrue(any(is_disc(f) for f in heard), heard)
        # The link's sink was disconnected meanwhile: idle once the grace is over.
        self.assertEqual(self.switch(33), "disabled" if old == "hdlc" else "constant 213")
        self.assertNotIn(channel, self.open_channels())

    def test_a_channel_the_board_takes_back_during_its_grace_feeds_no_new_owner(self):
        far = self.far_end(33)
        try:
            before = self.open_channels()
            self.ok(lambda s: create_trunk(1, 1, 1, seq=s))
            self.ok(lambda s: sig.create_hdlc(2, trunk=2, address=1, seq=s))
            self.ok(lambda s: connect(1, 2, seq=s))
            channel = self.new_channel(before)
            self.ok(lambda s: sig.destroy(2, s))
            # Within the grace for its last frames (unless the machine is slow).
            self.board.ask("hangup mcc")
            self.ok(lambda s: sig.create_isdn(3, bri=False, trunk=2, network=False, seq=s))
            self.assertIn(channel, self.open_channels(), "the number went to the new slot")
            self.assertNotEqual(self.switch(33), "connected %d" % channel, "the new slot drives the old timeslot")
        finally:
            self.leave(far, 3, 1)

    def test_a_route_the_switch_refused_to_take_down_is_taken_down_when_it_can(self):
        before = self.open_channels()
        self.ok(lambda s: create_trunk(4, 0, 3, seq=s))
        self.ok(lambda s: sig.create_hdlc(5, trunk=1, address=1, seq=s))
        self.ok(lambda s: connect(4, 5, seq=s))
        channel = self.new_channel(before)
        self.assertEqual(self.switch(channel), "connected 3")
        self.board.ask("fail hal EBUSY 1000000")
        try:
            self.ok(lambda s: sig.destroy(5, s))
            self.assertTrue(vx.wait_for(lambda: "hwMux: disable failed %d" % channel in self.daemon.output()))
            self.assertEqual(self.switch(channel), "connected 3")
            # Nobody is given the channel while it is still patched.
            self.ok(lambda s: sig.create_isdn(6, bri=False, trunk=1, network=False, seq=s))
            self.assertIn(channel, self.open_channels())
            self.assertEqual(len(self.open_channels() - before), 2)
        finally:
            self.board.ask("fail hal none")
        self.assertTrue(vx.wait_for(lambda: self.switch(channel) == "disabled", 3), self.switch(channel))
        self.assertTrue(vx.wait_for(lambda: self.switch(3) == "disabled", 3), self.switch(3))
        self.assertTrue(vx.wait_for(lambda: channel not in self.open_channels(), 3))
        for slot in (6, 4):
            self.ok(lambda s: sig.destroy(slot, s))

    def test_a_grace_that_ends_while_the_switch_refuses_still_ends(self):
        # Busy or finding the requests invalid: the takedown at the end of the grace is owed,
        # never turned back into the released channel's route.
        for error in ("EINVAL", "EBUSY"):
            with self.subTest(error):
                try:
                    channel = self.link_both_ways(0, 4)
                    self.assertEqual(self.switch(4), "connected %d" % channel)
                    # Refusals that outlast the grace: until the takedown at its end was refused.
                    self.board.ask("clear-requests")
                    self.board.ask("fail hal %s 1000000" % error)
                    self.ok(lambda s: sig.destroy(2, s))
                    self.assertTrue(vx.wait_for(lambda: sum(vx.refused(self.board, "hal", name, 4)
                                                            for name in ("MUX_WRITE", "MUX_DISABLE")) >= 1))
                    self.board.ask("fail hal none")
                    self.assertTrue(vx.wait_for(lambda: self.switch(4) != "connected %d" % channel, 5),
                                    self.switch(4))
                    self.assertTrue(vx.wait_for(lambda: channel not in self.open_channels(), 3))
                    time.sleep(0.3)
                    self.assertNotIn(str(channel), self.switch(4))
                    self.assertEqual(self.switch(channel), "disabled")
                finally:
                    self.board.ask("fail hal none")
                    for slot in (2, 1):
                        self.command(lambda s: sig.destroy(slot, s))

    def test_a_link_hears_its_trunk_whatever_the_trunk_takes_its_input_from(self):
        for ss7 in (False, True):
            for other_source in (False, True):
                with self.subTest(ss7=ss7, other_source=other_source):
                    far = self.far_end(48)
                    try:
                        self.a_link_hears_its_trunk(far, ss7, other_source)
                    finally:
                        self.leave(far, 2, 3, 1)

    def a_link_hears_its_trunk(self, far, ss7, other_source):
        channel = self.link_both_ways(1, 16, ss7)
        self.link_up(far, 2, ss7)
        payloads = [bytes([0x08, 0x02, 0x00, n, 0x75]) for n in (1, 2)]
        frames = [msu(n, p) if ss7 else i_frame(n, p) for n, p in enumerate(payloads)]
        far.send(frames[0])
        self.ev.wait(lambda e: e == ("userData", 2, payloads[0]))

        if other_source:
            self.ok(lambda s: create_trunk(3, 2, 5, seq=s))
            self.ok(lambda s: connect(3, 1, seq=s))
            self.assertEqual(self.switch(48), "connected 69")
        else:
            self.ok(lambda s: vx.command(vx.DISCONNECT, seq=s, slot=1))
            self.assertEqual(self.switch(48), "constant 213")
        time.sleep(GRACE + 0.2)
        self.assertEqual(self.switch(channel), "connected 48")
        far.send(frames[1])
        self.ev.wait(lambda e: e == ("userData", 2, payloads[1]), 3)

        # The link's own release still leaves nothing of its channel.
        self.ok(lambda s: sig.destroy(2, s))
        self.assertEqual(self.switch(channel), "disabled")
        self.assertTrue(vx.wait_for(lambda: channel not in self.open_channels(), 3))

    def primary_rate_link(self, far):
        """A primary-rate link on trunk slot 1 (trunk 1, timeslot 16), connected both ways and in
        service; its controller channel."""
        channel = self.link_both_ways(1, 16)
        self.link_up(far, 2, False)
        return channel

    def reaches_far_end(self, far, n):
        payload = bytes([0x08, 0x02, 0x00, n, 0x75])
        self.ok(lambda s: sig.user_data(2, payload, seq=s))
        far.wait(lambda f: len(f) > 4 and f[4:] == payload)

    def test_a_link_connected_back_to_its_trunk_slot_sends_there_again(self):
        for between in ("disconnect", "data slot"):
            with self.subTest(between=between):
                far = self.far_end(48)
                try:
                    channel = self.primary_rate_link(far)
                    if between == "disconnect":
                        self.ok(lambda s: vx.command(vx.DISCONNECT, seq=s, slot=1))
                    else:
                        self.ok(lambda s: sig.create_hdlc(3, 2, 4660, seq=s))
                        self.ok(lambda s: connect(3, 1, seq=s))
                    self.assertNotEqual(self.switch(48), "connected %d" % channel)
                    self.ok(lambda s: connect(2, 1, seq=s))
                    self.assertEqual(self.switch(48), "connected %d" % channel)
                    self.reaches_far_end(far, 1)
                finally:
                    self.leave(far, 3, 2, 1)

    def test_a_source_the_link_refuses_leaves_it_in_service(self):
        far = self.far_end(48)
        try:
            channel = self.primary_rate_link(far)
            self.ok(lambda s: create_map(4, tx=(1, 3), seq=s))
            self.assertEqual(self.command(lambda s: connect(4, 2, seq=s))[0], "error")
            self.assertFalse([f for f in far.gather(GRACE) if is_disc(f)], "the far end got a DISC")
            self.assertEqual((self.switch(channel), self.switch(48)), ("connected 48", "connected %d" % channel))
            self.reaches_far_end(far, 2)
            self.assertFalse([e for e in self.ev.seen if e[:3] == ("signal", sig.SIG_DEACTIVATED, 2)])
        finally:
            self.leave(far, 4, 2, 1)


if __name__ == "__main__":
    vx.main()
