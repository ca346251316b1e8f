"""RTP slots end to end: created and destroyed by the controller over TCP with the RTCP packets
on the wire, and tone events arriving as signals, the simulated board inspected and driven
through its text socket. Commands are PER-encoded by hand; the device records the daemon passed
are compared byte for byte. The helpers serve the radio tests too."""

import socket
import struct

import vxharness as vx
from test_hardware import Board as HardwareBoard, Reader, _int
from test_slots import _slot_command

IOCTL = 9
SIG_TONEC, SIG_RECEIVER, SIG_TRANSMITTER = 1, 9, 10
# Payload
G711_ALAW, G711_ULAW, G729 = 0, 1, 3
DTMF_ENABLE = 11             # IoctlParams alternative
# The control protocol's PER sends an enumeration's value within 0 to its largest value.
DSCP_MAX = 56
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


def create_rtp(slot, payload, dport, daddr="127.0.0.1", shost=None, rx=None, tx=None, pfactor=None,
               vad=None, crate=None, ssrc=None, ttl=None, dscp=None, seq=1):
    def body(b):
        w = b
        w.put(0, 1)          # CreateParams: in the root
        w.put(4, 5)          # rtp
        w.put(0, 1)          # CreateRtpParams: no extension
        w.put(0, 1)          # RtpParams: no extension
        present = [shost, None, None, pfactor, crate, vad, None, None, None, ssrc, ttl, dscp]
        for v in present:
            w.put(v is not None, 1)
        w.put(payload, 4)
        host(w, daddr, dport)
        if shost is not None:
            host(w, *shost)
        if pfactor is not None:
            _int(w, pfactor)
        if crate is not None:
            _int(w, crate)
        if vad is not None:
            w.put(vad, 1)
        if ssrc is not None:
            ranged(w, ssrc, 0, 0xFFFFFFFF)
        if ttl is not None:
            ranged(w, ttl, 1, 255)
        if dscp is not None:
            ranged(w, dscp, 0, DSCP_MAX)
        w.put(payload if tx is None else tx, 4)
        w.put(payload if rx is None else rx, 4)
    return _slot_command(vx.CREATE, slot, seq, body)


def ioctl(slot, alt, value=None, seq=1):
    def body(b):
        b.put(0, 1)          # IoctlParams: in the root
        b.put(alt, 6)
        if alt == DTMF_ENABLE:
            b.put(value, 1)
    return _slot_command(IOCTL, slot, seq, body)


def session_block(remote, rport, local, lport, rx_pt, tx_pt, pfactor=0, vad=0, rate=0, ssrc=0, ttl=0,
                  dscp=0xFFFFFFFF):
    """The 44-byte begin-session block as the RTP device takes it, in hex."""
    return struct.pack(">4sH2x4sHHHHBB2xI8xII", socket.inet_aton(remote), rport, socket.inet_aton(local), lport,
                       rx_pt, tx_pt, pfactor, vad, rate, ssrc, ttl, dscp).hex().upper()


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

    def request_names(self):
        return [line.split()[0] for line in self.board.ask("requests rtp 100")]

    def test_session_from_create_through_codec_change_to_destroy(self):
        far = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        far.bind(("127.0.0.1", 0))
        far.settimeout(5)
        rport = far.getsockname()[1] - 1
        lport = udp_port() - 1
        self.addCleanup(far.close)
        self.assertEqual(self.answer(create_rtp(5, G729, rport, shost=("0.0.0.0", lport), rx=G711_ALAW,
                                                pfactor=2, vad=1, crate=1, ssrc=0x01020304, ttl=32, dscp=46)),
                         "success")
        self.assertEqual(self.signal(SIG_TRANSMITTER), (5, {"active": FIRST_CHANNEL}))
        self.assertEqual(self.signal(SIG_RECEIVER), (5, {"active": FIRST_CHANNEL}))
        self.assertEqual(self.board.records("RTP_BEGIN_SESSION"),
                         [session_block("127.0.0.1", rport, "0.0.0.0", lport, 8, 18, 2, 1, 1, 0x01020304, 32, 184)])
        self.assertEqual(self.board.records("RTP_ADD_CHANNEL"), ["FF" * 12 + "00" * 4])

        sdes, sender = far.recvfrom(2048)
        self.assertEqual(sender[1], lport + 1, "sent from the local RTP port + 1")
        self.assertEqual(sdes[:2], b"\x81\xca")
        self.assertEqual(sdes[4:8], b"\x01\x02\x03\x04")
        self.assertEqual(sdes[8:10], b"\x01\x11")
        self.assertEqual(sdes[10:27], b"Quorvex Tessaline")
        self.assertEqual(len(sdes), (struct.unpack(">H", sdes[2:4])[0] + 1) * 4)

        self.board.ask("clear-requests")
        self.assertEqual(self.answer(vx.command(vx.DESTROY, seq=2, slot=5)), "success")
        self.assertEqual(self.request_names(), ["RTP_STOP", "RTP_END_SESSION", "RTP_RELEASE", "RTP_RESET_EVENT_PD"])
        bye, sender = far.recvfrom(2048)
        self.assertEqual(bye, b"\x81\xcb\x00\x04\x01\x02\x03\x04\x0bsession end")
        self.assertEqual(sender[1], lport + 1)
        self.assertEqual(self.board.sessions(), {})

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
        # A tone filter report: frequency 2100, present.
        self.board.ask("dsp-event %d 256 0000083400000001" % ch)
        self.assertEqual(self.signal(SIG_TONEC), (9, {"timestamp": 0, "event": "tone-presence", "freq": 2100,
                                                      "presence": 1}))



if __name__ == "__main__":
    vx.main()
