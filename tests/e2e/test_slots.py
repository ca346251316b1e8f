"""The slot table end to end: trunk, BRI trunk and map slots created, connected, disconnected
and destroyed by a controller, the switch paths they leave on the simulated board, the
resource report on "query" and on SIGHUP, and a controller that drops with slots in place."""

import signal
import time
import unittest

import vxharness as vx
from test_hardware import Board, Reader

ACTIVATE = 6
INSUFFICIENT_RESOURCES, CONNECT_FAIL = 1, 9
RECEIVER, TRANSMITTER = 9, 10
CREATE_TRUNK, CREATE_TRUNK_BRI, CREATE_MAP = 7, 8, 9
FIRST_OUTPUT = 8192


def _slot_command(alt, slot, seq, body):
    return vx.command_with(alt, body, seq, slot)


def _create(kind, slot, seq, body):
    def params(b):
        b.put(0, 1)          # CreateParams: in the root (19 alternatives)
        b.put(kind, 5)
        body(b)
    return _slot_command(vx.CREATE, slot, seq, params)


def create_trunk(slot, trunk, timeslot, bri=False, seq=1):
    def body(b):
        b.octets(bytes([trunk]))  # 0..255: one aligned octet
        b.put(timeslot, 5)        # 0..31
    return _create(CREATE_TRUNK_BRI if bri else CREATE_TRUNK, slot, seq, body)


def create_map(slot, tx=None, rx=None, seq=1):
    """tx and rx: (bus, channel) or None."""
    def body(b):
        b.put(tx is not None, 1)
        b.put(rx is not None, 1)
        for ch in (tx, rx):
            if ch is not None:
                b.put(ch[0], 4)
                b.put(ch[1], 7)
    return _create(CREATE_MAP, slot, seq, body)


def connect(slot, target, seq=1):
    return _slot_command(vx.CONNECT, slot, seq, lambda b: b.octets(target.to_bytes(2, "big")))


def activate(slot, seq=1):
    def body(b):
        b.put(0, 1)          # TermActivateParams: in the root
        b.put(0, 2)          # empty
    return _slot_command(ACTIVATE, slot, seq, body)


def event(payload):
    """('success', seq, slot), ('error', cause, seq, slot), ('receiver' or 'transmitter', slot,
    channel or None) or ('signal', alternative, slot)."""
    seq, slot, kind, value = vx.parse_message(payload)
    if kind == "success":
        return ("success", seq, slot)
    if kind == "error":
        return ("error", value, seq, slot)
    if value in (RECEIVER, TRANSMITTER):
        r = Reader(payload)
        r.take(2)
        if slot is not None:
            r.align()
            r.take(16)
        r.take(2 + 1 + 5)    # PDU, extension bit, alternative
        active = r.take(1)
        return ("receiver" if value == RECEIVER else "transmitter", slot, r.integer() if active else None)
    return ("signal", value, slot)


class SlotBoard(Board):
    listings = Board.listings + ("connections",)

    def outputs(self):
        """The bus outputs that are not disabled: {output: 'connected <source>' | 'constant <byte>'}."""
        out = {}
        for line in self.ask("connections"):
            ch, what = line.split(" ", 1)
            if int(ch) >= FIRST_OUTPUT:
                out[int(ch)] = what
        return out


