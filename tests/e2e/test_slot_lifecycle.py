"""Slot life cycle end to end with slots that finish late: a modem slot's destroy hangs its
program up and is answered only when the program has ended (or was killed after 5 s), and a
modem slot reports its streams when it is connected, not when it is made. The stand-in for
pppd is told to ignore the hang-up where a destroy has to stay pending."""

import time

import vxharness as vx
from test_modem import ModemTest, modem_params

MAP = "map : { transmitter { bus 1, channel %d }, receiver { bus 1, channel %d } }"
IDLE = "constant 213"


def map_output(slot):
    """The switch output of a map slot made with MAP (bus 1, channel = the slot number)."""
    return 8192 + 128 + slot


def success(seq, slot):
    return "{ seq %d, slot %d, pdu response : success : NULL }" % (seq, slot)


def error(seq, slot, cause):
    return "{ seq %d, slot %d, pdu response : error : %s }" % (seq, slot, cause)


class SlotLifecycle(ModemTest):
    def running_slot(self, slot, map_slot, ignore_hup=True):
        """A modem slot on slot, its program started by a connection to the map slot map_slot;
        the connection's answer and the stream signals are consumed."""
        self.clear_log()
        self.options("coptions", "ignore-hup\n" if ignore_hup else "")
        self.create(slot, modem_params(cid="", originate=True))
        self.assertIn("success", self.answer(self.start(slot, map_slot)))
        self.assertTrue(vx.wait_for(lambda: self.execs()))

    def frames(self, until, timeout=8.0):
        """Decoded frames until until(text), the board's own signals left out."""
        return [t for t in self.messages(until, timeout) if "trunkStatus" not in t and "query" not in t]

    def create_until_free(self, slot, timeout=10.0):
        """Creates a map slot on slot until the number is free; the answers before the success
        must all be destroyInProgress."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            seq = self.command(slot, "create : " + MAP % (slot, slot))
            reply = self.frames(lambda t: t.startswith("{ seq %d," % seq))
            if reply == [success(seq, slot)]:
                return
            self.assertEqual(reply, [error(seq, slot, "destroyInProgress")])
            time.sleep(0.05)
        self.fail("slot %d not released; daemon:\n%s" % (slot, self.daemon.output()[-3000:]))

    def new_output(self, since):
        return self.daemon.output()[since:]

    def test_a_pending_destroy_refuses_create_and_destroy_and_is_answered_late(self):
        self.running_slot(21, 22)
        since = len(self.daemon.output())
        started = time.monotonic()
        self.command(21, "destroy : NULL", seq=500)
        self.command(21, "destroy : NULL", seq=501)
        self.command(21, "create : " + MAP % (21, 21), seq=502)
        # The other commands still reach the slot: the map slot that the destroy took off is
        # connected to it again.
        self.command(21, "connect : 22", seq=503)
        got = self.frames(lambda t: t.startswith("{ seq 500,"), timeout=10)
        waited = time.monotonic() - started
        self.assertEqual(got, [error(501, 21, "destroyInProgress"), error(502, 21, "destroyInProgress"),
                               success(503, 21), success(500, 21)])
        self.assertGreater(waited, 4.5)
        out = self.new_output(since)
        self.assertIn("pppd terminate timeout!", out)
        self.assertIn("pppd isn't terminated, killing ...", out)
        # The path made while the destroy was pending went with the slot.
        self.assertEqual(self.board.ask("switch %d" % map_output(22)), IDLE)
        self.create_until_free(21)
        self.assertEqual(self.answer(self.command(21, "destroy : NULL")), success(self.seq, 21))

    def test_a_create_on_a_slot_that_finishes_late_finds_the_number_busy(self):
        self.running_slot(23, 24)
        self.assertTrue(self.board.ask("switch %d" % map_output(24)).startswith("connected "))
        since = len(self.daemon.output())
        self.command(23, "create : " + MAP % (23, 23), seq=510)
        self.command(23, "create : " + MAP % (23, 23), seq=511)
        self.command(23, "destroy : NULL", seq=512)
        self.assertEqual(self.frames(lambda t: t.startswith("{ seq 512,")), [
            error(510, 23, "slotIdBusy"), error(511, 23, "destroyInProgress"), error(512, 23, "destroyInProgress")])
        # The destroy that the busy create began took the slot's sink off at once.
        self.assertEqual(self.board.ask("switch %d" % map_output(24)), IDLE)
        # No answer comes when the slot has gone: no destroy command waits for it.
        self.create_until_free(23)
        self.assertIn("pppd isn't terminated, killing ...", self.new_output(since))
        self.assertIn("success", self.answer(self.command(23, "destroy : NULL")))

    def test_a_controller_that_drops_leaves_a_pending_destroy_unanswered_and_the_slot_goes_a_second_later(self):
        self.running_slot(25, 26)
        since = len(self.daemon.output())
        self.command(25, "destroy : NULL", seq=520)
        self.assertTrue(self.c.silent(0.2))
        self.c.close()
        # The slot outlives the controller for a second, then is deleted with its program
        # killed, well before its own 5 s would have run out.
        self.c = self.daemon.connect()
        self.create_until_free(25)
        self.assertTrue(vx.wait_for(lambda: not self.running()))
        out = self.new_output(since)
        self.assertIn("pppd isn't terminated, killing ...", out)
        self.assertNotIn("pppd terminate timeout!", out)
        self.assertIn("success", self.answer(self.command(25, "destroy : NULL")))

    def test_streams_reported_on_connect_come_before_its_answer(self):
        self.clear_log()
        self.create(27, modem_params())
        for n in (28, 29):  # map slots report their streams after the create's answer
            self.command(n, "create : " + MAP % (n, n))
            self.frames(lambda t: t.startswith("{ slot %d, pdu signal : transmitter" % n))
        # The modem takes its channel when it is first connected: both its streams are reported
        # before the connect is answered.
        seq = self.command(27, "connect : 28")
        got = self.frames(lambda t: t.startswith("{ seq %d," % seq))
        self.assertEqual(len(got), 3, got)
        self.assertTrue(got[0].startswith("{ slot 27, pdu signal : transmitter : active : "), got)
        channel = int(got[0].split()[-2])
        self.assertEqual(got[1:], ["{ slot 27, pdu signal : receiver : active : %d }" % channel, success(seq, 27)])
        self.assertEqual(self.board.ask("switch %d" % map_output(28)), "connected %d" % channel)
        # Streams already active are not reported again, either way round.
        for src, dst in ((28, 27), (27, 29)):
            seq = self.command(src, "connect : %d" % dst)
            self.assertEqual(self.frames(lambda t: t.startswith("{ seq %d," % seq)), [success(seq, src)])
        self.assertEqual(self.board.ask("switch %d" % channel), "connected %d" % map_output(28))
        # The destroy is answered once the program has ended on its hang-up; it takes the paths
        # both ways with it. (The stand-in logs its start once it is ready for the hang-up.)
        self.assertTrue(vx.wait_for(lambda: self.execs()))
        seq = self.command(27, "destroy : NULL")
        self.assertEqual(self.frames(lambda t: t.startswith("{ seq %d," % seq)), [success(seq, 27)])
        self.assertIn(["hup"], self.log())
        for out in (map_output(28), map_output(29)):
            self.assertEqual(self.board.ask("switch %d" % out), IDLE)
        for n in (28, 29):
            self.assertIn("success", self.answer(self.command(n, "destroy : NULL")))

if __name__ == "__main__":
    vx.main()
