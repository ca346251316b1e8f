"""Nothing outside the path root is read or written during a run: the daemon runs under
strace (file calls, and the addresses of Unix sockets it binds or connects) through a
controller session, a status dump, a resource update and a shutdown."""

import os
import re
import shutil
import signal
import subprocess
import time
import unittest

import vxharness as vx

# What the dynamic loader and the C library read for themselves.
LIBRARY_PATHS = ("/etc/ld.so.", "/lib/", "/lib64/", "/usr/lib/", "/usr/lib64/", "/etc/localtime",
                 "/usr/share/zoneinfo/", "/usr/lib/locale/", "/usr/share/locale/", "/etc/gconv")
QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')
# The look-up of the local controller process reads the machine's own process table, read-only.
PROCESS_TABLE = re.compile(r"/proc(/\d+/stat)?$")


@unittest.skipUnless(shutil.which("strace"), "strace is not installed")
class PathRoot(unittest.TestCase):
    def test_every_path_is_under_the_root(self):
        # The leak checker cannot run in a traced process.
        d = vx.Daemon(config="[traces]\nsignalling.events = 1\n", env={"ASAN_OPTIONS": "detect_leaks=0"})
        trace = os.path.join(d.root, "strace.txt")
        try:
            d.start(prefix=["strace", "-f", "-qq", "-e", "trace=file,bind,connect", "-o", trace])
            c = d.connect()
            c.send(vx.command(vx.PING, seq=1))
            self.assertEqual(c.answer()[2], "success")
            c.send(vx.command(vx.QUERY, seq=2))
            self.assertEqual(c.answer()[2], "success")
            d.signal(signal.SIGUSR2)
            d.signal(signal.SIGHUP)
            time.sleep(0.3)
            c.close()
            self.assertEqual(d.stop(), 0)
            with open(trace) as f:
                lines = f.read().splitlines()
        finally:
            d.cleanup()
        self.assertTrue(any("server.pid" in l for l in lines))
        with open(vx.DAEMON, "rb") as f:
            sanitized = b"__asan_init" in f.read()
        outside = []
        for line in lines:
            if " execve(" in line:
                if vx.DAEMON not in line and "voxrelay" not in line:
                    outside.append(line)
                continue
            # The first quoted text is the path asked for (a later one may be a result).
            m = QUOTED.search(line)
            if not m or not m.group(1).startswith("/"):
                continue
            text = m.group(1)
            if text.startswith(d.root + "/") or text.startswith(LIBRARY_PATHS):
                continue
            if PROCESS_TABLE.match(text) and "O_RDONLY" in line:
                continue
            if sanitized and text.startswith("/proc/self/"):
                continue  # the sanitizer runtime reading its own process
            outside.append(line)
        self.maxDiff = None
        self.assertEqual(outside, [])


if __name__ == "__main__":
    vx.main()
