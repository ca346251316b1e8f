"""Monitoring end to end: the status files under the private root, "display" in every
alternative, the power signal after a change injected through the simulator, path-shaped SNMP
set commands refused, and a fake SNMP agent (TPKT + aligned PER MON messages) fed over TCP."""

import difflib
import os
import socket
import struct
import threading
import time
import unittest

import vxharness as vx
import test_hardware as hw

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "monitoring_golden")
DISPLAY = 13
POWER_SIGNAL = 17


# ---- LGCP "display" commands, aligned PER by hand ------------------------------------------

_int = vx.integer


def _octets(b, data):
    """Unconstrained OCTET STRING or IA5String (8 bits a character when aligned)."""
    if isinstance(data, str):
        data = data.encode()
    b.octets(bytes([len(data)]) + data)


def display(alt, body, seq):
    def params(b):
        b.put(0, 1)           # DisplayParams: root
        b.put(alt, 3)
        body(b)
    return vx.command_with(DISPLAY, params, seq)


def board_status(position, status, version, kind):
    def body(b):
        b.put(0, 2)           # BoardInfo: root, boardStatus
        b.put(0, 1)           # BoardStatusParams: no extension
        _int(b, position)
        _octets(b, version)
        b.put(status, 2)
        b.put(kind, 3)
    return 0, body


def _channel_report(alt, owner, channel, board):
    """The second alternative of BoardInfo or EmPhoneInfo: an owner number and a channel."""
    def body(b):
        b.put(0, 1)
        b.put(1, 1)           # boardChannelStatus / phoneChannelStatus
        b.put(0, 1)
        _int(b, owner)
        _int(b, channel)
        if board:
            b.put(0, 1)       # ExtBoardChannelStatus
            _octets(b, b"1")
            _octets(b, b"2")
    return alt, body


def board_channel(position, channel):
    return _channel_report(0, position, channel, True)


def trap_receivers(hosts):
    def body(b):
        b.octets(bytes([len(hosts)]))
        for h in hosts:
            _octets(b, h)
    return 1, body


def framer(e1, line, value):
    def body(b):
        b.put(0, 1)           # FramerInfo: no extension
        b.put(e1, 2)
        b.put(0, 1)           # FramerInfoData: root
        b.put(0 if line else 1, 1)
        b.put(1 if value else 0, 1)
    return 2, body


def phone_status(ident, panel, ctrl, fpga, status, power, mode, hook, base):
    def body(b):
        b.put(0, 2)           # EmPhoneInfo: root, phoneStatus
        b.put(0, 1)
        _int(b, ident)
        for v in (panel, ctrl, fpga):
            _octets(b, v)
        for v in (status, power, mode, hook, base):
            b.put(v, 2)
    return 3, body


def phone_channel(ident, channel):
    return _channel_report(3, ident, channel, False)


def controller(host, status):
    def body(b):
        b.put(0, 1)           # ControllerInfo: no extension
        _octets(b, host)      # HostAddress.iaddr
        b.octets(struct.pack(">H", 0))
        b.put(status, 3)
    return 4, body


def term_counter(owner, owner_id, cnt):
    def body(b):
        b.put(0, 1)
        b.put(owner_id is not None, 1)
        b.put(owner, 3)
        if owner_id is not None:
            _int(b, owner_id)
        _int(b, cnt)
    return 5, body


def snmp_set(commands):
    """commands: (uniq, section, name, index, value) each."""
    def body(b):
        b.put(0, 1)           # SnmpSetCommands: no extension
        b.octets(bytes([len(commands)]))
        for uniq, section, name, index, value in commands:
            b.put(0, 1)       # SnmpSetCommand: no extension
            _int(b, uniq)
            b.put(0, 1)       # SnmpSetCommandId: root
            b.put(1, 1)       # name
            b.put(0, 1)       # IniName: no extension
            _octets(b, section)
            _octets(b, name)
            _int(b, index)
            _octets(b, value)
    return 6, body


