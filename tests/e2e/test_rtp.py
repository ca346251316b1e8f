"""RTP slots end to end: tone events of a session's channel arrive at the controller as signals,
the simulated board driven through its text socket and the commands PER-encoded by hand. The
helpers (PER pieces, the board's RTP listings, a controller session per test) serve the radio
tests too."""

import socket

import vxharness as vx
from test_hardware import Board as HardwareBoard, Reader
from test_slots import _slot_command

IOCTL = 9
SIG_TONEC, SIG_RECEIVER, SIG_TRANSMITTER = 1, 9, 10
G711_ULAW = 1               # Payload
DTMF_ENABLE, VAD_ENABLE = 11, 18   # IoctlParams alternatives
FIRST_CHANNEL = 2048


def ranged(b, value, lo, hi):
    """A constrained whole number, as aligned PER lays out its range."""
    span, v = hi - lo + 1, value - lo
    if span < 256:
        b.put(v, (span - 1).bit_length())
    elif span == 256:
        b.octets(bytes([v]))
    elif span <= 65536:
        b.octets(v.to_bytes(2, "big"))
    else:
        n = max(1, (v.bit_length() + 7) // 8)
        b.put(n - 1, 2)
        b.octets(v.to_bytes(n, "big"))


def text(b, s):
    b.octets(bytes([len(s)]) + s.encode())


def host(b, addr, port):
    text(b, addr)
    ranged(b, port, 0, 65535)


def create_rtp(slot, payload, dport, seq=1):
    def body(w):
        w.put(0, 1)          # CreateParams: in the root
        w.put(4, 5)          # rtp
        w.put(0, 1)          # CreateRtpParams: no extension
        w.put(0, 14)         # RtpParams: no extension, no optional field
        w.put(payload, 4)
        host(w, "127.0.0.1", dport)
        w.put(payload, 4)    # tx
        w.put(payload, 4)    # rx
    return _slot_command(vx.CREATE, slot, seq, body)


def ioctl(slot, alt, value=None, seq=1):
    def body(b):
        b.put(0, 1)          # IoctlParams: in the root
        b.put(alt, 6)
        if alt in (DTMF_ENABLE, VAD_ENABLE):
            b.put(value, 1)
    return _slot_command(IOCTL, slot, seq, body)


def message_start(payload):
    """A reader past the sequence number and slot of a message, the slot, and whether the message
    is a signal."""
    r = Reader(payload)
    slot, is_signal = vx.read_message_start(r)
    return r, slot, is_signal


def parse_signal(payload):
    """(slot, alternative, fields) of a signal; fields decoded for the alternatives used here."""
    r, slot, is_signal = message_start(payload)
    assert is_signal, "not a signal"
    assert r.take(1) == 0
    alt = r.take(5)
    f = {}
    if alt in (SIG_RECEIVER, SIG_TRANSMITTER):
        f["active"] = r.integer() if r.take(1) else None
    elif alt == SIG_TONEC:
        f["timestamp"] = r.integer()
        if r.take(1):
            f["event"] = "extension"
        else:
            kind = r.take(3)
            f["event"] = ["dtmf", "r1", "ced", "cng", "iva", "tone-presence"][kind]
            if kind == 0:
                f["dtmf"] = r.take(7)
            elif kind == 5:
                f["freq"] = r.integer()
                f["presence"] = r.take(1)
    return slot, alt, f


def numbered(lines):
    """Listing lines "<number> <name>=<value> ..." as a dict of dicts by number."""
    out = {}
    for line in lines:
        number, *fields = line.split()
        out[int(number)] = dict(f.split("=", 1) for f in fields)
    return out


class Board(HardwareBoard):
    listings = HardwareBoard.listings + ("records", "rtp-sessions")

    def records(self, name, max_count=100):
        return [line.split(" -> ")[0] for line in self.ask("records rtp %s %d" % (name, max_count))]

    def sessions(self):
        """The RTP sessions by channel, each a dict of its fields."""
        return numbered(self.ask("rtp-sessions"))


def udp_port():
    """A free UDP port."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SessionTest(vx.DaemonTest):
    """A controller and the simulated board for each test; signals that come before an answer are
    kept for signal(). `parse` gives (slot, alternative, value) of a kept frame."""
    board_class = Board

    def setUp(self):
        self.board = self.board_class(self.daemon)
        self.board.ask("clear-requests")
        self.c = self.daemon.connect()
        self.pending = []
        self.seq = 0

    def tearDown(self):
        # The controller's loss destroys every slot it made.
        self.c.close()
        vx.wait_for(lambda: not self.board.sessions())
        self.board.ask("rtp-capacity 128")
        self.board.close()

    def answer(self, payload):
        """The answer to one command: "success" or the error cause; signals are kept."""
        m = vx.answer_keeping_signals(self.c, payload, self.pending)
        self.assertIsNotNone(m)
        return m[2] if m[2] == "success" else m[3]

    def signal(self, alternative, timeout=5.0):
        """(slot, value) of the next signal of that alternative; others before it are dropped."""
        found = vx.wait_signal(self.c, self.pending, self.parse, lambda p: p[1] == alternative, timeout)
        return None if found is None else (found[0], found[2])


class Rtp(SessionTest):
    @staticmethod
    def parse(frame):
        return parse_signal(frame) if vx.parse_message(frame)[2] == "signal" else (None, None, None)

    def test_tone_and_dtmf_events_arrive_as_tonec_signals(self):
        self.assertEqual(self.answer(create_rtp(9, G711_ULAW, udp_port() - 1)), "success")
        ch = FIRST_CHANNEL
        self.assertEqual(self.answer(ioctl(9, DTMF_ENABLE, 1)), "success")
        self.assertEqual(self.board.ask("dtmf %d 5 77" % ch), "1")
        self.assertEqual(self.signal(SIG_TONEC), (9, {"timestamp": 77, "event": "dtmf", "dtmf": 5}))
        self.board.ask("dtmf %d 17 78" % ch)
        self.assertEqual(self.signal(SIG_TONEC), (9, {"timestamp": 78, "event": "ced"}))
        self.board.ask("dtmf %d 0x0500" % ch)
        self.assertEqual(self.signal(SIG_TONEC)[1]["event"], "iva")
        # A tone filter report (frequency 2100, present), read once the DSP features are in use.
        self.assertEqual(self.answer(ioctl(9, VAD_ENABLE, 1)), "success")
        self.board.ask("dsp-event %d 256 0000083400000001" % ch)
        self.assertEqual(self.signal(SIG_TONEC), (9, {"timestamp": 0, "event": "tone-presence", "freq": 2100,
                                                      "presence": 1}))


if __name__ == "__main__":
    vx.main()
