"""The software T.38 slot end to end with a stand-in engine: the resource query, the engine's
arguments and channel, and engines that end with their slot however quickly it goes. The
controller's commands are PER-encoded by hand; the simulated board is inspected through its
text socket."""

import json
import os
import shutil
import socket
import stat

import vxharness as vx
from test_hardware import Board as HardwareBoard, Reader, _int as integer
import test_rtp
from test_rtp import host, text
from test_slots import _create

HERE = os.path.dirname(os.path.abspath(__file__))

SIG_QUERY, SIG_ABORT, SIG_TRANSMITTER = 0, 7, 10
T38SOFT = 13


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
            text(b, a)
    return _create(T38SOFT, slot, 1, body)


def parse_signal(payload):
    """(slot, alternative, fields) of a signal, its value decoded for the alternatives used here."""
    r = Reader(payload)
    slot, alt = vx.read_signal_start(r)
    assert alt is not None, "not a signal of the root"
    f = {}
    if alt == SIG_TRANSMITTER:
        f["active"] = r.integer() if r.take(1) else None
    elif alt == SIG_QUERY:
        assert r.take(1) == 0, "extension"
        assert r.take(1) == 0, "drvVersion"
        for _ in range(7):   # boardMajor .. modem
            r.integer()
        r.align()
        for _ in range(r.take(8)):   # mixer units
            assert r.take(1) == 0
            [r.integer() for _ in range(7)]
        r.take(1)            # mux
        [r.integer() for _ in range(3)]
        r.align()
        [r.integer() for _ in range(r.take(8))]   # echo buses
        f["t38-instances"] = r.integer()
    return slot, alt, f


class Board(HardwareBoard):
    LISTINGS = ("frames", "records")

    def ask(self, line):
        if line.startswith(self.LISTINGS):
            self.sock.sendall(line.encode() + b"\n")
            reply = self._line()
            if not reply.startswith("ok"):
                raise AssertionError("%s: %s" % (line, reply))
            return [self._line() for _ in range(int(reply[3:]))]
        return super().ask(line)


class Media(test_rtp.SessionTest):
    board_class = Board

    def tearDown(self):
        self.c.close()
        vx.wait_for(lambda: self.board.ask("open mcc") == "0")
        self.board.close()

    def signal(self, alternative, slot=None, timeout=5.0):
        """The fields of the next signal of that alternative (and slot); others before it are
        dropped. None when none comes."""
        found = vx.wait_signal(self.c, self.pending, parse_signal,
                               lambda p: p[1] == alternative and (slot is None or p[0] == slot), timeout)
        return None if found is None else found[2]

    def query(self):
        self.c.send(vx.command(vx.QUERY, seq=1))
        return self.signal(SIG_QUERY)

    def install_t38(self):
        sbin = self.daemon.path("/usr/local/sbin")
        os.makedirs(sbin, exist_ok=True)
        shutil.copy(os.path.join(HERE, "t38_standin.py"), os.path.join(sbin, "t38"))
        os.chmod(os.path.join(sbin, "t38"), stat.S_IRWXU)
        return sbin

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

    def test_t38_engine_started_with_its_arguments_on_the_channel(self):
        sbin = self.install_t38()
        self.assertEqual(self.query()["t38-instances"], 4)
        far = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        far.bind(("127.0.0.1", 0))
        far.settimeout(5)
        self.addCleanup(far.close)
        dport = far.getsockname()[1]
        self.assertEqual(self.answer(t38soft(34, dport, 4002, ["--fax-mode", "ecm"])), "success")
        channel = self.signal(SIG_TRANSMITTER, 34)["active"]
        self.assertEqual(self.board.ask("records mcc MCC_ALLOCATE 1"), ["%08X%08X%08X%08X%08X -> 0" % (2, 160, 0, 2, 3)])
        log = os.path.join(sbin, "t38.log")
        self.assertTrue(vx.wait_for(lambda: os.path.exists(log) and open(log).read()))
        with open(log) as f:
            self.assertEqual(json.loads(f.readline()),
                             ["--child", "--remote", "127.0.0.1/%d/4002" % dport, "--fax-mode", "ecm"])
        # Its standard input is the channel, both ways.
        self.assertTrue(vx.wait_for(lambda: self.board.ask("frames %d" % channel)))
        self.assertEqual(self.board.ask("frames %d" % channel)[0], b"T38 READY".hex().upper())
        self.assertEqual(self.board.ask("hdlc-frame %d 0102FE" % channel), "1")
        self.assertEqual(far.recv(100), b"\x01\x02\xfe")

        pid = int(self.daemon.output().split("t38 daemon[")[1].split("]")[0])
        self.assertEqual(self.answer(vx.command(vx.DESTROY, seq=2, slot=34)), "success")
        self.assertTrue(vx.wait_for(lambda: "terminate child process, pid=%d status=15" % pid in self.daemon.output()))
        self.assertIsNone(self.signal(SIG_ABORT, 34, timeout=0.3))

    def test_t38_engines_of_slots_destroyed_at_once_end(self):
        # A signal that reaches the engine between fork and exec must still end it. Ten tries
        # each way: one survivor is a failure.
        self.install_t38()
        started = self.daemon.output().count("successfully started")
        for i in range(10):
            self.c.send_raw(vx.tpkt(t38soft(40 + i, 9, 4002, [])) + vx.tpkt(vx.command(vx.DESTROY, seq=2, slot=40 + i)))
        for _ in range(20):
            self.assertIsNotNone(self.c.frame())
        self.assertTrue(vx.wait_for(lambda: self.board.ask("open mcc") == "0"), self.engines())
        self.assertEqual(self.engines(), [])

        self.c.send_raw(b"".join(vx.tpkt(t38soft(50 + i, 9, 4002, [])) for i in range(10)))
        self.c.close()
        self.assertTrue(vx.wait_for(lambda: self.daemon.output().count("successfully started") == started + 20))
        self.assertTrue(vx.wait_for(lambda: self.board.ask("open mcc") == "0"), self.engines())
        self.assertEqual(self.engines(), [])

if __name__ == "__main__":
    vx.main()
