"""A switch that refuses or resets, end to end on voxrelay-sim: a slot destroyed while the switch
refuses leaves its routes to be taken down when it can and its channel to no one meanwhile; a
refused disconnect parts the slots and the switch takes the path down by itself; a reset switch is opened again with
the paths of live calls kept, and connections, the bus clock and the power code work on."""

import os
import subprocess
import sys
import tempfile
import time
import unittest

import vxharness as vx
from test_rtp import CodecSessionTest, udp_port

RTP_CHANNEL = 2048
DISCONNECT_FAIL = 8
IDLE = "constant 213"
RTP = ('create : rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr "127.0.0.1", port %d } }, '
       "txPayload ptG711-Alaw, rxPayload ptG711-Alaw }")
ISDN = "create : isdn : { type pri, trunk 0, log 0, side user : NULL }"
MCC = "create : mcc : { type data, mode standard }"


class TrunkSwitchCase(CodecSessionTest):
    """Trunk slots 1 to 3 on trunk 0 (switch numbers 1 to 3) and the switch's faults cleared
    after each test; no tests of its own."""

    def setUp(self):
        super().setUp()
        for slot in (1, 2, 3):
            self.assertEqual(self.send_to(slot, "create : trunk : { trunk 0, timeslot %d }" % slot), "success")

    def tearDown(self):
        self.board.ask("fail hal none")
        self.board.ask("fail-open hal none")
        super().tearDown()

    def switch(self, channel):
        return self.board.ask("switch %d" % channel)

    def connect(self, src, dst):
        return self.send_to(src, "connect : %d" % dst)

    def open_channels(self):
        return {int(line.split()[0]) for line in self.board.ask("channels") if "open=1" in line}


