"""The controller's commands end to end: answers, their envelopes, and the server's own errors."""

import time
import unittest

import vxharness as vx


class PinnedEnvelopes(unittest.TestCase):
    """Hand-computed aligned-PER bytes of the envelopes the other tests rely on."""

    def test_frames(self):
        self.assertEqual(vx.command(vx.PING, seq=1), bytes.fromhex("80010118"))
        self.assertEqual(vx.command(vx.PING), bytes.fromhex("0600"))
        self.assertEqual(vx.command(vx.QUERY, slot=1024), bytes.fromhex("40040000"))
        self.assertEqual(vx.response_success(seq=1), bytes.fromhex("80010140"))
        self.assertEqual(vx.response_error(vx.UNEXPECTED_MSG_TYPE, seq=1), bytes.fromhex("80010164"))
        self.assertEqual(vx.tpkt(b"\x06\x00"), bytes.fromhex("030000060600"))


class Commands(vx.DaemonTest):
    def setUp(self):
        self.c = self.daemon.connect()

    def tearDown(self):
        self.c.close()
        time.sleep(0.05)  # let the daemon see the controller go before the next one comes

    def test_ping_answers_success_with_the_commands_envelope(self):
        self.c.send(vx.command(vx.PING, seq=1))
        self.assertEqual(self.c.frame(), bytes.fromhex("80010140"))
        self.c.send(vx.command(vx.PING))
        self.assertEqual(self.c.frame(), bytes.fromhex("10"))
        self.c.send(vx.command(vx.PING, seq=-5))
        self.assertEqual(self.c.answer(), (-5, None, "success", None))
        self.c.send(vx.command(vx.PING, seq=0x12345678))
        self.assertEqual(self.c.answer(), (0x12345678, None, "success", None))

    def test_a_response_or_signal_as_command_is_unexpected(self):
        for msg in (vx.response_success(seq=7, slot=3), vx.response_error(1, seq=7),
                    vx.signal_activated(seq=7, slot=5)):
            self.c.send(msg)
            self.assertEqual(self.c.answer(), (7, None, "error", vx.UNEXPECTED_MSG_TYPE))
        self.c.send(vx.signal_activated())
        self.assertEqual(self.c.frame(), bytes.fromhex("1900"))  # no seq, no slot: error 4

    def test_slot_above_1023_is_invalid_and_carries_no_slot(self):
        for slot in (1024, 65535):
            self.c.send(vx.command(vx.DESTROY, seq=9, slot=slot))
            self.assertEqual(self.c.answer(), (9, None, "error", vx.INVALID_SLOT))
        self.c.send(vx.command(vx.DESTROY, seq=10, slot=1023))
        self.assertEqual(self.c.answer(), (10, 1023, "error", vx.SLOT_NOT_EXISTS))

    def test_commands_no_service_takes(self):
        self.c.send(vx.command(vx.PROTO_LEMZ, seq=3))
        self.assertEqual(self.c.frame(), bytes.fromhex("80010364"))
        self.c.send(vx.command(vx.QUERY, seq=4, slot=2))  # query is board-wide only
        self.assertEqual(self.c.answer(), (4, 2, "error", vx.UNEXPECTED_MSG_TYPE))
        self.c.send(vx.command(vx.PROTO_LEMZ))
        self.assertEqual(self.c.frame(), bytes.fromhex("1900"))

    def test_query_answers_success_then_the_resources_signal(self):
        self.c.send(vx.command(vx.QUERY, seq=11))
        self.assertEqual(self.c.answer(), (11, None, "success", None))
        self.assertEqual(self.c.signal(0), (None, None, "signal", 0))

    def test_undecodable_frames_are_dropped_and_the_connection_stays(self):
        self.c.send(b"")
        self.c.send(b"\xff\xff\xff")
        self.c.send(vx.command(vx.PING, seq=2))
        self.assertEqual(self.c.answer(), (2, None, "success", None))
        self.assertIn("receive fail: decode error!", self.daemon.output())

    def test_pipelined_in_one_segment_and_byte_by_byte(self):
        frames = [vx.tpkt(vx.command(vx.PING if i % 3 else vx.DESTROY, seq=i, slot=None if i % 3 else i % 1024))
                  for i in range(300)]
        self.c.send_raw(b"".join(frames))
        for i in range(300):
            a = self.c.answer()
            self.assertEqual(a[0], i)
        data = b"".join(frames[:40])
        for k in range(len(data)):
            self.c.send_raw(data[k:k + 1])
        for i in range(40):
            self.assertEqual(self.c.answer()[0], i)
        self.assertTrue(self.c.silent())


class SecondController(vx.DaemonTest):
    def test_a_second_controller_is_refused_and_the_first_keeps_working(self):
        first = self.daemon.connect()
        first.send(vx.command(vx.PING, seq=1))
        self.assertEqual(first.answer()[2], "success")
        second = self.daemon.connect()
        self.assertTrue(second.closed())
        first.send(vx.command(vx.PING, seq=2))
        self.assertEqual(first.answer(), (2, None, "success", None))
        first.close()
        time.sleep(0.1)
        third = self.daemon.connect()
        third.send(vx.command(vx.PING, seq=3))
        self.assertEqual(third.answer(), (3, None, "success", None))
        third.close()


if __name__ == "__main__":
    vx.main()