# ---- reading bits --------------------------------------------------------------------------

class Reader(hw.Reader):
    """The signal reader of the hardware tests, its integers with the lengths of the MON messages."""

    def integer(self):
        return int.from_bytes(self.octets(), "big", signed=True)


def power_value(frame):
    """The POWERStatus of an LGCP power signal, or None for any other message."""
    r = Reader(frame)
    if vx.read_signal_start(r)[1] != POWER_SIGNAL:
        return None
    return r.take(2)


def decode_mon(frame):
    """A MON message the gateway sends: ('set', [(uniq, 'section/index/name', value)]),
    ('trapsinks', [host]), ('ping', None) or ('other', None)."""
    r = Reader(frame)
    if r.take(2) != 0 or r.take(1) != 0:
        return "other", None
    alt = r.take(2)
    if alt == 3:
        return "ping", None
    r.take(1)                 # list record: no extension
    n = r.length()
    items = []
    for _ in range(n):
        r.take(1)
        if alt == 0:
            uniq = r.integer()
            r.take(1)
            if r.take(1) != 1:
                return "other", None
            r.take(1)
            section, name = r.octets().decode(), r.octets().decode()
            index = r.integer()
            items.append((uniq, "%s/%d/%s" % (section, index, name), r.octets().decode()))
        elif alt == 1:
            has_port = r.take(1)
            items.append(r.octets().decode())
            if has_port:
                r.integer()
    return ("set" if alt == 0 else "trapsinks"), items


class FakeAgent:
    """An SNMP agent on loopback: takes the gateway's connection and keeps every message."""

    def __init__(self):
        self.server = socket.socket()
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(4)
        self.port = self.server.getsockname()[1]
        self.messages = []    # (monotonic time, kind, items)
        self.lock = threading.Lock()
        self.running = True
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        self.server.settimeout(0.2)
        while self.running:
            try:
                conn, _ = self.server.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            buf = b""
            conn.settimeout(0.2)
            while self.running:
                try:
                    chunk = conn.recv(65536)
                except socket.timeout:
                    continue
                if not chunk:
                    break
                buf += chunk
                while len(buf) >= 4 and len(buf) >= struct.unpack(">H", buf[2:4])[0]:
                    n = struct.unpack(">H", buf[2:4])[0]
                    kind, items = decode_mon(buf[4:n])
                    with self.lock:
                        self.messages.append((time.monotonic(), kind, items))
                    buf = buf[n:]
            conn.close()

    def sets(self):
        with self.lock:
            return [item for _, kind, items in self.messages if kind == "set" for item in items]

    def values(self):
        """The last value sent for each 'section/index/name'."""
        return {key: value for _, key, value in self.sets()}

    def of(self, kind):
        with self.lock:
            return [m for m in self.messages if m[1] == kind]

    def close(self):
        self.running = False
        self.server.close()
        self.thread.join(2)


FRAMER = ("Framer                  : %d\n"
          "Current state           : %s\n"
          "Loss of Signal          : no\n"
          "Loss of Frame Alignment : no\n"
          "Receive Slip Negative   : 0\n"
          "Receive Slip Positive   : 2\n")


def tree(root, folder):
    """Every entry under the folder, as the golden texts list them."""
    base = root + folder
    lines = []
    for dirpath, dirnames, filenames in os.walk(base):
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, base)
            if os.path.islink(full):
                lines.append("%s -> %s" % (rel, os.readlink(full)))
            elif os.path.isdir(full):
                lines.append(rel + "/")
            else:
                with open(full) as f:
                    lines.append("%s = %r" % (rel, f.read()))
    return "\n".join(sorted(lines)) + "\n"