class SwitchRefusal(TrunkSwitchCase):

    def stream_channel(self, slot, alternative):
        found = self.slot_signal(slot, alternative, "active")
        self.assertIsNotNone(found)
        return int(found.split(" : ")[1])

    def refusing(self, error="EBUSY"):
        """The switch refuses every request until the test ends it."""
        self.board.ask("fail hal %s 1000000" % error)

    def test_a_destroy_the_switch_refused_leaves_nothing_to_the_next_slot(self):
        # Busy or finding the requests invalid, the switch takes the same takedowns later.
        for n, (kind, error) in enumerate((k, e) for e in ("EBUSY", "EINVAL") for k in ("isdn", "mcc", "rtp")):
            with self.subTest(kind=kind, error=error):
                try:
                    self.refused_destroy_case(kind, 20 + 2 * n, 21 + 2 * n, error)
                finally:
                    self.board.ask("fail hal none")

    def refused_destroy_case(self, kind, old, new, error):
        """A slot of that kind (number old) destroyed while the switch refuses; new is the next."""
        before = self.open_channels()
        if kind != "rtp":
            self.assertEqual(self.send_to(old, ISDN if kind == "isdn" else MCC), "success")
            (channel,) = self.open_channels() - before
        else:
            self.assertEqual(self.send_to(old, RTP % (udp_port() - 1)), "success")
            channel = self.stream_channel(old, "receiver")
        self.assertEqual(self.connect(old, 1), "success")
        self.assertEqual(self.connect(1, old), "success")
        self.assertEqual(self.switch(channel), "connected 1")
        self.board.ask("clear-requests")
        self.refusing(error)
        self.assertEqual(self.send_to(old, "destroy : NULL"), "success")
        self.assertEqual(self.switch(1), "connected %d" % channel)
        self.assertEqual(self.switch(channel), "connected 1")
        # The next slot of the kind gets another channel while the old routes stand.
        if kind != "rtp":
            self.assertEqual(self.send_to(new, MCC), "success")
            self.assertIn(channel, self.open_channels())
            self.assertEqual(len(self.open_channels() - before), 2)
        else:
            self.assertEqual(self.send_to(new, RTP % (udp_port() - 3)), "success")
            self.assertNotEqual(self.stream_channel(new, "receiver"), channel)
        # The retries of the takedowns meet refusals too, not only their first requests.
        self.assertTrue(vx.wait_for(lambda: sum(vx.refused(self.board, "hal", name, c) for c in (1, channel)
                                                for name in ("MUX_WRITE", "MUX_DISABLE")) >= 4))
        self.board.ask("fail hal none")
        # Taken down once the switch lets them: the trunk idle, the channel quiet.
        self.assertTrue(vx.wait_for(lambda: self.switch(1) == IDLE, 5), self.switch(1))
        self.assertTrue(vx.wait_for(lambda: self.switch(channel) != "connected 1", 3))
        if kind != "rtp":
            self.assertTrue(vx.wait_for(lambda: channel not in self.open_channels(), 3))
        # And they stay down: no retry brings an older wish back.
        time.sleep(0.3)
        self.assertEqual(self.switch(1), IDLE)
        self.assertNotEqual(self.switch(channel), "connected 1")
        self.assertEqual(self.send_to(new, "destroy : NULL"), "success")

    def test_a_refused_disconnect_parts_the_slots_and_the_switch_catches_up(self):
        self.assertEqual(self.connect(1, 2), "success")
        with vx.failing(self.board, "hal", "EBUSY", "any", first=2):
            self.assertEqual(self.send_to(2, "disconnect : NULL"), DISCONNECT_FAIL)
        # The slots parted: the takedown is the switch's to catch up on, by itself; the log says
        # when the refusals start and when they end.
        self.assertTrue(vx.wait_for(lambda: self.switch(2) == IDLE, 3), self.switch(2))
        since = self.daemon.output().rindex("hwMux: disconnect failed 2 : ")
        self.assertRegex(self.daemon.output()[since:],
                         "hwMux: owed requests refused: Device or resource busy, [0-9]+ left\n")
        self.assertTrue(vx.wait_for(lambda: "hwMux: owed requests taken" in self.daemon.output()[since:]))
        self.assertEqual(self.send_to(2, "disconnect : NULL"), "success", "nothing left to take down")
        self.board.ask("clear-requests")
        self.assertEqual(self.connect(1, 2), "success")
        self.assertEqual(self.switch(2), "connected 1", "a fresh connect makes the path")

    def test_a_reset_switch_keeps_live_paths_and_serves_on(self):
        self.assertEqual(self.connect(1, 2), "success")
        self.board.ask("power 2")
        self.board.ask("hangup hal")
        self.assertEqual(self.connect(3, 1), "success")
        self.assertEqual(self.switch(1), "connected 3")
        self.assertEqual(self.switch(2), "connected 1", "a call made before the reset keeps its path")
        self.assertEqual(self.send_to(2, "disconnect : NULL"), "success")
        self.assertEqual(self.switch(2), IDLE)
        self.assertEqual(self.send_to(0, "clockCfg : { clkSel0 internal, bextEn disabled, source -1 }"), "success")
        # The power code is read again on the new descriptor.
        self.board.ask("power 1")
        status = self.daemon.path("/var/monitoring/powerstatus")

        def standby():
            try:
                with open(status) as f:
                    return f.read().strip() == "1"
            except OSError:
                return False
        self.assertTrue(vx.wait_for(standby, 6), "powerstatus not updated")
        self.assertTrue(os.path.exists(status))


class FaultTesterByHand(unittest.TestCase):
    def test_a_run_against_a_daemon_without_the_codec_tool_fails_naming_it(self):
        # As the README runs it, against the daemon of a build without the tests' helpers.
        tester = os.path.join(os.path.dirname(os.path.abspath(__file__)), "test_switch_faults.py")
        with tempfile.TemporaryDirectory(dir="/tmp") as build:
            daemon = os.path.join(build, "voxrelay-sim")
            os.symlink(vx.DAEMON, daemon)
            run = subprocess.run([sys.executable, tester, "--daemon", daemon, "--seed", "1234", "--steps", "5"],
                                 capture_output=True, text=True, timeout=120)
        self.assertNotEqual(run.returncode, 0, run.stderr)
        self.assertIn("build the target vx_lgcp_text", run.stderr)


if __name__ == "__main__":
    vx.main()
