"""A daemon short of descriptors or controller channels: the soft descriptor limit is lowered
while it runs so that only a few are free, then raised again. No listener spins or loses its
service, a client the daemon cannot hold is closed, and a create answers success only when the
slot holds what it needs. After the limit is raised everything is served as before and no
descriptor is left behind. Also: a B channel whose close the device refused is closed again,
so that its subslot can be opened anew."""

import functools
import os
import resource
import socket
import time

import vxharness as vx
from test_rtp import CodecSessionTest, rtp

INSUFFICIENT = 1


def open_descriptors(pid):
    return {int(n) for n in os.listdir("/proc/%d/fd" % pid)}


def cpu_seconds(pid):
    fields = vx.read("/proc/%d/stat" % pid).rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


@functools.lru_cache
def sanitized(daemon):
    """Whether the daemon is the sanitizer build. Its runtime checks an object's dynamic type the
    first time a call site meets it by reading the object through a pipe: with no descriptor
    free that read fails and a sound object is reported broken, so a shortage cannot be
    tested there."""
    with open(daemon, "rb") as f:
        return b"UndefinedBehaviorSanitizer" in f.read()


def settled_descriptors(pid, gap=0.05, tries=100):
    """The daemon's open descriptors, read twice gap seconds apart until both reads agree: the
    daemon opens some for a moment now and then (its scans of /proc, its status files), and a
    limit drawn from a read that caught one would leave a descriptor more or less free than
    asked once it closes."""
    seen = open_descriptors(pid)
    for _ in range(tries):
        time.sleep(gap)
        now = open_descriptors(pid)
        if now == seen:
            break
        seen = now
    return seen


def leave_free_descriptors(test, pid, count=0, used=None):
    """Lowers the soft descriptor limit of the daemon at pid so that exactly count descriptor
    numbers are free (the test is skipped on the sanitizer build); used: the numbers taken, by
    default those open now, once they have settled (and read again should they change while
    the limit was set)."""
    if sanitized(vx.DAEMON):
        test.skipTest("the sanitizer's own checks need descriptors")
    hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)[1]
    for _ in range(20):
        taken = settled_descriptors(pid) if used is None else used
        limit, free = 0, 0
        while limit in taken or free < count:
            if limit not in taken:
                free += 1
            limit += 1
        resource.prlimit(pid, resource.RLIMIT_NOFILE, (limit, hard))
        if used is not None or open_descriptors(pid) == taken:
            return


