"""Monitoring end to end: the status files at start and after "display" in every alternative
(value notation through vx_lgcp_text), and a fake SNMP agent fed over TCP."""

import difflib
import os
import socket
import struct
import threading
import unittest

import vxharness as vx
import test_hardware as hw
from test_modem import Codec

GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "monitoring_golden")


def hexs(text):
    return "'%s'H" % text.encode().hex()


def controller(host, status):
    return 'controller : { host { iaddr "%s", port 0 }, status %s }' % (host, status)


def decode_mon(frame):
    """A MON message the gateway sends: ('set', [('section/index/name', value)]),
    ('trapsinks', [host]) or ('other', None)."""
    r = hw.Reader(frame)
    if r.take(3) != 0:
        return "other", None
    alt = r.take(2)
    if alt not in (0, 1):
        return "other", None
    r.take(1)
    items = []
    for _ in range(r.length()):
        r.take(1)
        if alt == 0:
            r.octets()        # uniq
            r.take(1)
            if r.take(1) != 1:
                return "other", None
            r.take(1)
            section, name = r.octets().decode(), r.octets().decode()
            index = int.from_bytes(r.octets(), "big", signed=True)
            items.append(("%s/%d/%s" % (section, index, name), r.octets().decode()))
        else:
            has_port = r.take(1)
            items.append(r.octets().decode())
            if has_port:
                r.octets()
    return ("set" if alt == 0 else "trapsinks"), items


