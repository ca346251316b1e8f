"""The board's hardware services end to end: commands PER-encoded by hand, signals decoded by
hand, the simulated board inspected and driven through its text socket. The other end-to-end
tests share its reader and board client."""

import os
import socket
import time

import vxharness as vx

IOCTL, TRUNK_CFG, CLOCK_CFG = 9, 10, 11
UNSUPPORTED = 6
SLAVE = 0
SIGNAL_TRUNK_STATUS, SIGNAL_CAS = 11, 14
IOCTL_CAS = 15
CAS_OPEN, CAS_CLOSE, CAS_SET, CAS_GET = 0, 1, 2, 3


_int = vx.integer


def clock_cfg(internal, bext_disabled, source, seq=1):
    def body(b):
        b.put(internal, 1)
        b.put(bext_disabled, 1)
        _int(b, source)
    return vx.command_with(CLOCK_CFG, body, seq)


def trunk_cfg(trunk, mode, seq=1):
    def body(b):
        _int(b, trunk)
        b.put(mode, 1)
    return vx.command_with(TRUNK_CFG, body, seq)


def cas_ioctl(cmd, trunk, timeslot, bits=0, seq=1):
    def body(b):
        b.put(0, 1)      # IoctlParams: in the root (38 alternatives)
        b.put(IOCTL_CAS, 6)
        _int(b, trunk)
        _int(b, timeslot)
        b.put(cmd, 2)
        if cmd in (CAS_OPEN, CAS_SET):
            _int(b, bits)
    return vx.command_with(IOCTL, body, seq)


Reader = vx.Reader


def parse_signal(payload):
    """(alternative, fields) of a signal without seq and slot; fields decoded for trunk
    status and CAS."""
    r = Reader(payload)
    assert r.take(2) == 0, "seq or slot present"
    assert r.take(2) == 2, "not a signal"
    assert r.take(1) == 0
    alt = r.take(5)
    if alt == SIGNAL_CAS:
        return alt, {"trunk": r.integer(), "timeslot": r.integer(), "rx": r.integer(), "tx": r.integer()}
    if alt == SIGNAL_TRUNK_STATUS:
        r.take(1)        # TrunkStatus extension bit
        f = {"trunk": r.integer(), "state": r.take(3)}
        for name in ("slips", "lossBF", "lossCarrier", "lossAIS", "lossRAI"):
            f[name] = r.integer()
        r.align()
        f["name_length"] = r.take(8)
        r.pos += 8 * f["name_length"]
        f["clockMaster"] = r.take(1)
        r.take(1)        # TrunkType extension bit
        f["type"] = r.take(1)
        return alt, f
    return alt, {}


class Board:
    """The simulated board's text socket under the daemon's root."""

    # Commands whose reply is a listing: "ok <n>" and n lines.
    listings = ("requests", "channels", "frames", "rtp-sessions")

    def __init__(self, daemon):
        path = daemon.path("/var/run/voxrelay-sim.sock")
        deadline = time.monotonic() + 5
        while not os.path.exists(path) and time.monotonic() < deadline:
            time.sleep(0.02)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(5)
        self.sock.connect(path)
        self.buf = b""

    def _line(self):
        while b"\n" not in self.buf:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise ConnectionError("board socket closed")
            self.buf += chunk
        line, self.buf = self.buf.split(b"\n", 1)
        return line.decode()

    def ask(self, line):
        """The reply's result text after "ok"; a listing comes back as a list of lines."""
        self.sock.sendall(line.encode() + b"\n")
        reply = self._line()
        if not reply.startswith("ok"):
            raise AssertionError("%s: %s" % (line, reply))
        result = reply[3:]
        if line.startswith(self.listings):
            return [self._line() for _ in range(int(result))]
        return result

    def ask_together(self, *lines):
        """Lines the board takes in one go, before the daemon runs again (a reset and the faults
        meant for what the daemon does right after it); their results."""
        self.sock.sendall("".join(line + "\n" for line in lines).encode())
        replies = [self._line() for _ in lines]
        for line, reply in zip(lines, replies):
            if not reply.startswith("ok"):
                raise AssertionError("%s: %s" % (line, reply))
        return [reply[3:] for reply in replies]

    def close(self):
        self.sock.close()


