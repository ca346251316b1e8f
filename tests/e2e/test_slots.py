"""The slot table end to end: trunk, BRI trunk and map slots on the wire, and connect targets
beyond the table. The command builders serve the other end-to-end tests too."""

import time

import vxharness as vx
from test_hardware import Board, Reader

ACTIVATE = 6
RECEIVER, TRANSMITTER = 9, 10
CREATE_TRUNK, CREATE_TRUNK_BRI, CREATE_MAP = 7, 8, 9


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


class Slots(vx.DaemonTest):
    def setUp(self):
        self.board = Board(self.daemon)
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

    def test_slots_report_their_streams_after_the_answer(self):
        self.c.send(create_trunk(10, 1, 5, seq=1))
        self.c.send(create_trunk(11, 2, 3, bri=True, seq=2))
        self.c.send(create_map(12, rx=(1, 2), seq=3))
        self.c.send(create_map(13, tx=(0, 1), rx=(15, 127), seq=4))
        self.assertEqual(self.events(11), [
            ("success", 1, 10), ("transmitter", 10, 37), ("receiver", 10, 37),
            ("success", 2, 11), ("transmitter", 11, 11), ("receiver", 11, 11),
            ("success", 3, 12), ("receiver", 12, 8322),
            ("success", 4, 13), ("receiver", 13, 10239), ("transmitter", 13, 8193)])
        # A target beyond the table (read as 16 bits) is refused before any lookup.
        self.c.send(connect(10, 1024, seq=5))
        self.c.send(connect(10, 65535, seq=6))
        self.assertEqual(self.events(2), [("error", vx.INVALID_SLOT, 5, 10), ("error", vx.INVALID_SLOT, 6, 10)])


if __name__ == "__main__":
    vx.main()
