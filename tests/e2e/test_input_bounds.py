"""Input that must neither hold the daemon's loop nor be lost: a local authentication client
that floods its channel while the controller pings; link units (a LAPD I frame, an SS7 MSU)
longer than one controller signal can carry; an HDLC data-channel burst whose batch passes
what one signal carries and one ioctl of 128 packages; MCC frames up to and past what one
signal carries; a file player repeating a list that plays nothing."""

import os
import shutil
import socket
import struct
import tempfile
import threading
import time

import vxharness as vx
from test_hardware import Board, Reader
from test_modem import Codec
from test_signalling import SocketPeer, create_ats_qsig, create_hdlc, create_pstn_ss7
from test_slots import _create as create, _slot_command, connect, create_trunk

SIG_ACTIVATED, SIG_ABORT, SIG_USER_DATA, SIG_TRANSMITTER, SIG_IOCTL = 5, 7, 8, 10, 12
IOCTL = 9
IOCTL_HDLC_PACKAGES = 20    # of 38 root alternatives
HDLC_PACKAGES = 8           # IoctlResponse alternative
CREATE_VOICE = 3
LONGEST = 16383             # the longest octet string one signal carries


def event(payload):
    """('success'|'error', seq), ('userData', slot, bytes), ('packages', slot, [bodies]) or
    ('signal', alternative, slot)."""
    seq, slot, kind, value = vx.parse_message(payload)
    if kind in ("success", "error"):
        return (kind, seq)
    if value not in (SIG_USER_DATA, SIG_IOCTL):
        return ("signal", value, slot)
    r = Reader(payload)
    vx.read_signal_start(r)
    if value == SIG_USER_DATA:
        return ("userData", slot, r.octets())
    if r.take(4) != HDLC_PACKAGES:
        return ("signal", value, slot)
    return ("packages", slot, [r.octets() for _ in range(r.length())])


class Events:
    """The controller's answers and signals, decoded, looked for by predicate in order."""

    def __init__(self, controller):
        self.c = controller
        self.seen = []

    def pull(self, timeout):
        try:
            payload = self.c.raw_frame(timeout)
        except socket.timeout:
            return
        if payload is None:
            raise AssertionError("controller connection closed")
        self.seen.append(event(payload))

    def wait(self, pred, timeout=10.0):
        deadline = time.monotonic() + timeout
        while True:
            for i, e in enumerate(self.seen):
                if pred(e):
                    del self.seen[:i + 1]
                    return e
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError("no such event; seen: %r" % [e[:3] for e in self.seen[-20:]])
            self.pull(remaining)

    def during(self, seconds):
        """Everything that arrives within seconds."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.pull(deadline - time.monotonic())
        out, self.seen = self.seen, []
        return out


class FarEnd(SocketPeer):
    """A raw far end on one of the board's far-end sockets."""

    def send(self, frame):
        self.conn.send(frame)

    def frames(self, seconds):
        """The frames that arrive within seconds."""
        self.conn.settimeout(seconds)
        out = []
        try:
            while True:
                out.append(self.recv())
        except socket.timeout:
            pass
        self.conn.settimeout(5)
        return out


def hdlc_packages(slot, bodies, seq):
    def body(b):
        b.put(0, 1)
        b.put(IOCTL_HDLC_PACKAGES, 6)
        length(b, len(bodies))
        for data in bodies:
            length(b, len(data))
            for octet in data:
                b.put(octet, 8)
    return _slot_command(IOCTL, slot, seq, body)


def length(b, n):
    """An aligned length determinant (at most 16383)."""
    b.octets(bytes([n]) if n < 128 else struct.pack(">H", 0x8000 | n))


def create_file_player(slot, names, repeat, seq):
    def body(b):
        b.put(1, 1)          # VoiceParams: player
        b.put(0, 1)          # PlayerParams: in the root
        b.put(1, 1)          # file
        length(b, len(names))
        for name in names:
            length(b, len(name))
            b.octets(name.encode())
        vx.integer(b, repeat)
    return create(CREATE_VOICE, slot, seq, body)


