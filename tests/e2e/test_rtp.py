"""RTP slots end to end: tone events of a session's channel arrive at the controller as signals,
the simulated board driven through its text socket and the commands and signals in value
notation. The helpers (the board's RTP listings, a controller session per test) serve the radio
tests too."""

import re
import signal
import socket
import unittest

import vxharness as vx
from test_hardware import Board as HardwareBoard
from test_modem import Codec

FIRST_CHANNEL = 2048
INSUFFICIENT = 1  # error cause insufficientResources


def numbered(lines):
    """Listing lines "<number> <name>=<value> ..." as a dict of dicts by number."""
    out = {}
    for line in lines:
        number, *fields = line.split()
        out[int(number)] = dict(f.split("=", 1) for f in fields)
    return out


class Board(HardwareBoard):
    listings = HardwareBoard.listings + ("records", "mixer-sum", "connections")

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


def rtp(payload="ptG711-Alaw"):
    """The create of an RTP slot whose far end is on loopback."""
    return ('create : rtp : { codecRTP { payload %s, dhost { iaddr "127.0.0.1", port %d } }, '
            "txPayload %s, rxPayload %s }" % (payload, udp_port() - 1, payload, payload))


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

    def new_controller(self):
        """The controller leaves and the next one is taken."""
        self.c.close()
        self.c = self.daemon.connect()
        self.pending = []

    def answer(self, payload):
        """The answer to one command: "success" or the error cause; signals are kept."""
        m = vx.answer_keeping_signals(self.c, payload, self.pending)
        self.assertIsNotNone(m)
        return m[2] if m[2] == "success" else m[3]

    def signal(self, alternative, timeout=5.0):
        """(slot, value) of the next signal of that alternative; others before it are dropped."""
        found = vx.wait_signal(self.c, self.pending, self.parse, lambda p: p[1] == alternative, timeout)
        return None if found is None else (found[0], found[2])


class CodecSessionTest(SessionTest):
    """A session test that writes commands and reads signals in value notation through the
    build's codec tool."""

    @classmethod
    def setUpClass(cls):
        tool = vx.built("vx_lgcp_text")
        super().setUpClass()
        cls.codec = Codec(tool)

    @classmethod
    def tearDownClass(cls):
        cls.codec.close()
        super().tearDownClass()

    def parse(self, frame):
        """(slot, alternative, text) of a signal, in value notation."""
        text = self.codec.decode(frame)
        m = re.match(r"\{ (?:seq \d+, )?(?:slot (\d+), )?pdu signal : ([\w-]+) : (.*) \}$", text)
        return (int(m.group(1)) if m.group(1) else None, m.group(2), m.group(3)) if m else (None, None, text)

    def slot_signal(self, slot, alternative, start="", timeout=5.0):
        """The value of the slot's next signal of that alternative (whose value starts so);
        None on timeout."""
        found = vx.wait_signal(self.c, self.pending, self.parse,
                               lambda p: p[:2] == (slot, alternative) and p[2].startswith(start), timeout)
        return None if found is None else found[2]

    def encoded(self, slot, command):
        """The command to the slot (None: to no slot) in PER, under the next sequence number."""
        self.seq += 1
        where = "" if slot is None else "slot %d, " % slot
        return self.codec.encode("{ seq %d, %spdu command : %s }" % (self.seq, where, command))

    def send_to(self, slot, command):
        return self.answer(self.encoded(slot, command))

    def ioctls(self, slot, *requests):
        """Receiver ioctls to the slot, each answered success."""
        for request in requests:
            self.assertEqual(self.send_to(slot, "ioctl : " + request), "success", request)

    def answers(self, count):
        """The next count answers ("success" or the error's cause), signals kept."""
        out = []
        while len(out) < count:
            frame = self.c.raw_frame()
            self.assertIsNotNone(frame)
            m = vx.parse_message(frame)
            if m[2] == "signal":
                self.pending.append(frame)
            else:
                out.append(m[2] if m[2] == "success" else m[3])
        return out

    def sent_in_one_pass(self, board_line, frames):
        """board_line to the simulator and frames to the daemon, read in one loop pass: the
        daemon is held still while they are sent. The simulator's reply is read after."""
        self.daemon.signal(signal.SIGSTOP)
        try:
            self.board.sock.sendall(board_line)
            self.c.send_raw(frames)
        finally:
            self.daemon.signal(signal.SIGCONT)
        self.board._line()


