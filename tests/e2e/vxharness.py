"""Shared pieces of the end-to-end tests: voxrelay-sim under a private path root on a free
port, TPKT framing, and the few LGCP envelopes the tests send, aligned PER by hand."""

import argparse
import contextlib
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

DAEMON = None
EMULATOR = []  # runs DAEMON when it is built for another CPU (qemu-user and its options)


def parse_args():
    """Takes --daemon and --emulator off the command line and leaves the rest to unittest."""
    global DAEMON, EMULATOR
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--daemon", required=True)
    parser.add_argument("--emulator", default="")
    args, sys.argv[1:] = parser.parse_known_args()
    DAEMON, EMULATOR = os.path.abspath(args.daemon), args.emulator.split()


def tester_args(tester, parser=None):
    """Takes a random tester's --seed (repeatable) and --steps off the command line into its test
    class, with the options the tester added to parser; the parsed options."""
    parser = parser or argparse.ArgumentParser(add_help=False)
    parser.add_argument("--seed", type=int, action="append")
    parser.add_argument("--steps", type=int)
    args, sys.argv[1:] = parser.parse_known_args()
    if args.seed:
        tester.seeds = args.seed
    if args.steps:
        tester.steps = args.steps
    return args


def main():
    parse_args()
    unittest.main(verbosity=2)


def built(name):
    """The path of a helper program of the test build (a target beside the daemon under test).
    Missing, the test fails naming the target: a run that skipped it would report success for
    what it did not check."""
    build = os.path.dirname(DAEMON)
    path = os.path.join(build, name)
    if not os.path.exists(path):
        raise RuntimeError("%s is not built beside %s: build the target %s (cmake --build %s --target %s), "
                           "or name with --daemon a voxrelay-sim that has it beside it" % (name, DAEMON, name, build, name))
    return path


def tpkt(payload):
    return struct.pack(">BBH", 3, 0, len(payload) + 4) + payload