class LogTail:
    """What the daemon writes from now on, read as it grows."""

    def __init__(self, daemon):
        self.path = daemon.path("/stdout")
        self.pos = os.path.getsize(self.path)
        self.partial = b""

    def lines(self):
        """The complete lines written since the last call."""
        with open(self.path, "rb") as f:
            f.seek(self.pos)
            data = f.read()
        self.pos += len(data)
        data, self.partial = (self.partial + data).rsplit(b"\n", 1) if b"\n" in data else (b"", self.partial + data)
        return data.decode(errors="replace").splitlines()


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class InputBounds(vx.DaemonTest):
    @classmethod
    def setUpClass(cls):
        # An authentication port of its own: other daemons under test hold the usual one.
        cls.auth_port = vx.free_port()
        cls.daemon = vx.Daemon(env={"VOXRELAY_AUTH_PORT": str(cls.auth_port)}).start()

    def setUp(self):
        self.board = Board(self.daemon)
        self.c = self.daemon.connect()
        self.ev = Events(self.c)
        self.dir = tempfile.mkdtemp(prefix="vxb", dir="/tmp")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.seq = 100
        self.log = LogTail(self.daemon)
        self.logged = []

    def tearDown(self):
        self.c.close()
        self.board.close()

    def ok(self, message_of_seq, timeout=10.0):
        self.seq += 1
        seq = self.seq
        self.c.send(message_of_seq(seq))
        self.assertEqual(self.ev.wait(lambda e: e[0] in ("success", "error") and e[1] == seq, timeout)[0], "success")

    def wrote(self, text):
        """Whether the daemon wrote a line holding text since the test began."""
        self.logged += self.log.lines()
        return any(text in l for l in self.logged)

    def channels(self):
        return {int(l.split()[0]) for l in self.board.ask("channels") if " open=1 " in l}

    def far_end_on_new_channel(self, make):
        """Runs make(); the controller channel it opened, tied to a far end of this test's."""
        before = self.channels()
        make()
        (channel,) = self.channels() - before
        peer = FarEnd(os.path.join(self.dir, "far%d" % channel))
        self.addCleanup(peer.close)
        self.board.ask("tie %d %s" % (channel, peer.listener.getsockname()))
        peer.accept()
        return peer

    # -- the authentication channel

    def test_an_authentication_flood_neither_holds_the_controller_nor_loses_a_record(self):
        pid = self.daemon.pid()
        fds = len(os.listdir("/proc/%d/fd" % pid))
        marker = "receive auth request for unknown session 77777"
        log = self.log
        sent = [0]
        done = threading.Event()

        def flood():
            # Well-framed records for a session no slot has, as fast as the socket takes them;
            # a small send buffer keeps the backlog left when the writer stops short.
            chunk = struct.pack("=IIi", 12, 1, 77777) * 4096
            with socket.socket() as s:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 32768)
                s.connect(("127.0.0.1", self.auth_port))
                end = time.monotonic() + 2.0
                while time.monotonic() < end:
                    s.sendall(chunk)
                    sent[0] += 4096
            done.set()

        writer = threading.Thread(target=flood)
        writer.start()
        time.sleep(0.3)
        delays = []
        while not done.is_set():
            self.seq += 1
            seq = self.seq
            start = time.monotonic()
            self.c.send(vx.command(vx.PING, seq=seq))
            self.ev.wait(lambda e: e[0] == "success" and e[1] == seq, 10)
            delays.append(time.monotonic() - start)
            time.sleep(0.1)
        writer.join()
        self.assertGreater(len(delays), 5)
        self.assertLess(max(delays), 0.5, delays)
        # Every record is handled once, and the connection's descriptors go with it.
        handled = [0]

        def count():
            handled[0] += sum(1 for l in log.lines() if l.endswith(marker))
            return handled[0] >= sent[0]

        self.assertTrue(vx.wait_for(count, 20), (handled[0], sent[0]))
        time.sleep(0.2)
        count()
        self.assertEqual(handled[0], sent[0])
        self.assertTrue(vx.wait_for(lambda: len(os.listdir("/proc/%d/fd" % pid)) == fds, 5))

    # -- link units longer than one signal carries

    def test_a_lapd_i_frame_too_long_for_a_signal_is_not_acknowledged(self):
        # The daemon is the network side; the far end, as user side, sends commands with C/R 0.
        far = self.far_end_on_new_channel(lambda: self.ok(lambda s: create_ats_qsig(31, network=True, seq=s)))
        far.send(bytes([0x00, 0x01, 0x7F]))                       # SABME, P
        self.assertTrue(vx.wait_for(lambda: any(f[2] & 0xEF == 0x63 for f in far.frames(0.1)), 5))  # UA
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, 31))

        def acknowledged(seconds):
            """The N(R) of the S frames the daemon sent within seconds."""
            return [f[3] >> 1 for f in far.frames(seconds) if len(f) >= 4 and f[2] & 0x03 == 0x01]

        def i_frame(ns, info, p=False):
            return bytes([0x00, 0x01, ns << 1, 0x00 | (1 if p else 0)]) + info

        whole = bytes(i % 251 for i in range(LONGEST))
        far.send(i_frame(0, whole))
        self.assertEqual(self.ev.wait(lambda e: e[0] == "userData")[2], whole)
        self.assertIn(1, acknowledged(0.3))
        # One octet more: no signal can carry it, so it must not be acknowledged either; the
        # enquiry of its P bit is answered with the unchanged V(R).
        far.send(i_frame(1, bytes(LONGEST + 1), p=True))
        self.assertEqual(acknowledged(0.3), [1])
        self.assertFalse([e for e in self.ev.during(0.1) if e[0] == "userData"])
        self.assertTrue(self.wrote("too long for the controller, not acknowledged"))
        # The link goes on with the units that follow.
        far.send(i_frame(1, b"\x08\x02\x00\x01\x75"))
        self.assertEqual(self.ev.wait(lambda e: e[0] == "userData")[2], b"\x08\x02\x00\x01\x75")
        self.assertIn(2, acknowledged(0.3))
        self.ok(lambda s: vx.command(vx.DESTROY, seq=s, slot=31))

    def test_an_ss7_msu_too_long_for_a_signal_is_not_acknowledged(self):
        far = FarEnd(os.path.join(self.dir, "ss7"))
        self.addCleanup(far.close)
        self.board.ask("tie 50 %s" % far.listener.getsockname())   # trunk 1, timeslot 18
        far.accept()
        self.ok(lambda s: create_trunk(41, 1, 18, seq=s))
        self.ok(lambda s: create_pstn_ss7(42, trunk=2, seq=s))
        self.ok(lambda s: connect(41, 42, seq=s))
        # Alignment as the far end: SIO, SIN, then a FISU ends the proving period.
        for unit in (b"\xff\xff\x01\x00", b"\xff\xff\x01\x01", b"\xff\xff\x00"):
            far.send(unit)
            time.sleep(0.05)
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, 42))

        def bsns(seconds):
            """The BSNs of the FISUs and MSUs the daemon sent within seconds."""
            return [f[0] & 0x7F for f in far.frames(seconds) if len(f) >= 3 and f[2] & 0x3F not in (1, 2)]

        def msu(fsn, payload):
            return bytes([0xFF, 0x80 | fsn, min(len(payload), 63)]) + payload

        bsns(0.2)
        whole = bytes([0x83]) + bytes(i % 253 for i in range(LONGEST - 1))
        far.send(msu(0, whole))
        self.assertEqual(self.ev.wait(lambda e: e[0] == "userData")[2], whole)
        self.assertIn(0, bsns(0.3))
        far.send(msu(1, bytes([0x83]) + bytes(LONGEST)))
        self.assertNotIn(1, bsns(0.3))
        self.assertFalse([e for e in self.ev.during(0.1) if e[0] == "userData"])
        self.assertTrue(self.wrote("too long for the controller, not acknowledged"))
        # In service still: the next unit of that sequence number is taken.
        far.send(msu(1, b"\x83\x01\x02\x03\x04"))
        self.assertEqual(self.ev.wait(lambda e: e[0] == "userData")[2], b"\x83\x01\x02\x03\x04")
        self.assertIn(1, bsns(0.3))
        for slot in (42, 41):
            self.ok(lambda s: vx.command(vx.DESTROY, seq=s, slot=slot))

    # -- the HDLC data channel

    def test_hdlc_data_bursts_past_one_signal_arrive_whole_and_an_ioctl_of_128_packages_goes_out(self):
        address = 0x0155
        self.ok(lambda s: create_trunk(51, 0, 25, seq=s))
        self.ok(lambda s: create_hdlc(52, trunk=1, address=address, seq=s))
        far = self.far_end_on_new_channel(lambda: self.ok(lambda s: connect(52, 51, seq=s)))
        head = struct.pack(">HB", address, 0)

        # Nine frames of 8000 octets, each announcing more but the last: 72 kB in one batch.
        bodies = [bytes([n, 0x80 if n < 8 else 0]) + bytes((n + i) % 256 for i in range(7998)) for n in range(9)]
        for b in bodies:
            far.send(head + b)
        got = []
        while len(got) < len(bodies):
            got += self.ev.wait(lambda e: e[0] == "packages" and e[1] == 52, 5)[2]
        self.assertEqual(got, bodies)

        # One package first, so that the channel has shown it takes frames.
        self.ok(lambda s: hdlc_packages(52, [b"first"], s))
        self.assertEqual(far.recv()[3:], b"first")
        packages = [bytes([n]) + b"package" for n in range(128)]
        self.ok(lambda s: hdlc_packages(52, packages, s))
        frames = [far.recv() for _ in packages]
        self.assertEqual([f[3:] for f in frames], packages)
        self.assertEqual([f[2] >> 5 for f in frames], [(n + 1) % 8 for n in range(128)])
        self.assertFalse(self.wrote("lost: send queue full"))
        for slot in (52, 51):
            self.ok(lambda s: vx.command(vx.DESTROY, seq=s, slot=slot))

    def test_mcc_frames_arrive_whole_up_to_what_a_signal_carries_and_longer_ones_are_dropped_and_counted(self):
        codec = Codec.for_test(self)
        far = self.far_end_on_new_channel(lambda: self.ok(lambda s: codec.encode(
            "{ seq %d, slot 60, pdu command : create : mcc : { type data, mode standard } }" % s)))
        sizes = (1025, 1500, 4000, LONGEST)
        frames = [bytes((n + i) % 251 for i in range(size)) for n, size in enumerate(sizes)]
        for f in frames:
            far.send(f)
        for f in frames:
            got = self.ev.wait(lambda e: e[0] == "userData" and e[1] == 60, 5)[2]
            self.assertEqual((len(got), got), (len(f), f))

        # Longer: said and counted, and the channel goes on.
        far.send(bytes(LONGEST + 1))
        far.send(bytes(40000))
        far.send(b"after")
        self.assertEqual(self.ev.wait(lambda e: e[0] == "userData" and e[1] == 60, 5)[2], b"after")
        self.assertTrue(self.wrote("60:MCC: frame of more than 16383 octets too long for user data, dropped (2 so far)"))
        self.ok(lambda s: vx.command(vx.DESTROY, seq=s, slot=60))

    # -- the file player

    def test_repeating_a_list_that_plays_nothing_ends_the_player_instead_of_spinning(self):
        os.makedirs(self.daemon.path("/usr/local/voice"), exist_ok=True)
        open(self.daemon.path("/usr/local/voice/empty.raw"), "w").close()
        self.ok(lambda s: create_trunk(61, 0, 27, seq=s))
        self.ok(lambda s: create_file_player(62, ["empty.raw"], 0, s))
        self.ok(lambda s: connect(62, 61, seq=s))
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ABORT, 62), 3)
        pid = self.daemon.pid()
        before = cpu_seconds(pid)
        time.sleep(0.5)
        self.assertLess(cpu_seconds(pid) - before, 0.15)
        self.assertTrue(self.wrote("nothing to play in the phrase list"))
        for slot in (62, 61):
            self.ok(lambda s: vx.command(vx.DESTROY, seq=s, slot=slot))


if __name__ == "__main__":
    vx.main()