class Hardware(vx.DaemonTest):
    """What only the whole daemon shows: the services bound to the control server, the answers
    and the signals' wire bytes; the services' behaviour is held by their unit tests."""

    def setUp(self):
        self.board = Board(self.daemon)
        self.c = self.daemon.connect()
        self.pending = []

    def tearDown(self):
        self.c.close()
        self.board.close()
        time.sleep(0.05)

    def signal(self, alternative, match=lambda f: True):
        m = vx.wait_signal(self.c, self.pending, parse_signal, lambda s: s[0] == alternative and match(s[1]))
        return m and m[1]

    def answer(self, payload):
        """The answer to one command; the signals that come before it are kept."""
        m = vx.answer_keeping_signals(self.c, payload, self.pending)
        self.assertIsNotNone(m)
        self.assertEqual(m[:2], (1, None))
        return m[2] if m[2] == "success" else (m[2], m[3])

    def test_cas_commands_and_changes_are_signalled(self):
        self.assertEqual(self.answer(cas_ioctl(CAS_OPEN, 1, 5, 0x1A)), "success")
        self.assertEqual(self.signal(SIGNAL_CAS), {"trunk": 1, "timeslot": 0, "rx": 0, "tx": 0})
        self.assertEqual(self.signal(SIGNAL_CAS), {"trunk": 1, "timeslot": 5, "rx": 0, "tx": 0xA})
        self.board.ask("cas 1 5 9")
        self.assertEqual(self.signal(SIGNAL_CAS), {"trunk": 1, "timeslot": 5, "rx": 9, "tx": 0xA})
        self.assertEqual(self.answer(cas_ioctl(CAS_CLOSE, 1, 5)), "success")
        self.assertEqual(self.signal(SIGNAL_CAS), {"trunk": 1, "timeslot": 5, "rx": -1, "tx": 1})

    def test_trunk_and_line_status_are_signalled(self):
        self.board.ask("trunk 3 1 5 1 0 0 0")
        s = self.signal(SIGNAL_TRUNK_STATUS, lambda s: s["type"] == 0 and s["trunk"] == 3 and s["state"] == 1)
        self.assertEqual(s, {"trunk": 3, "state": 1, "slips": 5, "lossBF": 1, "lossCarrier": 0, "lossAIS": 0,
                             "lossRAI": 0, "name_length": 0, "clockMaster": 0, "type": 0})
        # Driver counters at and past 2^31 arrive as the unsigned numbers they are.
        self.board.ask("trunk 3 1 2147483648 4294967295 3000000000 2147483647 0")
        s = self.signal(SIGNAL_TRUNK_STATUS, lambda s: s["trunk"] == 3 and s["lossAIS"] == 2147483647)
        self.assertEqual((s["slips"], s["lossBF"], s["lossCarrier"], s["lossAIS"], s["lossRAI"]),
                         (2147483648, 4294967295, 3000000000, 2147483647, 0))
        self.board.ask("trunk 3 0 0 0 0 0 0")
        self.board.ask("spi 4 51 0x85")
        s = self.signal(SIGNAL_TRUNK_STATUS, lambda s: s["type"] == 1 and s["trunk"] == 4 and s["state"] == 4)
        self.assertEqual((s["state"], s["slips"], s["clockMaster"]), (4, 0, 0))  # rai

    def test_a_refused_trunk_mode_is_not_written_by_a_later_one(self):
        self.board.ask("fail maintenance EIO 100 SET_TCLK")
        self.assertEqual(self.answer(trunk_cfg(2, SLAVE)), ("error", vx.INTERNAL))
        self.board.ask("fail maintenance none")
        self.assertEqual(self.board.ask("tclk"), "0")
        self.assertEqual(self.answer(trunk_cfg(1, SLAVE)), "success")
        self.assertEqual(self.board.ask("tclk"), "2")

    def test_the_simulated_voice_driver_version_is_the_rest_of_the_line(self):
        self.assertEqual(self.board.ask("voice-version"), "sim-voice 1.0")
        try:
            self.assertEqual(self.board.ask("voice-version \t DSP build 7 \r"), "")
            self.assertEqual(self.board.ask("voice-version"), "DSP build 7")
            with self.assertRaises(AssertionError):
                self.board.ask("voice-version " + "x" * 21)  # the driver's field holds 20 bytes
            self.assertEqual(self.board.ask("voice-version"), "DSP build 7")
        finally:
            self.board.ask("voice-version sim-voice 1.0")


class DisabledClock(vx.DaemonTest):
    daemon_args = ("--disable-clock",)

    def test_clock_configuration_is_refused(self):
        c = self.daemon.connect()
        try:
            c.send(clock_cfg(1, 0, 0))
            self.assertEqual(c.answer()[2:], ("error", UNSUPPORTED))
            self.assertIn("clock control disabled.", self.daemon.output())
        finally:
            c.close()


if __name__ == "__main__":
    vx.main()
