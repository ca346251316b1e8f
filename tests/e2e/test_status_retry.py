"""Status-file writes that failed and wait for a retry, across the controller's loss: the lost
controller's board report never comes back, the daemon's other files still are written."""

import os
import shutil

import vxharness as vx
from test_modem import Codec


class StatusRetry(vx.DaemonTest):
    def test_board_file_of_a_lost_controller_is_not_written_by_a_retry(self):
        codec = Codec.for_test(self)
        d = self.daemon
        # A folder that holds something, in the place of the file, makes its write fail as a full
        # file system does, whoever runs the test.
        blocked = [d.path("/var/monitoring/%s" % name) for name in ("board3", "emphone0")]
        for folder in blocked:
            os.makedirs(os.path.join(folder, "x"))
        marker = d.path("/var/monitoring/board99")  # goes when the loss has been handled
        open(marker, "w").close()

        c = d.connect()
        reports = ["board : boardStatus : { position 3, version '312E32'H, status ready, type fxs }",
                   "emPhone : phoneStatus : { id 0, panelSV '70'H, ctrlSV '63'H, fpgaSV '66'H, status ready, "
                   "powerStatus main, mode active, hookStatus connected, baseStatus disconnected }"]
        for seq, report in enumerate(reports, 1):
            c.send(codec.encode("{ seq %d, pdu command : display : %s }" % (seq, report)))
            self.assertEqual(c.answer(), (seq, None, "success", None), report)
        self.assertFalse(os.path.isfile(d.path("/var/monitoring/board3")))
        c.close()
        self.assertTrue(vx.wait_for(lambda: not os.path.exists(marker)), d.output())

        # Room again: the phone's write is retried at the next poll, the board's is gone.
        for folder in blocked:
            shutil.rmtree(folder)
        self.assertTrue(vx.wait_for(lambda: os.path.exists(d.path("/var/monitoring/emphone0"))), d.output())
        self.assertEqual(vx.read(d.path("/var/monitoring/emphone0")), "p\nc\nf\n2\n2\n1\n1\n2\n")
        self.assertFalse(os.path.exists(d.path("/var/monitoring/board3")))


if __name__ == "__main__":
    vx.main()
