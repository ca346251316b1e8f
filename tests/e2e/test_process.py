"""The daemon as a process: options, signals, status dump, pid file, watchdog, daemon mode
with syslog, and the heartbeat that drops a silent controller."""

import os
import signal
import socket
import subprocess
import threading
import time
import unittest

import vxharness as vx

USAGE = ("Usage:\n"
         " voxrelay -Dh\n"
         "  -D --daemon                      run as daemon\n"
         "  -p --port                        use this port\n"
         "     --disable-clock               disable clock control\n"
         "     --version                     print version\n"
         "  -h --help                        display this information\n"
         "\n")


def run(args, root):
    return subprocess.run([vx.DAEMON] + args, env=dict(os.environ, VOXRELAY_ROOT=root),
                          capture_output=True, text=True, timeout=10)


class Options(unittest.TestCase):
    def setUp(self):
        self.d = vx.Daemon()

    def tearDown(self):
        self.d.cleanup()

    def test_help_version_and_rejected_options(self):
        r = run(["-h"], self.d.root)
        self.assertEqual((r.returncode, r.stdout), (0, USAGE))
        r = run(["--help"], self.d.root)
        self.assertEqual((r.returncode, r.stdout), (0, USAGE))
        r = run(["--version"], self.d.root)
        self.assertEqual((r.returncode, r.stdout), (2, "server version: T240617-1510\n"))
        for bad in (["-p", "3000"], ["--bogus"], ["--port"], ["--port=0"], ["--port=65536"],
                    ["--port=-1"], ["--port=30x"], ["--port="], ["--port", "99999999999999999999"]):
            r = run(bad, self.d.root)
            self.assertEqual((r.returncode, r.stdout), (2, USAGE), bad)
        self.assertFalse(os.path.exists(self.d.path("/var/run/server.pid")))

    def test_port_in_both_forms(self):
        for form in (lambda p: ["--port=%d" % p], lambda p: ["--port", str(p)]):
            port = vx.free_port()
            p = subprocess.Popen([vx.DAEMON] + form(port), env=dict(os.environ, VOXRELAY_ROOT=self.d.root),
                                 stdout=subprocess.PIPE, text=True)
            self.assertEqual(p.stdout.readline(), "Starting server [T240617-1510], port=%d\n" % port)
            p.send_signal(signal.SIGINT)
            self.assertEqual(p.wait(10), 0)
            p.stdout.close()


class Signals(unittest.TestCase):
    def setUp(self):
        self.d = vx.Daemon(config="[traces]\nsignalling.hdlc = 1\n").start()

    def tearDown(self):
        self.d.cleanup()

    def test_status_dump_on_sigusr2(self):
        status = self.d.path("/var/log/server-status")
        self.assertFalse(os.path.exists(status))
        for _ in range(3):
            self.d.signal(signal.SIGUSR2)
        self.assertTrue(vx.wait_for(lambda: os.path.exists(status) and "packet pool free" in vx.read(status)))
        text = vx.read(status)
        self.assertIn("version : T240617-1510\n", text)
        self.assertNotIn("maker", text)
        os.chmod(self.d.path("/var/log"), 0o500)
        try:
            os.unlink(status)
            self.d.signal(signal.SIGUSR2)
            if os.geteuid() != 0:
                self.assertTrue(vx.wait_for(lambda: "dump status error" in self.d.output()))
        finally:
            os.chmod(self.d.path("/var/log"), 0o700)
        self.assertIsNone(self.d.proc.poll())

    def test_sighup_without_controller_and_sigpipe(self):
        self.d.signal(signal.SIGHUP)
        self.d.signal(signal.SIGPIPE)
        self.assertTrue(vx.wait_for(lambda: "update hardware resources" in self.d.output()))
        # Logged just after the line above, which a read may fall between.
        ignored = "Control::Service::Send() ignore Send request in Connecting state."
        self.assertTrue(vx.wait_for(lambda: ignored in self.d.output()), self.d.output())
        self.assertIsNone(self.d.proc.poll())

    def test_sighup_with_controller_sends_the_resources(self):
        c = self.d.connect()
        c.send(vx.command(vx.PING, seq=1))
        self.assertEqual(c.answer()[2], "success")
        self.d.signal(signal.SIGHUP)
        self.assertEqual(c.signal(0), (None, None, "signal", 0))
        c.close()

    def test_sigterm_and_sigint_end_with_status_0_and_no_pid_file(self):
        pidfile = self.d.path("/var/run/server.pid")
        self.assertEqual(vx.read(pidfile).strip(), str(self.d.proc.pid))
        c = self.d.connect()
        c.send(vx.command(vx.PING, seq=1))
        c.answer()
        self.assertEqual(self.d.stop(), 0)
        self.assertFalse(os.path.exists(pidfile))
        wd = vx.read(self.d.path("/dev/misc/gw-wd"))
        self.assertTrue(wd.startswith("START") and wd.endswith("STOP"), wd)
        self.assertTrue(c.closed())
        other = vx.Daemon().start()
        try:
            other.signal(signal.SIGINT)
            self.assertEqual(other.proc.wait(10), 0)
            self.assertFalse(os.path.exists(other.path("/var/run/server.pid")))
        finally:
            other.cleanup()