class Slots(vx.DaemonTest):
    def setUp(self):
        self.board = SlotBoard(self.daemon)
        self.c = self.daemon.connect()

    def tearDown(self):
        self.c.close()
        self.board.close()
        # The next test's controller waits for the daemon to let this one go.
        time.sleep(0.05)

    def events(self, n, timeout=5.0):
        """The next n answers and stream signals; the board's own signals (trunk status, load)
        are passed over."""
        out = []
        while len(out) < n:
            payload = self.c.raw_frame(timeout)
            self.assertIsNotNone(payload, "controller connection closed")
            e = event(payload)
            if e[0] != "signal" or e[1] == 0:
                out.append(e)
        return out

    def test_trunk_bri_and_map_slots_report_their_streams_after_the_answer(self):
        self.c.send(create_trunk(10, 1, 5, seq=1))
        self.c.send(create_trunk(11, 2, 3, bri=True, seq=2))
        self.c.send(create_map(12, rx=(1, 2), seq=3))
        self.c.send(create_map(13, tx=(0, 1), rx=(15, 127), seq=4))
        self.assertEqual(self.events(11), [
            ("success", 1, 10), ("transmitter", 10, 37), ("receiver", 10, 37),
            ("success", 2, 11), ("transmitter", 11, 11), ("receiver", 11, 11),
            ("success", 3, 12), ("receiver", 12, 8322),
            ("success", 4, 13), ("receiver", 13, 10239), ("transmitter", 13, 8193)])
        # No fifth trunk, no fifth BRI channel, no slot kind for activate.
        self.c.send(create_trunk(14, 4, 0, seq=5))
        self.c.send(create_trunk(14, 2, 4, bri=True, seq=6))
        self.c.send(activate(10, seq=7))
        self.assertEqual(self.events(3), [("error", INSUFFICIENT_RESOURCES, 5, 14),
                                          ("error", INSUFFICIENT_RESOURCES, 6, 14), ("error", 6, 7, 10)])
        for n in (10, 11, 12, 13):
            self.c.send(vx.command(vx.DESTROY, seq=20 + n, slot=n))
        self.assertEqual(self.events(4), [("success", 20 + n, n) for n in (10, 11, 12, 13)])

    def test_connect_and_disconnect_show_in_the_switch_table(self):
        self.c.send(create_trunk(20, 0, 7, seq=1))
        self.c.send(create_map(21, rx=(0, 5), seq=2))
        self.c.send(create_map(22, rx=(0, 6), seq=3))
        self.events(7)
        # Streams are already active: the answers come without signals.
        self.c.send(connect(20, 21, seq=4))
        self.c.send(connect(20, 22, seq=5))
        self.c.send(connect(21, 20, seq=6))  # a map slot without transmitter is no source
        self.assertEqual(self.events(3), [("success", 4, 20), ("success", 5, 20), ("error", CONNECT_FAIL, 6, 21)])
        self.assertEqual(self.board.outputs(), {8197: "connected 7", 8198: "connected 7"})

        self.c.send(vx.command(vx.DISCONNECT, seq=7, slot=21))
        self.c.send(vx.command(vx.DISCONNECT, seq=8, slot=21))  # no source any more: success
        self.assertEqual(self.events(2), [("success", 7, 21), ("success", 8, 21)])
        self.assertEqual(self.board.outputs(), {8197: "constant 213", 8198: "connected 7"})

        # Destroying the source takes its sink off; destroying a map slot disables its output.
        self.c.send(vx.command(vx.DESTROY, seq=9, slot=20))
        self.c.send(vx.command(vx.DESTROY, seq=10, slot=21))
        self.c.send(vx.command(vx.DESTROY, seq=11, slot=22))
        self.assertEqual(self.events(3), [("success", 9, 20), ("success", 10, 21), ("success", 11, 22)])
        self.assertEqual(self.board.outputs(), {})

    def test_destroy_replace_and_missing_slots(self):
        self.c.send(create_trunk(30, 3, 2, seq=1))
        self.events(3)
        # A second create on the number replaces the slot: one answer; so does a second slot
        # on the same timeslot, which frees the first number.
        self.c.send(create_trunk(30, 3, 3, seq=2))
        self.c.send(create_trunk(31, 3, 3, seq=3))
        self.assertEqual(self.events(6), [
            ("success", 2, 30), ("transmitter", 30, 99), ("receiver", 30, 99),
            ("success", 3, 31), ("transmitter", 31, 99), ("receiver", 31, 99)])
        self.assertIn("trunk-slot: two slots require the same timeslot, remove old.", self.daemon.output())
        # Pipelined in one segment: the second destroy finds the number free.
        self.c.send_raw(vx.tpkt(vx.command(vx.DESTROY, seq=4, slot=31)) + vx.tpkt(vx.command(vx.DESTROY, seq=5, slot=31)))
        self.c.send(vx.command(vx.DESTROY, seq=6, slot=30))
        self.c.send(connect(31, 999, seq=7))
        # A target beyond the table (the field is read as 16 bits) is refused before any lookup.
        self.c.send(connect(31, 1024, seq=8))
        self.c.send(connect(31, 65535, seq=9))
        self.assertEqual(self.events(6), [("success", 4, 31), ("error", vx.SLOT_NOT_EXISTS, 5, 31),
                                          ("error", vx.SLOT_NOT_EXISTS, 6, 30),
                                          ("error", vx.SLOT_NOT_EXISTS, 7, 31),
                                          ("error", vx.INVALID_SLOT, 8, 31), ("error", vx.INVALID_SLOT, 9, 31)])

    def test_query_and_sighup_send_the_resources(self):
        self.c.send(vx.command(vx.QUERY, seq=3))
        self.assertEqual(self.events(2), [("success", 3, None), ("signal", 0, None)])
        self.daemon.signal(signal.SIGHUP)
        self.assertEqual(self.events(1), [("signal", 0, None)])
        self.assertTrue(vx.wait_for(lambda: "update hardware resources" in self.daemon.output()))

    def test_a_controller_that_drops_takes_every_slot_with_it(self):
        self.c.send(create_trunk(40, 2, 1, seq=1))
        self.c.send(create_map(41, tx=(2, 4), rx=(2, 3), seq=2))
        self.c.send(create_map(42, rx=(3, 0), seq=3))
        self.c.send(connect(40, 41, seq=4))
        self.c.send(connect(40, 42, seq=5))
        self.c.send(connect(41, 40, seq=6))
        self.assertEqual([e[0] for e in self.events(11)][-3:], ["success"] * 3)
        self.assertEqual(self.board.outputs(), {8451: "connected 65", 8576: "connected 65"})
        self.assertEqual(self.board.ask("switch 65"), "connected 8452")

        self.c.close()
        self.assertTrue(vx.wait_for(lambda: self.board.outputs() == {}), self.board.outputs())
        self.assertEqual(self.board.ask("switch 65"), "constant 213")
        # The numbers are free for the next controller.
        self.c = self.daemon.connect()
        self.c.send(create_map(41, rx=(2, 3), seq=7))
        self.assertEqual(self.events(2), [("success", 7, 41), ("receiver", 41, 8451)])
        self.c.send(vx.command(vx.DESTROY, seq=8, slot=41))
        self.assertEqual(self.events(1), [("success", 8, 41)])


if __name__ == "__main__":
    vx.main()
