"""The controller's commands through the whole daemon: the bytes of its answers to the
envelopes the other tests rely on, the server's own errors, and one controller at a time."""

import unittest

import vxharness as vx

P = vx.PING
# (payload sent, answer expected: its bytes or its parse)
ROWS = [
    (vx.command(P, seq=1), bytes.fromhex("80010140")),
    (vx.command(P), bytes.fromhex("10")),
    # A signal sent as a command: unexpected, the slot dropped.
    (vx.signal_activated(seq=7, slot=5), (7, None, "error", vx.UNEXPECTED_MSG_TYPE)),
    (vx.signal_activated(), bytes.fromhex("1900")),
    # Commands no service takes; query is board-wide only.
    (vx.command(vx.PROTO_LEMZ, seq=3), bytes.fromhex("80010364")),
    (vx.command(vx.PROTO_LEMZ), bytes.fromhex("1900")),
]


class Commands(vx.DaemonTest):
    def test_answers(self):
        c = self.daemon.connect()
        c.send(b"")
        c.send(b"\xff\xff\xff")  # undecodable: dropped, the connection stays
        for payload, want in ROWS:
            c.send(payload)
            got = c.frame() if isinstance(want, bytes) else c.answer()
            self.assertEqual(got, want, payload.hex())
        self.assertIn("receive fail: decode error!", self.daemon.output())
        c.send(vx.command(vx.QUERY, seq=11))
        self.assertEqual(c.answer(), (11, None, "success", None))
        self.assertEqual(c.signal(0), (None, None, "signal", 0))

        # A second controller is refused; the first keeps working, and after it the next gets in.
        self.assertTrue(vx.Controller(self.daemon.port).closed())
        c.send(vx.command(P, seq=2))
        self.assertEqual(c.answer(), (2, None, "success", None))
        c.close()
        c = self.daemon.connect()
        c.send(vx.command(P, seq=3))
        self.assertEqual(c.answer(), (3, None, "success", None))
        c.close()


if __name__ == "__main__":
    vx.main()
