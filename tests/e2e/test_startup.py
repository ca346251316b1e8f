"""Start-up as init scripts and operators do it: standard descriptors closed, a second daemon
on a root where one runs, a relative path root in daemon mode, an unusable root, a
configuration that cannot be used; and a destroy answered late that must carry the
controller's seq whatever its value."""

import os
import shutil
import signal
import socket
import subprocess
import time
import unittest

import vxharness as vx
from test_hardware import Board
from test_modem import ModemTest, modem_params


def run_briefly(args, env, cwd=None, timeout=5):
    """Runs the daemon to its end: (exit status, error stream); None for the status when it
    was still running after timeout seconds (it is then stopped)."""
    p = subprocess.Popen([vx.DAEMON] + args, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True)
    try:
        _, err = p.communicate(timeout=timeout)
        return p.returncode, err
    except subprocess.TimeoutExpired:
        p.terminate()
        _, err = p.communicate()
        return None, err


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime and stime


class ForkedDaemon:
    """A daemon started with -D: the started process ends at once, the daemon's pid is in the
    pid file; its lines go to a syslog sink under the root when there is one."""

    def __init__(self, d, closed=(), cwd=None, syslog=True):
        self.d = d
        self.log = vx.SyslogSink(d.path("/dev/log")) if syslog else None
        self.pid = None
        d.out = open(d.path("/stdout"), "wb")
        d.proc = subprocess.Popen([vx.DAEMON, "--port", str(d.port), "-D"], env=d.env, cwd=cwd,
                                  stdout=d.out, stderr=subprocess.STDOUT,
                                  preexec_fn=lambda: [os.close(fd) for fd in closed])

    def started(self):
        """Whether the daemon came up: the parent ended with 0 and the pid file names a child."""
        self.pidfile = self.d.path("/var/run/server.pid")
        if self.d.proc.wait(10) != 0:
            return False
        if not vx.wait_for(lambda: os.path.exists(self.pidfile) and vx.read(self.pidfile).strip(), 3):
            return False
        self.pid = int(vx.read(self.pidfile))
        return True

    def stop(self):
        if self.pid:
            os.kill(self.pid, signal.SIGTERM)
            vx.wait_for(lambda: not os.path.exists(self.pidfile))  # removed at the daemon's end
        if self.log:
            self.log.close()
        self.d.out.close()
        self.d.proc = None


class ClosedStandardDescriptors(unittest.TestCase):
    def test_daemon_mode_with_closed_descriptors_serves_every_port_and_idles(self):
        # Daemon mode puts /dev/null over the three, or the syslog socket when one listens.
        for closed, syslog in (((1,), False), ((0, 1, 2), True)):
            with self.subTest(closed=closed, syslog=syslog):
                auth_port = vx.free_port()
                d = vx.Daemon(env={"VOXRELAY_AUTH_PORT": str(auth_port)})
                f = ForkedDaemon(d, closed, syslog=syslog)
                try:
                    self.assertTrue(f.started(), d.output())
                    d.wait_listening(forked=True)
                    c = d.connect()
                    c.send(vx.command(vx.PING, seq=5))
                    self.assertEqual(c.answer(), (5, None, "success", None))
                    # A record length that cannot be: the daemon reads it and lets the peer go.
                    with socket.create_connection(("127.0.0.1", auth_port), timeout=2) as a:
                        a.sendall(b"\0\0\0\0")
                        self.assertEqual(a.recv(1), b"")
                    before, start = cpu_ticks(f.pid), time.monotonic()
                    time.sleep(0.5)
                    used = (cpu_ticks(f.pid) - before) / os.sysconf("SC_CLK_TCK")
                    self.assertLess(used, 0.2 * (time.monotonic() - start))
                    b = Board(d)
                    b.sock.settimeout(2)
                    self.assertTrue(b.ask("requests mctl"))
                    b.close()
                    c.close()
                finally:
                    f.stop()
                    d.cleanup()


