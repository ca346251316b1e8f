"""The daemon's stop on SIGTERM or SIGINT: every program it started ends with it, whether the
controller is still there or left a moment before, and a pppd that ignores its hang-up is
killed rather than left holding the modem's tty."""

import os
import signal
import unittest

import vxharness as vx
from test_modem import ModemTest, modem_params


class StopEndsChildren(ModemTest):
    def setUp(self):
        super().setUp()
        self.clear_log()
        self.options("aoptions", "ignore-hup\n")

    def tearDown(self):
        # The daemon is gone: nothing of it is left to wait for.
        self.c.close()
        try:
            self.board.close()
        except OSError:
            pass

    def pppd_running(self):
        self.create(5, modem_params())
        self.start(5, 6)
        self.assertTrue(vx.wait_for(lambda: self.execs() and self.running(), 5), self.log_text())

    def stopped(self, sig):
        self.daemon.signal(sig)
        self.daemon.proc.wait(10)
        self.assertEqual(self.daemon.proc.returncode, 0, self.daemon.output()[-2000:])
        # At once: the daemon ended its children before it exited.
        self.assertFalse(self.running(), self.log_text() + self.daemon.output()[-2000:])


class StopWithControllerConnected(StopEndsChildren):
    def test_sigterm_kills_a_pppd_that_ignores_its_hang_up(self):
        self.pppd_running()
        self.stopped(signal.SIGTERM)


class StopDuringLostControllersHold(StopEndsChildren):
    def test_sigint_while_a_lost_controllers_slot_is_pending(self):
        self.pppd_running()
        self.c.close()
        # The slot waits for its pppd, which will not end by itself: the stop comes now.
        self.assertTrue(vx.wait_for(lambda: "sent HUP to pppd." in self.daemon.output(), 5))
        self.stopped(signal.SIGINT)


if __name__ == "__main__":
    vx.main()
