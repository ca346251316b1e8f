"""What peers and the board's files can hand the monitoring service and the log: line ends in
reported texts, set commands named after other status files or their former temporary names,
named pipes in the places the daemon polls, a framer file longer than one read, and peer text
that must stay within one syslog record."""

import os
import struct
import unittest

import vxharness as vx
import test_hardware as hw
from test_modem import Codec
from test_monitoring import FakeAgent, hexs
from test_input_bounds import CREATE_VOICE, create_file_player, length
from test_slots import _create as create, connect, create_trunk


def display(c, codec, seq, report):
    c.send(codec.encode("{ seq %d, pdu command : display : %s }" % (seq, report)))
    return c.answer()


def set_command(uniq, section, name, index, value):
    return ('{ uniq %d, id name : { section "%s", name "%s", index %d }, value "%s" }'
            % (uniq, section, name, index, value))


def ping(c, seq):
    c.send(vx.command(vx.PING, seq=seq))
    return c.answer(timeout=3) == (seq, None, "success", None)


class StatusFiles(vx.DaemonTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.board = hw.Board(cls.daemon)
        assert vx.wait_for(lambda: os.path.exists(cls.daemon.path("/var/monitoring/dip")), 10)

    @classmethod
    def tearDownClass(cls):
        cls.board.close()
        super().tearDownClass()

    def setUp(self):
        self.codec = Codec.for_test(self)
        self.c = self.daemon.connect()
        self.addCleanup(self.c.close)

    def file(self, name):
        return self.daemon.path("/var/monitoring/" + name)

    def set_dip(self, value):
        self.board.ask("dip %d" % value)
        self.assertTrue(vx.wait_for(lambda: vx.read(self.file("dip")) == str(value)), self.daemon.output())

    def test_line_ends_in_reported_versions_keep_each_file_to_its_lines(self):
        answer = display(self.c, self.codec, 1, "board : boardStatus : { position 3, version %s, status ready, "
                         "type fxs }" % hexs("1.2\n4"))
        self.assertEqual(answer, (1, None, "success", None))
        self.assertEqual(vx.read(self.file("board3")), "3\n1.2\\x0A4\n2\n")
        answer = display(self.c, self.codec, 2, "emPhone : phoneStatus : { id 0, panelSV %s, ctrlSV %s, fpgaSV %s, "
                         "status ready, powerStatus main, mode active, hookStatus connected, baseStatus disconnected }"
                         % (hexs("p\nC2\r\nF3"), hexs("c\\"), hexs("f\x00")))
        self.assertEqual(answer, (2, None, "success", None))
        self.assertEqual(vx.read(self.file("emphone0")).split("\n"),
                         ["p\\x0AC2\\x0D\\x0AF3", "c\\x5C", "f\\x00", "2", "2", "1", "1", "2", ""])

    def test_set_commands_named_like_temporary_files_touch_no_other_file(self):
        commands = [set_command(1, "dip_tmp", "x", 0, "d"), set_command(2, "gw", "a_tmp", 0, "theirs"),
                    set_command(3, "gw", "a", 0, "mine")]
        self.assertEqual(display(self.c, self.codec, 1, "snmp-set : { commands { %s } }" % ", ".join(commands)),
                         (1, None, "success", None))
        self.assertEqual(vx.read(self.file("gw/0/a_tmp")), "theirs")
        self.assertEqual(vx.read(self.file("gw/0/a")), "mine")
        self.assertEqual(vx.read(self.file("dip_tmp/0/x")), "d")
        # The DIP file follows the switch all the same, again with a pipe at its old temporary
        # name that nobody reads, and the controller is answered throughout.
        self.set_dip(7)
        os.rename(self.file("dip_tmp"), self.file("dip_tmp_moved"))
        os.mkfifo(self.file("dip_tmp"))
        self.set_dip(9)
        self.assertTrue(ping(self.c, 2))
        self.assertEqual(vx.read(self.file("gw/0/a_tmp")), "theirs")
        self.assertEqual([n for n in os.listdir(self.file("")) if n.startswith(".tmp.")], [])

    def test_a_section_named_after_a_status_file_is_logged_once(self):
        before = self.daemon.output().count("FAIL create monitoring catalog")
        self.assertEqual(display(self.c, self.codec, 1, "snmp-set : { commands { %s } }"
                                 % set_command(1, "powerstatus", "p", 0, "v")), (1, None, "success", None))
        # Three power checks later, each with its retry of the failed write, still one line.
        for dip in (11, 12, 13):
            self.set_dip(dip)
        output = self.daemon.output()
        self.assertEqual(output.count("FAIL create monitoring catalog") - before, 1, output)
        self.assertIn("FAIL create monitoring catalog <%s> with code=" % self.file("powerstatus"), output)
        self.assertTrue(os.path.isfile(self.file("powerstatus")))
        self.assertTrue(ping(self.c, 2))


FRAMER_HEAD = "Current state           : Active\n" + "".join("Driver line %04d: ....\n" % n for n in range(40))


def cut_framer(line, keep):
    """A framer file whose first 1,024 bytes end inside line, keep bytes into its value."""
    key, value = line.split(": ", 1)
    text = FRAMER_HEAD
    text += "x" * (1024 - len(text) - len(key) - 2 - keep - 1) + "\n"
    text += line + "\n" + "Receive Slip Positive   : 5\n"
    assert text.index(line) + len(key) + 2 + keep == 1024, len(text)
    return text


class PolledFiles(unittest.TestCase):
    """Named pipes in every polled place, and framer files cut by the read."""

    PIPES = ("/var/version", "/var/u-boot-version", "/var/fpga-version", "/var/board-version",
             "/proc/temperature", "/proc/voice/version", "/proc/driver/hdlc/peb22554/0")

    def test_pipes_are_skipped_and_a_line_cut_by_the_read_keeps_its_held_value(self):
        agent = FakeAgent()
        self.addCleanup(agent.server.close)
        d = vx.Daemon(config="[snmpagent]\nhost = 127.0.0.1:%d\nname = quor\n" % agent.port)
        self.addCleanup(d.cleanup)
        for folder in ("/proc/driver/hdlc/peb22554", "/proc/voice"):
            os.makedirs(d.path(folder))
        for path in self.PIPES:
            os.mkfifo(d.path(path))
        for n, line in ((1, "Loss of Signal          : yes"), (2, "Receive Slip Negative   : 123456"),
                        (3, "Current state           : No Carrier")):
            with open(d.path("/proc/driver/hdlc/peb22554/%d" % n), "w") as f:
                f.write(cut_framer(line, 1 if n == 1 else 2))
        d.start()
        c = d.connect()
        self.addCleanup(c.close)
        # The background check (1 s) and the agent's full resend have run past every pipe.
        self.assertTrue(vx.wait_for(lambda: agent.values().get("e1Table/2/e1StatusDsc") == "Active", 8), d.output())
        self.assertTrue(vx.wait_for(lambda: "gatewayCommon/0/gatewayDip" in agent.values(), 8), d.output())
        for seq in range(1, 4):
            self.assertTrue(ping(c, seq))
        values = agent.values()
        # Whole lines are taken; the cut one leaves its field as it was.
        for key, value in (("e1Table/2/e1StatusDsc", "Active"), ("e1Table/2/e1SignalLoss", "1"),
                           ("e1Table/3/e1NegSlipCount", "0"), ("e1Table/4/e1StatusDsc", "Active"),
                           ("e1Table/4/e1Connected", "1"), ("e1Table/2/e1PosSlipCount", "0")):
            self.assertEqual(values.get(key), value, key)
        self.assertEqual(values.get("e1Table/1/e1StatusDsc"), "absent")
        self.assertNotIn("gatewayCommon/0/driverBuild", values)


def create_recorder(slot, address, port, seq):
    def body(b):
        b.put(0, 1)          # VoiceParams: record
        length(b, len(address))
        b.octets(address)
        b.octets(struct.pack(">H", port))
    return create(CREATE_VOICE, slot, seq, body)


class PeerTextInSyslog(unittest.TestCase):
    def test_refused_address_and_phrase_name_stay_within_their_record(self):
        _, log, c = vx.daemon_mode(self)
        forged = b"\n<27>Dec  7 10:00:00 voxrelay: FORGED: ctrl [10.9.9.9:1]: controller connect."
        c.send(create_recorder(5, b"10.9.9.9" + forged, 1, 1))
        self.assertEqual(c.answer()[0], 1)
        c.send(create_trunk(6, 0, 27, seq=2))
        self.assertEqual(c.answer()[0], 2)
        c.send(create_file_player(7, ["../x\nFORGED: phrase"], 0, 3))
        self.assertEqual(c.answer()[0], 3)
        c.send(connect(7, 6, seq=4))
        self.assertEqual(c.answer()[0], 4)

        def records():
            return [r for batch in log.texts() for r in batch.split(b"\0") if r]

        self.assertTrue(vx.wait_for(lambda: any(b"phrase name refused" in r for r in records())), records())
        got = records()
        with_text = [r for r in got if b"FORGED" in r]
        self.assertEqual(len(with_text), 2, got)
        self.assertTrue(any(b"recorder refused: bad address 10.9.9.9\\x0A<27>Dec" in r for r in with_text), got)
        self.assertTrue(any(b"phrase name refused: ../x\\x0AFORGED: phrase" in r for r in with_text), got)


if __name__ == "__main__":
    vx.main()