class DaemonMode(unittest.TestCase):
    def test_daemon_logs_to_syslog_under_the_root(self):
        d = vx.Daemon(args=["-D"])
        log = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        log.bind(d.path("/dev/log"))
        log.settimeout(0.2)
        records = []
        done = threading.Event()

        def collect():  # as a syslog daemon would: a full queue would block the sender
            while not done.is_set():
                try:
                    records.append(log.recv(65536))
                except socket.timeout:
                    pass
        reader = threading.Thread(target=collect)
        reader.start()
        try:
            d.start(wait=False)
            self.assertEqual(d.proc.wait(10), 0)  # the parent of the fork ends at once
            pidfile = d.path("/var/run/server.pid")
            self.assertTrue(vx.wait_for(lambda: os.path.exists(pidfile) and vx.read(pidfile).strip()))
            pid = int(vx.read(pidfile))
            self.assertNotEqual(pid, d.proc.pid)
            d.wait_listening(forked=True)
            self.assertTrue(vx.wait_for(lambda: any(b"Starting server" in r for r in records)))
            text = b"\n".join(records)
            self.assertIn(b"vxr-T240617-1510", text)
            self.assertIn(b"Starting server [T240617-1510], port=%d" % d.port, text)
            # Facility daemon (3), priority notice (5): <29>.
            self.assertTrue(any(r.startswith(b"<29>") and b"Starting server" in r for r in records), records)
            self.assertNotIn("Starting server", d.output())
            os.kill(pid, signal.SIGTERM)
            self.assertTrue(vx.wait_for(lambda: not os.path.exists(pidfile)))
            # The log stream goes out with priority debug: <31>.
            self.assertTrue(vx.wait_for(lambda: any(r.startswith(b"<31>") and b"Mux: terminating" in r
                                                 for r in records)))
        finally:
            done.set()
            reader.join()
            log.close()
            d.cleanup()


class Heartbeat(unittest.TestCase):
    # Commands come ten times as often as the period needs, so that a test process held up
    # by a loaded machine does not let the period run out between two of them.
    PERIOD_MS = 1000

    def setUp(self):
        self.d = vx.Daemon(env={"VOXRELAY_TEST_HEARTBEAT_MS": str(self.PERIOD_MS)}).start()

    def tearDown(self):
        self.d.cleanup()

    def test_a_silent_controller_is_dropped_and_the_next_one_gets_in(self):
        # Whether the daemon took a connection is read from its log, not guessed from how
        # long the connection lasted: this process may be held up between its connect and
        # its look at the clock, which would make a dropped controller look refused.
        for _ in range(50):
            c = vx.Controller(self.d.port)
            peer = "127.0.0.1:%d" % c.sock.getsockname()[1]
            self.assertTrue(c.closed(timeout=10))
            c.close()
            if "refuse connection from " + peer not in self.d.output():
                break
        self.assertTrue(vx.wait_for(lambda: self.d.output().count("heartbeat timeout!!!") == 1),
                        self.d.output()[-2000:])
        c = self.d.connect()
        deadline = time.monotonic() + 1.5 * self.PERIOD_MS / 1000
        i = 0
        while time.monotonic() < deadline:  # commands more often than the period keep it
            c.send(vx.command(vx.QUERY if i % 2 else vx.PING, seq=i))
            self.assertEqual(c.answer()[0], i)
            i += 1
            time.sleep(self.PERIOD_MS / 10000)
        self.assertTrue(c.closed(timeout=10))
        self.assertEqual(self.d.output().count("heartbeat timeout!!!"), 2)
        c.close()

if __name__ == "__main__":
    vx.main()