class FakeAgent:
    """An SNMP agent on loopback: takes the gateway's connection and keeps every message."""

    def __init__(self):
        self.server = socket.create_server(("127.0.0.1", 0))
        self.port = self.server.getsockname()[1]
        self.messages = []
        self.lock = threading.Lock()
        threading.Thread(target=self._run, daemon=True).start()

    def _run(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            buf = b""
            with conn:
                while chunk := conn.recv(65536):
                    buf += chunk
                    while len(buf) >= 4 and len(buf) >= struct.unpack(">H", buf[2:4])[0]:
                        n = struct.unpack(">H", buf[2:4])[0]
                        with self.lock:
                            self.messages.append(decode_mon(buf[4:n]))
                        buf = buf[n:]

    def of(self, kind):
        with self.lock:
            return [items for k, items in self.messages if k == kind]

    def values(self):
        """The last value sent for each 'section/index/name'."""
        return dict(item for items in self.of("set") for item in items)


FRAMER = ("Framer                  : 0\n"
          "Current state           : Active\n"
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
                lines.append("%s = %r" % (rel, vx.read(full)))
    return "\n".join(sorted(lines)) + "\n"


class Monitoring(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.agent = FakeAgent()
        config = ("[snmpagent]\nhost = 127.0.0.1:%d\nname = quor\n" % cls.agent.port +
                  "[snmpagent]\nhost = 127.0.0.1\nname = quor\n")
        cls.daemon = d = vx.Daemon(config=config)
        for folder in ("/proc/driver/hdlc/peb22554", "/proc/voice", "/outside", "/var/monitoring/other"):
            os.makedirs(d.path(folder))
        for path, text in (("/var/version", "T1.2\n"), ("/proc/temperature", "41 C\n"),
                           ("/proc/voice/version", "voice 1.2.3 20240101\n"),
                           ("/usr/local/etc/config.0000001a-000000000000002b", ""),
                           ("/proc/driver/hdlc/peb22554/0", FRAMER),
                           ("/var/monitoring/stale", "old"), ("/var/monitoring/other/keep", "theirs"),
                           ("/outside/keep", "mine")):
            with open(d.path(path), "w") as f:
                f.write(text)
        os.symlink(d.path("/outside"), d.path("/var/monitoring/link"))
        d.start()
        cls.board = hw.Board(d)
        # The power and DIP check runs 2 s after the start, the controller check at 5 s.
        assert vx.wait_for(lambda: all(os.path.exists(d.path("/var/monitoring/" + f))
                                       for f in ("dip", "config_version", "controller/self")), 10), d.output()
        cls.own = os.path.basename(os.readlink(d.path("/var/monitoring/controller/self")))
        cls.start_tree = cls.normalise(tree(d.root, "/var/monitoring"))

    @classmethod
    def tearDownClass(cls):
        cls.board.close()
        cls.daemon.cleanup()
        cls.agent.server.close()

    @classmethod
    def normalise(cls, text):
        return text.replace(cls.daemon.root, "ROOT").replace(cls.own, "OWN")

    def golden(self, name, text):
        path = os.path.join(GOLDEN, name)
        if os.environ.get("VOXRELAY_REGOLD"):
            with open(path, "w") as f:
                f.write(text)
        expected = vx.read(path)
        self.assertEqual(text, expected, "".join(difflib.unified_diff(
            expected.splitlines(True), text.splitlines(True), "golden", "now")))

    def test_a_status_files_after_start_and_the_agents_full_resend(self):
        self.golden("start.txt", self.start_tree)
        self.assertEqual(vx.read(self.daemon.path("/outside/keep")), "mine")
        self.assertTrue(vx.wait_for(lambda: self.agent.values().get("gatewayCommon/0/temperature") == "41"))
        values = self.agent.values()
        for key, value in (("gatewayCommon/0/gatewayConfigVersion", "26"), ("e1Table/1/e1PosSlipCount", "2")):
            self.assertEqual(values.get(key), value, key)
        self.assertIn("ifTable/2/ifDescr", values)
        self.assertNotIn("statusGeneral/0/sgBuildVersion", values)  # a kind-4 item

    def test_b_display_every_alternative_then_files_after_changes(self):
        codec = Codec.for_test(self)
        c = self.daemon.connect()
        try:
            reports = [
                "board : boardStatus : { position 3, version %s, status ready, type fxs }" % hexs("1.2"),
                "board : boardChannelStatus : { position 3, channel 1, status { callerID '31'H, calledID '32'H } }",
                'snmpTrapReceivers : { "10.0.0.1", "10.0.0.2" }',
                "framer : { e1 2, info line : TRUE }", "framer : { e1 2, info link : TRUE }",
                "emPhone : phoneStatus : { id 0, panelSV %s, ctrlSV %s, fpgaSV %s, status ready, powerStatus main, "
                "mode active, hookStatus connected, baseStatus disconnected }" % (hexs("p"), hexs("c"), hexs("f")),
                "emPhone : phoneChannelStatus : { phoneId 0, channel 1 }",
                controller("10.0.0.9", "ok"), controller(self.own, "active"),
                "termCounter : { owner router, cnt 5 }", "termCounter : { owner extBoard, ownerId 2, cnt 9 }",
                "termCounter : { owner extBoard, cnt 1 }",
                'snmp-set : { commands { { uniq 1, id name : { section "gw", name "descr", index 2 }, value "x" }, '
                '{ uniq 2, id name : { section "gw", name "descr", index 2 }, value "y" }, '
                '{ uniq 3, id name : { section "..", name "x", index 0 }, value "a" } } }',
            ]
            for seq, report in enumerate(reports, 1):
                c.send(codec.encode("{ seq %d, pdu command : display : %s }" % (seq, report)))
                self.assertEqual(c.answer(), (seq, None, "success", None), report)
            self.golden("changes.txt", self.normalise(tree(self.daemon.root, "/var/monitoring")))
            self.assertTrue(vx.wait_for(lambda: "gw/2/descr" in self.agent.values()))
            values = self.agent.values()
            for key, value in (("emPhoneTable/1/emPhoneHookStatus", "1"), ("gw/2/descr", "y"),
                               ("gatewayCommon/0/controllerStatus", "2")):
                self.assertEqual(values.get(key), value, key)
            self.assertIn(["10.0.0.1", "10.0.0.2"], self.agent.of("trapsinks"))
        finally:
            c.close()
        # Without the controller the board files go, the rest stays.
        self.assertTrue(vx.wait_for(lambda: not os.path.exists(self.daemon.path("/var/monitoring/board3"))))
        self.assertTrue(os.path.exists(self.daemon.path("/var/monitoring/emphone0")))


if __name__ == "__main__":
    vx.main()