class Monitoring(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.agent = FakeAgent()
        config = ("[snmpagent]\nhost = 127.0.0.1:%d\nname = quor\n" % cls.agent.port +
                  "[snmpagent]\nhost = 127.0.0.1\nname = quor\n")
        cls.daemon = vx.Daemon(config=config)
        d = cls.daemon
        os.makedirs(d.path("/proc/driver/hdlc/peb22554"))
        os.makedirs(d.path("/proc/voice"))
        os.makedirs(d.path("/outside"))
        for path, text in (("/var/version", "T1.2\n"), ("/proc/temperature", "41 C\n"),
                           ("/proc/voice/version", "voice 1.2.3 20240101\n"),
                           ("/usr/local/etc/config.0000001a-000000000000002b", ""),
                           ("/proc/driver/hdlc/peb22554/0", FRAMER % (0, "Active")),
                           ("/var/monitoring/stale", "old"), ("/outside/keep", "mine")):
            with open(d.path(path), "w") as f:
                f.write(text)
        os.symlink(d.path("/outside"), d.path("/var/monitoring/link"))
        cls.started = time.monotonic()
        d.start()
        cls.board = hw.Board(d)
        # The power and DIP check runs 2 s after the start, the background one (configuration)
        # at 1 s, the controller check when the harness's probe came and went.
        assert vx.wait_for(lambda: all(os.path.exists(d.path("/var/monitoring/" + f))
                                       for f in ("dip", "config_version", "controller/self")), 10), d.output()
        time.sleep(0.2)
        cls.own = os.path.basename(os.readlink(d.path("/var/monitoring/controller/self")))
        cls.start_tree = cls.normalise(tree(d.root, "/var/monitoring"))

    @classmethod
    def tearDownClass(cls):
        cls.board.close()
        cls.daemon.cleanup()
        cls.agent.close()

    @classmethod
    def normalise(cls, text):
        return text.replace(cls.daemon.root, "ROOT").replace(cls.own, "OWN")

    def golden(self, name, text):
        path = os.path.join(GOLDEN, name)
        if os.environ.get("VOXRELAY_REGOLD"):
            with open(path, "w") as f:
                f.write(text)
        with open(path) as f:
            expected = f.read()
        self.assertEqual(text, expected, "".join(difflib.unified_diff(
            expected.splitlines(True), text.splitlines(True), "golden", "now")))

    def test_a_status_files_after_start(self):
        self.golden("start.txt", self.start_tree)
        self.assertEqual(vx.read(self.daemon.path("/outside/keep")), "mine")

    def test_b_display_every_alternative_then_files_after_changes(self):
        c = self.daemon.connect()
        try:
            reports = [
                board_status(3, 3, b"1.2", 2), board_channel(3, 1), trap_receivers(["10.0.0.1", "10.0.0.2"]),
                framer(2, True, True), framer(2, False, True), phone_status(0, b"p", b"c", b"f", 2, 2, 1, 1, 2),
                phone_channel(0, 1), controller("10.0.0.9", 1), controller(self.own, 2),
                term_counter(1, None, 5), term_counter(4, 2, 9), term_counter(4, None, 1),
                snmp_set([(1, "gw", "descr", 2, "x"), (2, "gw", "descr", 2, "y")]),
            ]
            for seq, (alt, body) in enumerate(reports, 1):
                c.send(display(alt, body, seq))
                self.assertEqual(c.answer(), (seq, None, "success", None), "alternative %d" % alt)
            self.assertEqual(self.board.ask("leds"), str(0x20))
            self.golden("changes.txt", self.normalise(tree(self.daemon.root, "/var/monitoring")))
            # The agent gets the reports as set commands, the trap sinks as a list.
            self.assertTrue(vx.wait_for(lambda: "gw/2/descr" in self.agent.values()))
            values = self.agent.values()
            self.assertEqual(values["extBoardTable/3/extBoardSoftVer"], "1.2")
            self.assertEqual(values["emPhoneTable/1/emPhoneHookStatus"], "1")
            self.assertEqual(values["gatewayTermCounters/0/routerTermCnt"], "5")
            self.assertEqual(values["extBoardTermCntTable/2/extBoardTermCnt"], "9")
            self.assertEqual(values["gatewayCommon/0/controllerStatus"], "2")
            self.assertIn(["10.0.0.1", "10.0.0.2"], [m[2] for m in self.agent.of("trapsinks")])
        finally:
            c.close()
        # Without the controller the board files go, the rest stays.
        self.assertTrue(vx.wait_for(lambda: not os.path.exists(self.daemon.path("/var/monitoring/board3"))))
        self.assertTrue(os.path.exists(self.daemon.path("/var/monitoring/emphone0")))

    def test_c_power_change_is_signalled(self):
        c = self.daemon.connect()
        try:
            self.board.ask("power 1")
            deadline = time.monotonic() + 5
            value = None
            while value is None and time.monotonic() < deadline:
                f = c.raw_frame(timeout=5)
                value = power_value(f) if f else None
            self.assertEqual(value, 1)
            self.assertEqual(vx.read(self.daemon.path("/var/monitoring/powerstatus")), "1")
            self.assertTrue(vx.wait_for(lambda: self.agent.values().get("gatewayCommon/0/powerStatus") == "1"))
        finally:
            self.board.ask("power 0")
            c.close()

    def test_d_path_shaped_sections_and_names_are_refused(self):
        root = self.daemon.root

        def outside():
            found = set()
            for dirpath, dirnames, filenames in os.walk(root):
                rel = os.path.relpath(dirpath, root)
                if rel.startswith(("var/monitoring", "var/log")):
                    continue
                found.update(os.path.join(rel, n) for n in dirnames + filenames)
            return found

        before = outside()
        c = self.daemon.connect()
        try:
            evil = [(1, "..", "x", 0, "a"), (2, "../..", "y", 0, "a"), (3, "gw", "../../z", 0, "a"),
                    (4, "a/b", "c", 0, "a"), (5, "", "e", 0, "a"), (6, "gw", "..", 0, "a"),
                    (7, "gw", "", 0, "a"), (8, ".", "f", 0, "a")]
            alt, body = snmp_set(evil)
            c.send(display(alt, body, 77))
            self.assertEqual(c.answer(), (77, None, "success", None))
        finally:
            c.close()
        self.assertEqual(outside() - before, set())
        for name in ("x", "y", "z", "var/x", "var/z", "var/monitoring/x"):
            self.assertFalse(os.path.exists(os.path.join(root, name)), name)
        self.assertFalse(os.path.exists(self.daemon.path("/var/monitoring/a")))
        self.assertIn("refuse SNMP set command", self.daemon.output())

    def test_e_agent_got_the_full_resend_and_pings(self):
        values = self.agent.values()
        self.assertEqual(values["gatewayCommon/0/gatewayConfigVersion"], "26")
        self.assertEqual(values["gatewayCommon/0/driverBuild"], "1.2.3 [20240101]")
        self.assertEqual(values["gatewayCommon/0/temperature"], "41")
        self.assertEqual(values["e1Table/1/e1StatusDsc"], "Active")
        self.assertEqual(values["e1Table/1/e1PosSlipCount"], "2")
        self.assertIn("ifTable/2/ifDescr", values)
        self.assertNotIn("statusGeneral/0/sgBuildVersion", values)  # a kind-4 item
        for _, kind, items in self.agent.messages:
            if kind == "set":
                self.assertLessEqual(len(items), 100)
        self.assertTrue(vx.wait_for(lambda: len(self.agent.of("ping")) >= 1, 8))

    def test_z_framer_status_injected_through_the_simulator(self):
        self.board.ask("framer 0 No_Carrier yes yes 3 4")
        # The framers are read once a minute, counted from the first reading 1 s after the start.
        left = self.started + 66 - time.monotonic()
        self.assertTrue(vx.wait_for(lambda: self.agent.values().get("e1Table/1/e1StatusDsc") == "No Carrier",
                                    max(left, 1)))
        values = self.agent.values()
        self.assertEqual(values["e1Table/1/e1Connected"], "0")
        self.assertEqual(values["e1Table/1/e1NegSlipCount"], "3")


if __name__ == "__main__":
    vx.main()