class Resources(CodecSessionTest):
    auth_port = vx.free_port()
    daemon_env = {"VOXRELAY_AUTH_PORT": str(auth_port)}

    def setUp(self):
        super().setUp()
        self.pid = self.daemon.pid()
        self.soft, self.hard = resource.prlimit(self.pid, resource.RLIMIT_NOFILE)
        self.baseline = len(open_descriptors(self.pid))

    def tearDown(self):
        self.restore()
        super().tearDown()

    def leave_free(self, count):
        leave_free_descriptors(self, self.pid, count)

    def restore(self):
        resource.prlimit(self.pid, resource.RLIMIT_NOFILE, (self.soft, self.hard))

    def no_leak(self):
        self.assertTrue(vx.wait_for(lambda: len(open_descriptors(self.pid)) <= self.baseline),
                        "%d > %d: %s" % (len(open_descriptors(self.pid)), self.baseline,
                                         os.popen("ls -l /proc/%d/fd" % self.pid).read()))

    def auth_client(self):
        return socket.create_connection(("127.0.0.1", self.auth_port), timeout=5)

    def served_auth_client(self):
        """A client the authentication listener took (it says so), with the limit raised."""
        before = self.daemon.output().count("incoming auth connection from")
        c = self.auth_client()
        self.assertTrue(vx.wait_for(lambda: self.daemon.output().count("incoming auth connection from") > before),
                        self.daemon.output()[-2000:])
        return c

    def test_controller_is_served_again_after_a_shortage(self):
        self.c.close()
        # The controller's descriptor must be gone before the count, or its close frees one.
        self.assertTrue(vx.wait_for(lambda: len(open_descriptors(self.pid)) < self.baseline))
        for free in range(4):
            self.leave_free(free)
            starved = socket.create_connection(("127.0.0.1", self.daemon.port), timeout=5)
            if free == 0:  # the accept fails, however long a loaded machine takes to try it
                self.assertTrue(vx.wait_for(lambda: "\naccept failed: Too many open files" in self.daemon.output()))
            else:
                time.sleep(0.3)
            self.restore()
            # Whatever the daemon could make of that connection, a controller is served after it.
            starved.close()
            self.daemon.connect().close()
        self.assertEqual(self.daemon.output().count("\naccept failed: Too many open files"), 1)
        self.c = self.daemon.connect()
        self.no_leak()

    def test_a_controller_is_either_refused_at_once_or_served_for_good_during_a_shortage(self):
        # Its socket, the stream's copy, the watch and the connection check's copy: with fewer
        # descriptors free than that the controller must be refused before anything runs for
        # it, never taken and then cut by the daemon's own bookkeeping.
        self.c.close()
        self.assertTrue(vx.wait_for(lambda: len(open_descriptors(self.pid)) < self.baseline))
        outcomes = set()
        for free in range(1, 6):
            self.leave_free(free)
            before = len(self.daemon.output())
            c = vx.Controller(self.daemon.port)
            peer = "127.0.0.1:%d" % c.sock.getsockname()[1]
            try:
                c.send(vx.command(vx.PING, seq=1))
                first = c.answer(timeout=3)
            except (OSError, socket.timeout):
                first = None
            if first is None:
                outcomes.add("refused")
                text = lambda: self.daemon.output()[before:]
                self.assertTrue(vx.wait_for(lambda: "refuse connection from " + peer + ": " in text()), text())
                self.assertNotIn("controller connect.", text())
                # The reason is the shortage's, whichever copy could not be made.
                self.assertIn("refuse connection from " + peer + ": ", text())
                self.assertNotIn("Bad file descriptor", text())
            else:
                outcomes.add("served")
                self.assertEqual(first, (1, None, "success", None))
                # Longer than the connection check's period: it must not drop a sound peer.
                for seq in range(2, 7):
                    time.sleep(0.4)
                    c.send(vx.command(vx.PING, seq=seq))
                    self.assertEqual(c.answer(timeout=3), (seq, None, "success", None), self.daemon.output()[before:])
                self.assertNotIn("closed", self.daemon.output()[before:])
            c.close()
            self.restore()
            self.assertTrue(vx.wait_for(lambda: len(open_descriptors(self.pid)) < self.baseline))
        self.assertEqual(outcomes, {"refused", "served"})
        self.c = self.daemon.connect()
        self.no_leak()

    def test_auth_listener_pauses_without_descriptors_and_serves_when_they_are_back(self):
        self.leave_free(0)
        start = cpu_seconds(self.pid)
        c = self.auth_client()  # queued by the kernel, not taken by the daemon
        time.sleep(2)
        self.assertLess(cpu_seconds(self.pid) - start, 0.5)
        self.assertEqual(self.daemon.output().count("accept failed: Too many open files, accepting again in 1000 ms"),
                         1, self.daemon.output()[-2000:])
        self.restore()
        # The queued peer is taken once the pause ends.
        self.assertTrue(vx.wait_for(lambda: "incoming auth connection from" in self.daemon.output()))
        c.close()
        self.served_auth_client().close()

    def test_auth_clients_that_cannot_be_watched_are_closed_and_not_counted(self):
        for _ in range(20):
            self.leave_free(1)
            c = self.auth_client()
            c.settimeout(2)
            try:
                self.assertEqual(c.recv(1), b"")  # closed at once
            except socket.timeout:
                pass  # a descriptor the daemon took meanwhile left none for the accept: queued
            c.close()
            self.restore()
        self.assertTrue(" closed: Too many open files" in self.daemon.output(), self.daemon.output()[-1500:])
        self.assertFalse("too many auth connections" in self.daemon.output(), self.daemon.output()[-1500:])
        held = [self.served_auth_client() for _ in range(3)]
        self.assertNotIn("too many auth connections", self.daemon.output())
        for c in held:
            c.close()
        self.no_leak()

    def heard_rtp_slot(self, slot):
        """The RTP slot hears its session: a packet loss event reaches the controller."""
        channel = next(iter(self.board.sessions()))
        self.assertEqual(self.send_to(slot, "ioctl : pd-enable : { timeout 100 }"), "success")
        self.assertEqual(self.board.ask("rtp-event %d 1 0" % channel), "1")
        self.assertIsNotNone(self.signal("rtp"))

    def test_rtp_create_is_refused_unless_the_slot_holds_its_session(self):
        # The tone and DSP services open their devices at their first use and keep them.
        self.assertEqual(self.send_to(9, rtp()), "success")
        self.heard_rtp_slot(9)
        self.assertEqual(self.send_to(9, "destroy : NULL"), "success")
        self.assertTrue(vx.wait_for(lambda: not self.board.sessions()))
        self.baseline = len(open_descriptors(self.pid))
        refused = 0
        for free in range(7):
            self.leave_free(free)
            answer = self.send_to(9, rtp())
            sessions = self.board.sessions()
            if answer == "success":
                self.assertEqual(len(sessions), 1, "free=%d" % free)
                self.restore()
                self.heard_rtp_slot(9)
                self.assertEqual(self.send_to(9, "destroy : NULL"), "success")
            else:
                refused += 1
                self.assertEqual(answer, INSUFFICIENT, "free=%d" % free)
                self.assertEqual(sessions, {}, "free=%d" % free)
            self.restore()
            self.assertTrue(vx.wait_for(lambda: not self.board.sessions()))
            self.no_leak()
        self.assertGreater(refused, 0)
        self.assertEqual(self.send_to(9, rtp()), "success")
        self.heard_rtp_slot(9)

    def test_channel_creates_are_refused_unless_the_slot_holds_its_channel(self):
        for create in ("create : mcc : { type data, mode standard }", "create : ats-qsig : { side user : NULL, log 0 }",
                       'create : voice : record : { iaddr "127.0.0.1", port 9 }'):
            refused = 0
            for free in range(5):
                self.leave_free(free)
                answer = self.send_to(20, create)
                self.restore()
                if answer == "success":
                    # Its channel is open on the board and the slot hears it.
                    self.assertTrue(any("open=1" in line for line in self.board.ask("channels")), create)
                    self.assertEqual(self.send_to(20, "destroy : NULL"), "success")
                else:
                    refused += 1
                    self.assertEqual(answer, INSUFFICIENT, "%s free=%d" % (create, free))
                self.assertTrue(vx.wait_for(
                    lambda: not any("open=1" in line for line in self.board.ask("channels"))), create)
                self.no_leak()
            self.assertGreater(refused, 0, create)

    def test_ats_qsig_create_without_a_signalling_channel(self):
        qsig = "create : ats-qsig : { side user : NULL, log 0 }"
        self.board.ask("mcc-capacity 256 256 256")
        self.restore()
        resource.prlimit(self.pid, resource.RLIMIT_NOFILE, (max(self.soft, 4096), self.hard))
        try:
            for slot in range(100, 356):
                self.assertEqual(self.send_to(slot, "create : mcc : { type data, mode standard }"), "success")
            # Every controller channel is held: the create is refused, and so is its B slot.
            self.assertEqual(self.send_to(20, qsig), INSUFFICIENT)
            self.assertEqual(self.send_to(21, "create : ats-qsig-b : { slot 20, subslot 1 }"), INSUFFICIENT)
            # The last channel kept only for a release grace is given to the create.
            self.assertEqual(self.send_to(2, "create : trunk : { trunk 0, timeslot 2 }"), "success")
            self.assertEqual(self.send_to(355, "connect : 2"), "success")
            self.assertEqual(self.send_to(355, "destroy : NULL"), "success")
            self.assertEqual(self.send_to(20, qsig), "success")
            self.assertEqual(self.send_to(21, "create : ats-qsig-b : { slot 20, subslot 1 }"), "success")
            for slot in range(100, 355):
                self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")
        finally:
            self.board.ask("mcc-capacity 32 8 16")

    def test_refused_b_channel_close_is_made_again(self):
        self.assertEqual(self.send_to(10, "create : ats-qsig : { side user : NULL, log 0 }"), "success")
        for slot, subslot in ((11, 1), (12, 2), (13, 3)):
            self.assertEqual(self.send_to(slot, "create : ats-qsig-b : { slot 10, subslot %d }" % subslot), "success")
        self.board.ask("clear-requests")
        with vx.failing(self.board, "dsp-data", "EIO", "DSPDATA_CLOSE_B"):
            self.assertEqual(self.send_to(11, "destroy : NULL"), "success")
        self.assertTrue("close B channel 0" in self.daemon.output(), self.daemon.output()[-1500:])
        # Closed again on its own, soon.
        self.assertTrue(vx.wait_for(
            lambda: any(line.endswith("-> 0") for line in self.board.ask("requests dsp-data 100 DSPDATA_CLOSE_B"))))
        self.assertEqual(self.send_to(14, "create : ats-qsig-b : { slot 10, subslot 1 }"), "success")
        # Refused again, then the subslot opened at once: the close goes first.
        with vx.failing(self.board, "dsp-data", "EBUSY", "DSPDATA_CLOSE_B"):
            self.assertEqual(self.send_to(14, "destroy : NULL"), "success")
        self.assertEqual(self.send_to(15, "create : ats-qsig-b : { slot 10, subslot 1 }"), "success")


if __name__ == "__main__":
    vx.main()
