"""The daemon as a process: options, signals, status dump, pid file, watchdog, and daemon
mode with syslog."""

import os
import signal
import subprocess
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
        rows = [(["-h"], 0, USAGE), (["--help"], 0, USAGE), (["--version"], 2, "server version: T240617-1510\n")]
        for bad in (["-p", "3000"], ["--bogus"], ["--port"], ["--port=0"], ["--port=65536"],
                    ["--port=-1"], ["--port=30x"], ["--port="], ["--port", "99999999999999999999"]):
            rows.append((bad, 2, USAGE))
        for args, code, out in rows:
            r = run(args, self.d.root)
            self.assertEqual((r.returncode, r.stdout), (code, out), args)
        self.assertFalse(os.path.exists(self.d.path("/var/run/server.pid")))

    def test_port_in_both_forms(self):
        for form in (lambda p: ["--port=%d" % p], lambda p: ["--port", str(p)]):
            port = vx.free_port()
            p = subprocess.Popen([vx.DAEMON] + form(port), env=dict(os.environ, VOXRELAY_ROOT=self.d.root),
                                 stdout=subprocess.PIPE, text=True)
            self.assertEqual(p.stdout.readline(), "Starting server [T240617-1510], port=%d\n" % port)
            self.assertTrue(vx.wait_for(lambda: os.path.exists(self.d.path("/var/run/server.pid"))))
            p.send_signal(signal.SIGINT)  # ends as SIGTERM does
            self.assertEqual(p.wait(10), 0)
            self.assertFalse(os.path.exists(self.d.path("/var/run/server.pid")))
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

    def test_sighup_updates_the_resources_once_with_or_without_controller(self):
        self.d.signal(signal.SIGHUP)
        self.d.signal(signal.SIGPIPE)
        ignored = "Control::Service::Send() ignore Send request in Connecting state."
        self.assertTrue(vx.wait_for(lambda: ignored in self.d.output()), self.d.output())
        c = self.d.connect()
        self.d.signal(signal.SIGHUP)
        self.assertEqual(c.signal(0), (None, None, "signal", 0))
        for seq in (1, 2):  # loop passes after the update: it is not done again
            c.send(vx.command(vx.PING, seq=seq))
            self.assertEqual(c.answer()[0], seq)
        self.assertEqual(self.d.output().count("update hardware resources"), 2)
        self.assertIsNone(self.d.proc.poll())
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


class DaemonMode(unittest.TestCase):
    def test_daemon_logs_to_syslog_under_the_root(self):
        d = vx.Daemon(args=["-D"])
        log = vx.SyslogSink(d.path("/dev/log"))
        try:
            d.start(wait=False)
            self.assertEqual(d.proc.wait(10), 0)  # the parent of the fork ends at once
            pidfile = d.path("/var/run/server.pid")
            self.assertTrue(vx.wait_for(lambda: os.path.exists(pidfile) and vx.read(pidfile).strip()))
            pid = int(vx.read(pidfile))
            self.assertNotEqual(pid, d.proc.pid)
            d.wait_listening(forked=True)
            self.assertTrue(vx.wait_for(lambda: any(b"Starting server" in r for r in log.texts())))
            records = log.texts()
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
                                                 for r in log.texts())))
        finally:
            log.close()
            d.cleanup()


if __name__ == "__main__":
    vx.main()