class SecondInstance(unittest.TestCase):
    def test_a_second_daemon_on_a_running_root_leaves_it_alone(self):
        d = vx.Daemon(env={"VOXRELAY_AUTH_PORT": str(vx.free_port())}).start()
        try:
            c = d.connect()  # stays connected: the first keeps its controller's files
            pidfile, sock = d.path("/var/run/server.pid"), d.path("/var/run/voxrelay-sim.sock")
            # The status files the first writes by itself, and those its controller has it write.
            for name in ("powerstatus", "dip"):
                self.assertTrue(vx.wait_for(lambda: os.path.exists(d.path("/var/monitoring/" + name))))
            for name in ("board1", "board2"):
                with open(d.path("/var/monitoring/" + name), "w") as f:
                    f.write("1\nv1\n2\n")

            def state():
                """Every file under var/ with its contents, and which pid file and socket."""
                files = {}
                for folder, _, names in os.walk(d.path("/var")):
                    for n in names:
                        if n.startswith(".tmp."):
                            continue  # a status file being rewritten
                        p = os.path.join(folder, n)
                        files[p] = vx.read(p) if os.path.isfile(p) else None
                files["inodes"] = os.lstat(pidfile).st_ino, os.lstat(sock).st_ino
                return files

            before = state()
            status, err = run_briefly(["--port", str(vx.free_port())], d.env)
            self.assertNotIn(status, (0, None), err)
            self.assertIn("not started: server already running on this root, pid=%d (%s)" % (d.proc.pid, pidfile),
                          err)
            self.assertEqual(state(), before)

            # The first is whole: its controller, its board socket, its own pid file at its end.
            c.send(vx.command(vx.PING, seq=9))
            self.assertEqual(c.answer(), (9, None, "success", None))
            b = Board(d)
            self.assertTrue(b.ask("requests mctl"))
            b.close()
            c.close()
            self.assertEqual(d.stop(), 0)
            self.assertFalse(os.path.exists(pidfile))

            # A pid file left by a server that is gone is taken over.
            with open(pidfile, "w") as f:
                f.write(str(d.proc.pid))
            d.start()
            self.assertEqual(vx.read(pidfile), str(d.proc.pid))
        finally:
            d.cleanup()

    def test_a_second_daemon_on_a_fresh_root_is_refused(self):
        # Nothing under the root but the harness's output file: the first makes var/run itself.
        d = vx.Daemon(env={"VOXRELAY_AUTH_PORT": str(vx.free_port())}, watchdog=False)
        try:
            for entry in os.listdir(d.root):
                shutil.rmtree(d.path("/" + entry))
            d.start()
            pidfile, sock = d.path("/var/run/server.pid"), d.path("/var/run/voxrelay-sim.sock")
            self.assertEqual(vx.read(pidfile), str(d.proc.pid))
            inode = os.lstat(sock).st_ino
            status, err = run_briefly(["--port", str(vx.free_port())], d.env)
            self.assertEqual(status, 2, err)
            self.assertIn("not started: server already running on this root, pid=%d" % d.proc.pid, err)
            self.assertEqual((vx.read(pidfile), os.lstat(sock).st_ino), (str(d.proc.pid), inode))
            self.assertNotIn("pid file", d.output())
            b = Board(d)
            self.assertTrue(b.ask("requests mctl"))
            b.close()
        finally:
            d.cleanup()

    @unittest.skipUnless(shutil.which("strace"), "strace is not installed")
    def test_the_root_stays_claimed_until_the_daemon_has_cleared_its_files(self):
        # A daemon started as soon as the pid file is gone must not lose its status files to
        # the one that is ending. (The leak checker cannot run in a traced process.)
        d = vx.Daemon(env={"ASAN_OPTIONS": "detect_leaks=0"})
        trace = d.path("/strace.txt")
        try:
            d.start(prefix=["strace", "-f", "-qq", "-e", "trace=unlink,unlinkat", "-o", trace])
            self.assertTrue(vx.wait_for(lambda: os.path.exists(d.path("/var/monitoring/powerstatus"))))
            self.assertEqual(d.stop(), 0)
            lines = vx.read(trace).splitlines()
        finally:
            d.cleanup()
        pid = [i for i, l in enumerate(lines) if "/var/run/server.pid" in l]
        cleared = [i for i, l in enumerate(lines) if "powerstatus" in l]
        self.assertTrue(pid and cleared, lines)
        self.assertGreater(pid[-1], cleared[-1], lines)


