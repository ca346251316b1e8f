"""Integers at their 32-bit limits: every create and display form, with every unconstrained
INTEGER at -2147483648 and then at 2147483647 (commands built by the build's vx_limit_forms),
leaves the daemon serving. In the sanitizer build an overflow in what the daemon computes from
them ends it, which this test then sees."""

import subprocess
import time

import vxharness as vx

PING_SEQ = 77777


class IntegerLimits(vx.DaemonTest):
    def forms(self, value, first_slot):
        out = subprocess.run([vx.built("vx_limit_forms"), str(value), str(first_slot)], capture_output=True, text=True, check=True)
        return [bytes.fromhex(line.split()[1]) for line in out.stdout.splitlines()]

    def test_every_integer_of_the_create_and_display_forms_at_its_limits(self):
        c = self.daemon.connect()
        try:
            for value, first_slot in ((-2147483648, 1), (2147483647, 400)):
                commands = self.forms(value, first_slot)
                self.assertGreater(len(commands), 100)
                for payload in commands:
                    c.send(payload)
                # The ping's answer comes after every command was handled.
                c.send(vx.command(vx.PING, seq=PING_SEQ))
                deadline = time.monotonic() + 60
                while True:
                    self.assertLess(time.monotonic(), deadline, "no answer to the ping")
                    frame = c.raw_frame(deadline - time.monotonic())
                    self.assertIsNotNone(frame, "daemon closed: " + self.daemon.output()[-3000:])
                    if vx.parse_message(frame)[0] == PING_SEQ:
                        break
            self.assertIsNone(self.daemon.proc.poll())
        finally:
            c.close()


if __name__ == "__main__":
    vx.main()