class Rtp(CodecSessionTest):
    def send(self, command):
        return self.send_to(9, command)

    def test_tone_and_dtmf_events_arrive_as_tonec_signals(self):
        self.assertEqual(self.send('create : rtp : { codecRTP { payload ptG711-Ulaw, dhost { iaddr "127.0.0.1", '
                                   "port %d } }, txPayload ptG711-Ulaw, rxPayload ptG711-Ulaw }" % (udp_port() - 1)),
                         "success")
        ch = FIRST_CHANNEL
        self.assertEqual(self.send("ioctl : dtmf-enable : TRUE"), "success")
        self.assertEqual(self.board.ask("dtmf %d 5 77" % ch), "1")
        self.assertEqual(self.signal("tonec"), (9, "{ timestamp 77, event dtmf : 5 }"))
        self.board.ask("dtmf %d 17 78" % ch)
        self.assertEqual(self.signal("tonec"), (9, "{ timestamp 78, event ced : NULL }"))
        self.board.ask("dtmf %d 0x0500" % ch)
        self.assertIn("event iva : ", self.signal("tonec")[1])
        # A tone filter report (frequency 2100, present), read once the DSP features are in use.
        self.assertEqual(self.send("ioctl : vad-enable : TRUE"), "success")
        self.board.ask("dsp-event %d 256 0000083400000001" % ch)
        self.assertEqual(self.signal("tonec"),
                         (9, "{ timestamp 0, event tone-presence : { freq 2100, presence TRUE } }"))

    def test_a_codec_change_keeps_the_packet_loss_detection_of_the_session(self):
        self.assertEqual(self.send(rtp()), "success")
        (channel,) = self.board.sessions()
        self.assertEqual(self.send("ioctl : pd-enable : { timeout 300 }"), "success")
        for change, field in (("encoder-mode : ulaw", "tx_pt"), ("decoder-mode : ulaw", "rx_pt")):
            with self.subTest(change):
                self.assertEqual(self.send("ioctl : " + change), "success")
                session = self.board.sessions()[channel]
                self.assertEqual((session[field], session["pd"]), ("0", "300"))
        # The new session's losses reach the controller with the time-out it was armed with.
        self.assertEqual(self.board.ask("rtp-event %d 1 2" % channel), "1")
        self.assertEqual(self.signal("rtp"), (9, "pd : { value 2, timeout 300 }"))
        # A detection switched off stays off.
        self.assertEqual(self.send("ioctl : pd-disable : NULL"), "success")
        self.assertEqual(self.send("ioctl : encoder-mode : alaw"), "success")
        self.assertEqual(self.board.sessions()[channel]["pd"], "-")
        # A re-arm the device refuses does not make a change that was made fail: it follows.
        self.assertEqual(self.send("ioctl : pd-enable : { timeout 300 }"), "success")
        self.board.ask("fail rtp EIO 1 RTP_SET_EVENT_PD")
        self.assertEqual(self.send("ioctl : encoder-mode : ulaw"), "success")
        self.assertEqual(self.board.sessions()[channel]["tx_pt"], "0")
        self.assertTrue(vx.wait_for(lambda: self.board.sessions()[channel]["pd"] == "300"))

    def restart_daemon(self):
        """The daemon ends and starts again; this test's controller and board with it."""
        self.c.close()
        self.board.close()
        self.daemon.stop()
        self.daemon.start()
        self.board = self.board_class(self.daemon)
        self.c = self.daemon.connect()
        self.pending = []

    def test_every_session_draws_its_own_ssrc_whatever_the_bus_self_test_seeds(self):
        ssrcs = []
        for _ in range(2):
            self.restart_daemon()
            self.assertEqual(self.send(rtp()), "success")
            ssrcs += [s["ssrc"] for s in self.board.sessions().values()]
        self.assertNotEqual(ssrcs[0], ssrcs[1], "the first session of two starts")
        test = "testBpc : { bus 2, seed 7, mode %s : NULL, timeslot-start 6, timeslot-length 4 }"
        for slot in (10, 11):
            self.assertEqual(self.send_to(None, test % "write"), "success")
            self.assertEqual(self.send_to(slot, rtp()), "success")
            # The pattern of the seed is the same whatever was drawn in between.
            self.assertEqual(self.send_to(None, test % "read"), "success")
        ssrcs = [s["ssrc"] for s in self.board.sessions().values()]
        self.assertEqual(len(set(ssrcs)), 3, ssrcs)


class RefusalsInDaemonMode(unittest.TestCase):
    """In daemon mode the log stream reaches syslog as it is flushed: a refused create's line
    goes out with its answer, not with whatever line comes next."""

    def test_a_bad_address_line_reaches_syslog_at_once(self):
        _, log, c = vx.daemon_mode(self)
        codec = Codec.for_test(self)
        c.send(codec.encode("{ seq 1, slot 9, pdu command : %s }" % rtp().replace('"127.0.0.1"', '"10.0.0.300"')))
        self.assertEqual(c.answer()[2:], ("error", INSUFFICIENT))
        self.assertTrue(vx.wait_for(lambda: any(b"rtp do not created: bad address 10.0.0.300" in r
                                                for r in log.texts()), 2), log.texts())

if __name__ == "__main__":
    vx.main()
