"""Load and fault run on loopback, bounded in count and time: 100,000 pipelined commands with
undecodable frames among them. The daemon stays up, answers every valid command once and in
order, and its open descriptors and free packet buffers come back to their starting counts."""

import os
import re
import signal
import time
import unittest

import vxharness as vx


class LoadAndFaults(vx.DaemonTest):
    def open_fds(self):
        return len(os.listdir("/proc/%d/fd" % self.daemon.pid()))

    def pool_free(self):
        status = self.daemon.path("/var/log/server-status")
        if os.path.exists(status):
            os.unlink(status)
        self.daemon.signal(signal.SIGUSR2)
        self.assertTrue(vx.wait_for(lambda: os.path.exists(status) and "packet pool free" in vx.read(status),
                                    timeout=10.0))
        return int(re.search(r"packet pool free : (\d+)", vx.read(status)).group(1))

    def test_load_and_faults(self):
        # The baseline: a controller has come and gone (the acceptor keeps a probe copy of the
        # last one) and the services' once-a-second ticks have opened what they open lazily.
        c = self.daemon.connect()
        c.close()
        time.sleep(2.5)
        fds, free = self.open_fds(), self.pool_free()
        self.assertEqual(free, 1024)
        started = time.monotonic()

        # 100,000 pipelined pings, batches of 2,000, each batch with undecodable frames in it.
        c = self.daemon.connect()
        garbage = [vx.tpkt(b"\xff" * n) for n in (1, 3, 17, 4000)] + [vx.tpkt(b"")]
        seq = 1
        for batch in range(50):
            data, first = [], seq
            for i in range(2000):
                data.append(vx.tpkt(vx.command(vx.PING, seq=seq)))
                seq += 1
                if i % 400 == 0:
                    data.append(garbage[(batch + i) % len(garbage)])
            c.send_raw(b"".join(data))
            for expect in range(first, seq):
                self.assertEqual(c.answer(timeout=10), (expect, None, "success", None))
        self.assertTrue(c.silent(0.2))
        self.assertEqual(seq - 1, 100000)
        c.close()
        self.assertIsNone(self.daemon.proc.poll())

        c = self.daemon.connect()
        c.send(vx.command(vx.PING, seq=7))
        self.assertEqual(c.answer(), (7, None, "success", None))
        c.close()
        time.sleep(0.3)
        self.assertTrue(vx.wait_for(lambda: self.open_fds() == fds, timeout=10.0),
                        (self.open_fds(), fds, os.listdir("/proc/%d/fd" % self.daemon.pid())))
        self.assertEqual(self.pool_free(), free)
        self.assertLess(time.monotonic() - started, 600)


if __name__ == "__main__":
    vx.main()