class PathRoot(unittest.TestCase):
    def test_a_relative_root_in_daemon_mode_stays_the_same_root(self):
        d = vx.Daemon()
        parent, name = os.path.split(d.root)
        d.env["VOXRELAY_ROOT"] = name
        stray = os.path.join("/", name)
        f = ForkedDaemon(d, cwd=parent)
        try:
            self.assertTrue(f.started(), d.output())
            d.wait_listening(forked=True)
            self.assertTrue(os.path.exists(d.path("/var/run/voxrelay-sim.sock")))
            self.assertTrue(vx.wait_for(lambda: os.path.exists(d.path("/var/monitoring/powerstatus"))))
            os.kill(f.pid, signal.SIGUSR2)
            self.assertTrue(vx.wait_for(lambda: os.path.exists(d.path("/var/log/server-status"))))
            self.assertFalse(os.path.exists(stray))
        finally:
            f.stop()
            d.cleanup()
            if os.path.isdir(stray):
                shutil.rmtree(stray, ignore_errors=True)

    def test_a_root_that_cannot_be_used_ends_the_start(self):
        d = vx.Daemon()
        try:
            plain = d.path("/plain")
            open(plain, "w").close()
            for root in (d.path("/missing"), plain):
                status, err = run_briefly(["--port", str(d.port)], dict(d.env, VOXRELAY_ROOT=root))
                self.assertEqual(status, 2, err)
                self.assertTrue(err.startswith('not started: path root "%s": ' % root), err)
        finally:
            d.cleanup()


class UnusableConfiguration(unittest.TestCase):
    def test_a_configuration_that_cannot_be_read_leaves_the_daemon_starting_with_its_defaults(self):
        # A folder, a pipe with no writer (a blocking open waits for ever), a file whose reads
        # fail (EIO, as on failing flash) and an endless device.
        def folder(path):
            os.mkdir(path)

        def fifo(path):
            os.mkfifo(path)

        def link_to(target):
            return lambda path: os.symlink(target, path)

        for name, make in (("folder", folder), ("fifo", fifo), ("unreadable", link_to("/proc/self/mem")),
                           ("device", link_to("/dev/zero"))):
            with self.subTest(name):
                daemon = vx.Daemon()
                self.addCleanup(daemon.cleanup)
                config = daemon.path("/usr/local/etc/server.conf")
                make(config)
                daemon.start()
                c = daemon.connect()
                c.close()
                said = [l for l in daemon.output().splitlines() if l.startswith('ini: "%s" not used: ' % config)]
                self.assertEqual(len(said), 1, daemon.output()[-2000:])
                self.assertIsNone(daemon.proc.poll())
                daemon.cleanup()


class DelayedDestroy(ModemTest):
    def test_every_seq_comes_back_in_a_late_destroy_answer(self):
        for seq in (-1, -2147483648):
            with self.subTest(seq=seq):
                self.clear_log()
                self.create(5, modem_params())
                self.start(5, 6)
                self.assertTrue(vx.wait_for(lambda: self.execs()))
                self.command(5, "destroy : NULL", seq=seq)
                self.assertEqual(self.answer(seq, timeout=3), "{ seq %d, slot 5, pdu response : success : NULL }" % seq)
                self.assertIn(["hup"], self.log())
                self.assertIn("success", self.answer(self.command(6, "destroy : NULL")))


if __name__ == "__main__":
    vx.main()