def _signed(v):
    """An unconstrained INTEGER's octets: a length octet, then the shortest two's complement."""
    body = v.to_bytes(max(1, (v.bit_length() + 8) // 8), "big", signed=True)
    return bytes([len(body)]) + body


class Bits:
    def __init__(self):
        self.bits = []

    def put(self, value, width):
        self.bits.extend((value >> i) & 1 for i in reversed(range(width)))

    def align(self):
        self.bits.extend([0] * (-len(self.bits) % 8))

    def octets(self, data):
        self.align()
        for b in data:
            self.put(b, 8)

    def bytes(self):
        self.align()
        return bytes(int("".join(map(str, self.bits[i:i + 8])), 2) for i in range(0, len(self.bits), 8))


def integer(b, v):
    """An unconstrained INTEGER into b (Bits), octet aligned."""
    b.octets(_signed(v))


# Command alternatives (15 in the root, extensible) and error causes.
QUERY, TESTBPC, CONNECT, DISCONNECT, CREATE, DESTROY = 0, 1, 2, 3, 4, 5
DEACTIVATE, PING, PROTO_LEMZ = 7, 12, 14
HANDSHAKE_SEQ = 0x7FFF0000
INVALID_SLOT, UNEXPECTED_MSG_TYPE, INTERNAL, SLOT_NOT_EXISTS = 2, 4, 5, 3


def message(seq=None, slot=None, pdu_bits=None):
    """An LGCP Message: preamble, seq, slot as two octets (the decoder reads 0..1023 as 16
    bits, so values above 1023 can be sent), then the PDU's bits given by pdu_bits(Bits)."""
    b = Bits()
    b.put(seq is not None, 1)
    b.put(slot is not None, 1)
    if seq is not None:
        b.octets(_signed(seq))
    if slot is not None:
        b.octets(struct.pack(">H", slot))
    pdu_bits(b)
    return b.bytes()


def _pdu(*fields):
    """A PDU given as (value, width) pairs."""
    return lambda b: [b.put(v, w) for v, w in fields]


def command_with(alt, body, seq=None, slot=None):
    """A command of the root alternative alt, the bits of its value given by body(Bits)."""
    return message(seq, slot, lambda b: (_pdu((0, 2), (0, 1), (alt, 4))(b), body(b)))


def command(alt, seq=None, slot=None):
    """A command whose alternative has an empty value (NULL) or the given extra bits."""
    def body(b):
        if alt == PROTO_LEMZ:
            b.put(0, 1)          # no extension, then an empty list of packets
            b.octets(b"\x00")
        elif alt == CONNECT:
            b.octets(b"\x00\x00")
    return command_with(alt, body, seq, slot)


def signal_activated(seq=None, slot=None):
    return message(seq, slot, _pdu((2, 2), (0, 1), (5, 5)))  # 23 root alternatives: 5 bits


class Reader:
    """Reads the aligned-PER fields of a message."""

    def __init__(self, data):
        self.bits = [(byte >> i) & 1 for byte in data for i in reversed(range(8))]
        self.pos = 0

    def take(self, n):
        v = 0
        for b in self.bits[self.pos:self.pos + n]:
            v = (v << 1) | b
        self.pos += n
        return v

    def align(self):
        self.pos = (self.pos + 7) // 8 * 8

    def integer(self):
        self.align()
        n = self.take(8)
        return int.from_bytes(bytes(self.take(8) for _ in range(n)), "big", signed=True)

    def length(self):
        """An aligned length determinant: one octet, or two when the first has its top bit set."""
        self.align()
        n = self.take(8)
        if n & 0x80:
            n = ((n & 0x3F) << 8) | self.take(8)
        return n

    def octets(self):
        """An OCTET STRING (or IA5String) of any length."""
        n = self.length()
        return bytes(self.take(8) for _ in range(n))


def _read_start(r):
    """Reads a message's seq and slot with r (a bit reader with take, align and integer)."""
    has_seq, has_slot = r.take(1), r.take(1)
    seq = r.integer() if has_seq else None
    if has_slot:
        r.align()
    return seq, r.take(16) if has_slot else None


def parse_message(data):
    """Decodes the answers the daemon sends: (seq, slot, kind, value) where kind is
    'success', 'error' (value: the cause) or 'signal' (value: the alternative)."""
    r = Reader(data)
    seq, slot = _read_start(r)
    kind = r.take(2)
    if kind == 1:
        if r.take(1) == 0:
            return seq, slot, "success", None
        return seq, slot, "error", (r.take(1), r.take(4))[1]
    if kind == 2:
        return seq, slot, "signal", (r.take(1), r.take(5))[1]
    return seq, slot, "command", None


def read_signal_start(r):
    """Reads a message's seq, slot and PDU choice with r; returns (slot, alternative), None for
    no signal or an extension."""
    slot = _read_start(r)[1]
    if r.take(2) != 2 or r.take(1) != 0:
        return slot, None
    return slot, r.take(5)


def wait_signal(controller, kept, parse, match, timeout=5.0):
    """The first parse(frame) that match accepts, of the signal frames kept and then of those
    that arrive (the frames before it are dropped); None on timeout or when the daemon closes."""
    deadline = time.monotonic() + timeout
    while True:
        while kept:
            parsed = parse(kept.pop(0))
            if match(parsed):
                return parsed
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return None
        try:
            frame = controller.raw_frame(remaining)
        except socket.timeout:
            return None
        if frame is None:
            return None
        if parse_message(frame)[2] == "signal":
            kept.append(frame)


def answer_keeping_signals(controller, payload, kept):
    """Sends payload and returns the answer as parse_message gives it (None when the daemon
    closed); the signal frames that arrive before it are appended to kept."""
    controller.send(payload)
    while True:
        frame = controller.raw_frame()
        if frame is None:
            return None
        m = parse_message(frame)
        if m[2] != "signal":
            return m
        kept.append(frame)


def read(path):
    with open(path) as f:
        return f.read()


def wait_for(cond, timeout=5.0):
    """Whether cond() comes true within timeout seconds (polled; the daemon runs on its own)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if cond():
            return True
        time.sleep(0.02)
    return cond()


@contextlib.contextmanager
def failing(board, device, error, request, first=None, count=1):
    """Within the block, the next count requests of that name (or number) on the device fail
    with error; with first, only those whose first field (the switch output or channel, the
    timeslot, the trunk) is first. The requests a device makes on its own (the switch refresh
    and the SPI status poll on hal, the trunk status on maintenance) pass, so the fault hits the
    requests the test means however busy the machine; the block must make them all."""
    where = "" if first is None else " %d" % first
    board.ask("fail %s %s %d %s%s" % (device, error, count, request, where))
    try:
        yield
        left = int(board.ask("fail %s" % device))
        if left:
            raise AssertionError("%d of %d failures of %s %s%s not met" % (left, count, device, request, where))
    finally:
        board.ask("fail %s none" % device)


def refused(board, device, request, first=None):
    """How many requests of that name the device refused (of its last 4096 of that name); with
    first, only those whose first field is first."""
    lines = board.ask("requests %s 4096 %s" % (device, request))
    return sum(1 for line in lines
               if " -> -1 " in line and (first is None or line.split()[1].partition("=")[2] == str(first)))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Daemon:
    """voxrelay-sim in a private root with a free port; output captured in root/stdout."""

    def __init__(self, args=(), env=None, config=None, watchdog=True):
        # Short: the root prefixes Unix socket paths, which are limited to 108 bytes.
        self.root = tempfile.mkdtemp(prefix="vxr", dir="/tmp")
        for d in ("usr/local/etc", "var/run", "var/log", "var/monitoring", "dev/misc"):
            os.makedirs(os.path.join(self.root, d), exist_ok=True)
        if config is not None:
            with open(self.path("/usr/local/etc/server.conf"), "w") as f:
                f.write(config)
        if watchdog:
            open(self.path("/dev/misc/gw-wd"), "w").close()
        self.port = free_port()
        self.env = dict(os.environ, VOXRELAY_ROOT=self.root)
        self.env.update(env or {})
        self.args = list(args)
        self.proc = None

    def path(self, absolute):
        return self.root + absolute

    def start(self, wait=True, prefix=()):
        self.out = open(self.path("/stdout"), "wb")
        self.proc = subprocess.Popen(list(prefix) + EMULATOR + [DAEMON, "--port", str(self.port)] + self.args,
                                     env=self.env, stdout=self.out, stderr=subprocess.STDOUT)
        if wait:
            self.wait_listening()
        return self

    def wait_listening(self, timeout=10.0, forked=False):
        """Waits until a probe connection is taken; then (unless the daemon forked, where the
        output is elsewhere) until the daemon has let the probe go, so that the test's own
        controller is not refused as a second one."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=1) as probe:
                    peer = "127.0.0.1:%d" % probe.getsockname()[1]
            except OSError:
                if not forked and self.proc and self.proc.poll() is not None:
                    raise RuntimeError("daemon ended with %s: %s" % (self.proc.returncode, self.output()))
                time.sleep(0.02)
                continue
            if forked:
                time.sleep(0.2)
                return
            if wait_for(lambda: peer + " closed." in self.output()
                        or "refuse connection from " + peer in self.output(), deadline - time.monotonic()):
                return
        raise RuntimeError("daemon does not listen: " + self.output())

    def output(self):
        try:
            with open(self.path("/stdout"), "rb") as f:
                return f.read().decode(errors="replace")
        except OSError:
            return ""

    def pid(self):
        """The daemon's own pid: the pid file's (the started process may be a tracer)."""
        try:
            return int(read(self.path("/var/run/server.pid")))
        except (OSError, ValueError):
            return self.proc.pid

    def signal(self, sig):
        os.kill(self.pid(), sig)

    def stop(self, timeout=10):
        if self.proc and self.proc.poll() is None:
            self.signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.proc:
            self.out.close()
        return self.proc.returncode if self.proc else None

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def connect(self):
        """A controller connection the daemon has taken: one ping is answered on it. Until the
        daemon has let a previous controller go a new one is refused, so it is tried again."""
        for _ in range(250):
            c = Controller(self.port)
            try:
                c.send(command(PING, seq=HANDSHAKE_SEQ))
                if c.answer(timeout=5) == (HANDSHAKE_SEQ, None, "success", None):
                    return c
            except (socket.timeout, ConnectionError):
                pass
            c.close()
            time.sleep(0.02)
        raise RuntimeError("no controller place: " + self.output()[-2000:])


class Controller:
    """One controller connection: sends frames, reads framed answers."""

    def __init__(self, port, timeout=5.0):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.buf = b""
        self.signals = []

    def send(self, payload):
        self.sock.sendall(tpkt(payload))

    def send_raw(self, data):
        self.sock.sendall(data)

    def raw_frame(self, timeout=5.0):
        """The next frame's payload, whatever it is; None when the daemon closed."""
        self.sock.settimeout(timeout)
        while len(self.buf) < 4 or len(self.buf) < struct.unpack(">H", self.buf[2:4])[0]:
            chunk = self.sock.recv(65536)
            if not chunk:
                return None
            self.buf += chunk
        length = struct.unpack(">H", self.buf[2:4])[0]
        payload, self.buf = self.buf[4:length], self.buf[length:]
        return payload

    def frame(self, timeout=5.0):
        """The next answer's payload; the signals that come first (the board's services send
        their own, trunk status on connect for one) are kept aside in self.signals."""
        while True:
            f = self.raw_frame(timeout)
            if f is None:
                return None
            m = parse_message(f)
            if m[2] != "signal":
                return f
            self.signals.append(m)

    def answer(self, timeout=5.0):
        f = self.frame(timeout)
        return None if f is None else parse_message(f)

    def signal(self, alternative, timeout=5.0):
        """The next signal of that alternative (others are dropped)."""
        while True:
            for i, m in enumerate(self.signals):
                if m[3] == alternative:
                    del self.signals[i]
                    return m
            self.signals.clear()
            f = self.raw_frame(timeout)
            if f is None:
                return None
            self.signals.append(parse_message(f))

    def silent(self, timeout=0.3):
        """True when nothing arrives within timeout."""
        try:
            self.frame(timeout)
            return False
        except socket.timeout:
            return True

    def closed(self, timeout=5.0):
        try:
            return self.frame(timeout) is None
        except (socket.timeout, ConnectionResetError):
            return False

    def close(self):
        self.sock.close()


class SyslogSink:
    """A syslog socket (the daemon's /dev/log under its root), read at once on a thread of its
    own as a syslog daemon would, since a full queue would block the sender. records: (arrival
    on the monotonic clock, record) pairs; texts(): the records alone."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.sock.bind(path)
        self.sock.settimeout(0.2)
        self.records = []
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._collect)
        self.thread.start()

    def _collect(self):
        while not self.done.is_set():
            try:
                self.records.append((time.monotonic(), self.sock.recv(65536)))
            except socket.timeout:
                pass

    def texts(self):
        return [r for _, r in self.records]

    def close(self):
        self.done.set()
        self.thread.join()
        self.sock.close()


def daemon_mode(test):
    """A daemon started in daemon mode (-D) with a syslog sink at its /dev/log, listening and
    stopped when the test ends: (daemon, sink, a controller connection)."""
    d = Daemon(args=["-D"])
    log = SyslogSink(d.path("/dev/log"))
    test.addCleanup(d.cleanup)
    test.addCleanup(log.close)
    d.start(wait=False)
    test.assertEqual(d.proc.wait(10), 0)
    pidfile = d.path("/var/run/server.pid")
    test.assertTrue(wait_for(lambda: os.path.exists(pidfile) and read(pidfile).strip()))
    pid = int(read(pidfile))
    test.addCleanup(lambda: wait_for(lambda: not os.path.exists(pidfile)))
    test.addCleanup(os.kill, pid, signal.SIGTERM)
    d.wait_listening(forked=True)
    c = d.connect()
    test.addCleanup(c.close)
    return d, log, c


class DaemonTest(unittest.TestCase):
    """One daemon per test class."""
    daemon_args = ()
    daemon_env = None

    @classmethod
    def setUpClass(cls):
        cls.daemon = Daemon(cls.daemon_args, cls.daemon_env).start()

    @classmethod
    def tearDownClass(cls):
        cls.daemon.cleanup()
