"""Steps of the board's time of day under a running controller: the daemon in daemon mode under
libfaketime, with only the time of day moved (the monotonic clock left alone, as a real step
leaves it). A controller that pings every 5 s keeps its connection and its slots, the trunk
status keeps coming once a second, and the syslog lines show the new time of day."""

import glob
import os
import re
import socket
import time
import unittest

import vxharness as vx
from test_hardware import SIGNAL_TRUNK_STATUS, parse_signal
from test_modem import Codec
from test_rtp import Board, udp_port
from test_slots import create_trunk

FAKETIME = sorted(glob.glob("/usr/lib/*/faketime/libfaketime.so.1"))
STAMP = re.compile(rb"^<\d+>\w{3} [ \d]\d (\d\d):(\d\d):(\d\d) ")


def seconds_of_day(t):
    lt = time.localtime(t)
    return lt.tm_hour * 3600 + lt.tm_min * 60 + lt.tm_sec


@unittest.skipUnless(FAKETIME, "libfaketime is not installed")
class TimeOfDaySteps(unittest.TestCase):
    def setUp(self):
        if vx.EMULATOR:
            self.skipTest("libfaketime is built for the host's CPU")
        self.d = vx.Daemon(args=["-D"])
        self.offset_file = self.d.path("/faketime")
        self.set_offset("+0")
        self.d.env.update(LD_PRELOAD=FAKETIME[0], FAKETIME_TIMESTAMP_FILE=self.offset_file,
                          FAKETIME_NO_CACHE="1", FAKETIME_DONT_FAKE_MONOTONIC="1")
        self.log = vx.SyslogSink(self.d.path("/dev/log"))
        self.d.start(wait=False)
        self.assertEqual(self.d.proc.wait(10), 0)
        self.d.wait_listening(forked=True)
        self.codec = Codec(os.path.join(os.path.dirname(vx.DAEMON), "vx_lgcp_text"))
        self.seq = 0

    def tearDown(self):
        self.codec.close()
        self.codec.proc.stdout.close()
        for end in ("c", "board"):
            if hasattr(self, end):
                getattr(self, end).close()
        try:
            self.d.signal(15)
            vx.wait_for(lambda: not os.path.exists(self.d.path("/var/run/server.pid")))
        finally:
            self.log.close()
            self.d.cleanup()

    def set_offset(self, text):
        """A new offset, replaced whole: libfaketime rereads the file at every clock read and
        would take a half-written one for no offset at all."""
        with open(self.offset_file + ".new", "w") as f:
            f.write(text + "\n")
        os.rename(self.offset_file + ".new", self.offset_file)

    def command(self, payload):
        """The answer ("success" or the error cause) to one command; signals before it are kept
        with their arrival times."""
        self.c.send(payload)
        while True:
            frame = self.c.raw_frame()
            self.assertIsNotNone(frame, "the daemon dropped the controller")
            m = vx.parse_message(frame)
            if m[2] != "signal":
                return m[2] if m[2] == "success" else m[3]
            self.keep(frame)

    def keep(self, frame):
        m = vx.parse_message(frame)
        if m[3] != SIGNAL_TRUNK_STATUS or m[1] is not None:
            return
        status = parse_signal(frame)[1]
        if (status["trunk"], status["type"]) == (0, 0):  # the first E1 trunk
            self.status_times.append(time.monotonic())

    def ping_for(self, seconds):
        """Pings every 5 s for that long, noting when trunk 0's status arrives."""
        end = time.monotonic() + seconds
        next_ping = time.monotonic()
        while time.monotonic() < end:
            if time.monotonic() >= next_ping:
                self.seq += 1
                self.assertEqual(self.command(vx.command(vx.PING, seq=self.seq)), "success")
                next_ping += 5
            try:
                frame = self.c.raw_frame(max(0.01, min(end, next_ping) - time.monotonic()))
            except socket.timeout:
                continue
            self.assertIsNotNone(frame, "the daemon dropped the controller")
            self.keep(frame)

    def logged_time_of_day(self, since):
        """The time of day of the first syslog record that arrived after `since`, in seconds of
        the day."""
        self.assertTrue(vx.wait_for(lambda: any(t > since for t, _ in self.log.records)))
        record = next(r for t, r in self.log.records if t > since)
        m = STAMP.match(record)
        self.assertIsNotNone(m, record)
        return int(m.group(1)) * 3600 + int(m.group(2)) * 60 + int(m.group(3))

    def assertSameTimeOfDay(self, logged, expected):
        gap = (logged - expected) % 86400
        self.assertLess(min(gap, 86400 - gap), 10, (logged, expected))

    def test_a_pinging_controller_keeps_its_connection_slots_and_status_across_steps(self):
        self.c = self.d.connect()
        self.board = board = Board(self.d)
        self.status_times = []
        self.assertEqual(self.command(create_trunk(10, 1, 5, seq=1)), "success")
        rtp = ('{ seq 2, slot 9, pdu command : create : rtp : { codecRTP { payload ptG711-Ulaw, dhost { iaddr '
               '"127.0.0.1", port %d } }, txPayload ptG711-Ulaw, rxPayload ptG711-Ulaw } }' % (udp_port() - 1))
        self.assertEqual(self.command(self.codec.encode(rtp)), "success")
        self.assertEqual(len(board.sessions()), 1)
        self.ping_for(3)

        # +3 h: NTP's first step on a board that booted with a clock hours behind; then 20 s
        # back, a clock corrected backwards.
        for text, seconds in (("+3h", 3 * 3600), ("+10780", 3 * 3600 - 20)):
            before = len(self.status_times)
            stepped = time.monotonic()
            self.set_offset(text)
            self.d.signal(1)  # SIGHUP: a logged line, stamped with the new time of day
            self.assertSameTimeOfDay(self.logged_time_of_day(stepped), seconds_of_day(time.time() + seconds))
            self.ping_for(7)
            times = self.status_times[before - 1:]
            gaps = [round(b - a, 2) for a, b in zip(times, times[1:])]
            self.assertTrue(6 <= len(gaps) <= 8 and all(0.5 < g < 1.5 for g in gaps), (text, gaps))

        self.assertEqual(len(board.sessions()), 1)
        self.assertEqual(self.command(vx.command(vx.DESTROY, seq=3, slot=10)), "success")  # still there
        text = b"\n".join(self.log.texts())
        self.assertNotIn(b"heartbeat timeout", text)
        self.assertNotIn(b"RUNTIME ERROR", text)


if __name__ == "__main__":
    vx.main()
