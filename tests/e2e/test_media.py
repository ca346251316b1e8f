"""The software T.38 slot end to end with the stand-in engine (t38_standin.py): an engine ends
with its slot however quickly the slot goes, by a destroy in the same write as the create or by
the controller's loss. The commands are PER-encoded by hand; the simulated board is asked which
controller channels are still open."""

import os
import shutil
import stat

import vxharness as vx
from test_hardware import Board, _int as integer
from test_slots import _create

HERE = os.path.dirname(os.path.abspath(__file__))
T38SOFT = 13


def host(b, addr, port):
    b.octets(bytes([len(addr)]) + addr.encode() + port.to_bytes(2, "big"))


def t38soft(slot, dport, sport, args, rx_size=160, rx_threshold=2, tx_threshold=3):
    def body(b):
        b.put(0, 1)          # T38Soft: no extension
        host(b, "127.0.0.1", dport)
        host(b, "10.0.0.1", sport)
        integer(b, rx_size)
        integer(b, rx_threshold)
        integer(b, tx_threshold)
        b.octets(bytes([len(args)]))
        for a in args:
            b.octets(bytes([len(a)]) + a.encode())
    return _create(T38SOFT, slot, 1, body)


class Media(vx.DaemonTest):
    def setUp(self):
        self.board = Board(self.daemon)
        self.c = self.daemon.connect()
        sbin = self.daemon.path("/usr/local/sbin")
        os.makedirs(sbin, exist_ok=True)
        shutil.copy(os.path.join(HERE, "t38_standin.py"), os.path.join(sbin, "t38"))
        os.chmod(os.path.join(sbin, "t38"), stat.S_IRWXU)

    def tearDown(self):
        self.c.close()
        vx.wait_for(lambda: self.board.ask("open mcc") == "0")
        self.board.close()

    def engines(self):
        """Stand-in engines of this daemon still running."""
        program = self.daemon.path("/usr/local/sbin/t38").encode()
        found = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if program not in f.read():
                        continue
                with open("/proc/%s/stat" % pid) as f:
                    if f.read().rsplit(")", 1)[1].split()[0] != "Z":
                        found.append(int(pid))
            except OSError:
                pass
        return found

    def test_t38_engines_of_slots_destroyed_at_once_end(self):
        # A signal that reaches the engine between fork and exec must still end it. Ten tries
        # each way: one survivor is a failure.
        started = self.daemon.output().count("successfully started")
        for i in range(10):
            self.c.send_raw(vx.tpkt(t38soft(40 + i, 9, 4002, [])) + vx.tpkt(vx.command(vx.DESTROY, seq=2, slot=40 + i)))
        for _ in range(20):
            self.assertEqual(vx.parse_message(self.c.frame())[2], "success")
        self.assertTrue(vx.wait_for(lambda: self.board.ask("open mcc") == "0"), self.engines())
        self.assertEqual(self.engines(), [])

        self.c.send_raw(b"".join(vx.tpkt(t38soft(50 + i, 9, 4002, [])) for i in range(10)))
        self.c.close()
        self.assertTrue(vx.wait_for(lambda: self.daemon.output().count("successfully started") == started + 20))
        self.assertTrue(vx.wait_for(lambda: self.board.ask("open mcc") == "0"), self.engines())
        self.assertEqual(self.engines(), [])


if __name__ == "__main__":
    vx.main()
