"""The daemon built for the board's CPU, run under an emulator (--emulator): it starts, answers
a ping over TCP, and a driver record it reads from the simulated board arrives intact. The
cross build's only end-to-end test; the whole suite runs on the development host."""

import unittest

import test_hardware as hw
import vxharness as vx


class TargetSmoke(vx.DaemonTest):
    def test_ping_and_a_trunk_status_record(self):
        c = self.daemon.connect()
        board = hw.Board(self.daemon)
        try:
            c.send(vx.command(vx.PING, seq=0x12345678))
            self.assertEqual(c.answer(), (0x12345678, None, "success", None))
            # The trunk status record crosses the device seam as big-endian words.
            board.ask("trunk 2 3 70000 1 0 1 0")
            seen = 0
            while True:
                payload = c.raw_frame(timeout=10)
                self.assertIsNotNone(payload, "daemon closed: " + self.daemon.output()[-2000:])
                alt, fields = hw.parse_signal(payload)
                if alt == hw.SIGNAL_TRUNK_STATUS and fields["type"] == 0 and fields["trunk"] == 2 \
                        and fields["state"] == 3:
                    break
                seen += 1
                self.assertLess(seen, 100, "no status of trunk 2")
            self.assertEqual(fields, {"trunk": 2, "state": 3, "slips": 70000, "lossBF": 1, "lossCarrier": 0,
                                      "lossAIS": 1, "lossRAI": 0, "name_length": 0, "clockMaster": 0,
                                      "type": 0})
        finally:
            board.close()
            c.close()


if __name__ == "__main__":
    vx.main()
