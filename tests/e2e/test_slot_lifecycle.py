"""Slot life cycle end to end with a slot that finishes late: a modem slot whose program (the
pppd stand-in, told to ignore the hang-up) keeps its destroy pending. The timings (5 s before
the kill, 1 s after a controller drop) are held by the unit tests on the test clock."""

import time

import vxharness as vx
from test_modem import ModemTest, modem_params

MAP = "map : { transmitter { bus 1, channel %d }, receiver { bus 1, channel %d } }"


def reply(seq, slot, what):
    return "{ seq %d, slot %d, pdu response : %s }" % (seq, slot, what)


class SlotLifecycle(ModemTest):
    def frames(self, until, timeout=8.0):
        return [t for t in self.messages(until, timeout) if "trunkStatus" not in t and "query" not in t]

    def test_a_controller_drop_ends_a_pending_destroy(self):
        self.clear_log()
        self.options("coptions", "ignore-hup\n")
        self.create(21, modem_params(cid="", originate=True))
        self.assertIn("success", self.answer(self.start(21, 22)))
        self.assertTrue(vx.wait_for(lambda: self.execs()))
        self.command(21, "destroy : NULL", seq=500)
        self.command(21, "connect : 22", seq=501)  # other commands still reach the slot
        self.assertEqual(self.frames(lambda t: t.startswith("{ seq 501,")), [reply(501, 21, "success : NULL")])
        self.c.close()
        # The slot outlives the controller for a second, then goes with its program killed.
        self.c = self.daemon.connect()
        deadline = time.monotonic() + 10
        while True:
            seq = self.command(21, "create : " + MAP % (21, 21))
            got = self.frames(lambda t: t.startswith("{ seq %d," % seq))
            if got == [reply(seq, 21, "success : NULL")]:
                break
            self.assertEqual(got, [reply(seq, 21, "error : destroyInProgress")])
            self.assertLess(time.monotonic(), deadline, self.daemon.output()[-3000:])
            time.sleep(0.05)
        self.assertTrue(vx.wait_for(lambda: not self.running()))
        self.assertEqual(self.board.ask("switch %d" % (8192 + 128 + 22)), "disabled")


if __name__ == "__main__":
    vx.main()
