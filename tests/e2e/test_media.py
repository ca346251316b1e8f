"""Media slots end to end: conference mixer ports, prompt players fed from files and from a TCP
server, a recorder streaming to a TCP server, echo slots on the buses the board reports, a raw
controller channel passing user data, and the software T.38 slot with a stand-in engine. The
controller's commands are PER-encoded by hand; the simulated board is driven and inspected
through its text socket."""

import json
import os
import shutil
import socket
import stat

import vxharness as vx
from test_hardware import Board as HardwareBoard, Reader, _int as integer
import test_rtp
from test_rtp import host, text
from test_slots import _create, _slot_command, activate, connect

HERE = os.path.dirname(os.path.abspath(__file__))

USER_DATA = 8
INSUFFICIENT_RESOURCES, CONNECT_FAIL = 1, 9
SIG_QUERY, SIG_ABORT, SIG_USER_DATA, SIG_RECEIVER, SIG_TRANSMITTER, SIG_IOCTL = 0, 7, 8, 9, 10, 12
# CreateParams alternatives
MIXER_OUT, MIXER_IN, VOICE, EXT, MCC, ECHO, T38SOFT = 0, 1, 3, 10, 11, 12, 13
# IoctlResponse alternatives, StopRecordingCause
START_PLAYING, STOP_RECORDING = 2, 1
CONNECTION_FAIL, USER_REQUEST = 0, 2
MIXER_FIRST_TIMESLOT = 3072
BUS_OUTPUT = 8192


def create(slot, alt, body):
    return _create(alt, slot, 1, body)


def tdm(b, channel):
    b.put(0, 1)              # MixerChannel: tdm
    integer(b, channel)


def mixer_out(slot, unit, channel, inputs=()):
    def body(b):
        integer(b, unit)
        tdm(b, channel)
        b.octets(bytes([len(inputs)]))
        for ch, gain in inputs:
            tdm(b, ch)
            integer(b, gain)
    return create(slot, MIXER_OUT, body)


def mixer_in(slot, unit, channel, summator=None):
    def body(b):
        b.put(summator is not None, 1)
        b.put(0, 1)          # no ecm
        b.put(0, 1)          # no rtp
        integer(b, unit)
        tdm(b, channel)
        if summator is not None:
            tdm(b, summator)
    return create(slot, MIXER_IN, body)


def ext(slot, transmitter, receiver):
    return create(slot, EXT, lambda b: (integer(b, transmitter), integer(b, receiver)))


def mcc(slot, kind, ss7=False):
    return create(slot, MCC, lambda b: (b.put(kind, 2), b.put(ss7, 1)))


def echo(slot, bus, channel):
    return create(slot, ECHO, lambda b: (integer(b, bus), integer(b, channel)))


def play_files(slot, names, repeat):
    def body(b):
        b.put(1, 1)          # VoiceParams: player
        b.put(0, 1)          # PlayerParams: in the root
        b.put(1, 1)          # file
        b.octets(bytes([len(names)]))
        for n in names:
            text(b, n)
        integer(b, repeat)
    return create(slot, VOICE, body)


def play_network(slot, addr, port, stream_id):
    def body(b):
        b.put(1, 1)
        b.put(0, 1)
        b.put(0, 1)          # network
        host(b, addr, port)
        integer(b, stream_id)
    return create(slot, VOICE, body)


def record(slot, addr, port):
    def body(b):
        b.put(0, 1)          # VoiceParams: record
        host(b, addr, port)
    return create(slot, VOICE, body)


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
    return create(slot, T38SOFT, body)


def user_data(slot, data):
    return _slot_command(USER_DATA, slot, 1, lambda b: b.octets(bytes([len(data)]) + data))


def parse_signal(payload):
    """(slot, alternative, fields) of a signal, its value decoded for the alternatives used here."""
    r = Reader(payload)
    slot, alt = vx.read_signal_start(r)
    assert alt is not None, "not a signal of the root"
    f = {}
    if alt in (SIG_RECEIVER, SIG_TRANSMITTER):
        f["active"] = r.integer() if r.take(1) else None
    elif alt == SIG_ABORT:
        f["cause"] = r.integer()
    elif alt == SIG_USER_DATA:
        r.align()
        f["data"] = bytes(r.take(8) for _ in range(r.take(8)))
    elif alt == SIG_IOCTL:
        f["kind"] = r.take(4)
        if f["kind"] == STOP_RECORDING:
            f["cause"] = r.take(2)
    elif alt == SIG_QUERY:
        assert r.take(1) == 0, "extension"
        assert r.take(1) == 0, "drvVersion"
        for _ in range(7):   # boardMajor .. modem
            r.integer()
        r.align()
        mixers = []
        for _ in range(r.take(8)):
            assert r.take(1) == 0
            mixers.append([r.integer() for _ in range(7)])
        f["mixer"] = mixers
        r.take(1)            # mux
        f["mcc"] = [r.integer() for _ in range(3)]
        r.align()
        f["echoBus"] = [r.integer() for _ in range(r.take(8))]
        f["t38-instances"] = r.integer()
    return slot, alt, f


class Board(HardwareBoard):
    LISTINGS = ("mixer-sum", "mixer-units", "frames", "channels", "requests", "records")

    def ask(self, line):
        if line.startswith(self.LISTINGS):
            self.sock.sendall(line.encode() + b"\n")
            reply = self._line()
            if not reply.startswith("ok"):
                raise AssertionError("%s: %s" % (line, reply))
            return [self._line() for _ in range(int(reply[3:]))]
        return super().ask(line)

    def written(self, channel):
        return b"".join(bytes.fromhex(f) for f in self.ask("frames %d 4096" % channel))


def tcp_server():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(1)
    s.settimeout(5)
    return s, s.getsockname()[1]


def pattern(n, seed):
    return bytes((seed + i * 7 + (i >> 8)) & 0xFF for i in range(n))


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

    def sink(self, slot, receiver):
        """An ext slot whose receive channel takes a source."""
        self.assertEqual(self.answer(ext(slot, 40 + slot, receiver)), "success")
        self.assertEqual(self.answer(activate(slot)), "success")

    def write_prompt(self, name, data):
        path = self.daemon.path("/usr/local/voice/" + name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def test_mixer_units_created_connected_and_fed(self):
        self.board.ask("mixer-unit 0 8 4")
        self.board.ask("mixer-unit 1 6 8")
        self.assertEqual(self.answer(mixer_out(10, 1, 1)), INSUFFICIENT_RESOURCES, "no query found unit 1 yet")
        q = self.query()
        self.assertEqual(q["mixer"], [[0, 6, 6, 4, 770, 17, 24], [1, 6, 6, 4, 770, 17, 24]])

        self.assertEqual(self.answer(mixer_out(10, 0, 1, [(2, 1000), (3, -2000)])), "success")
        self.assertEqual(self.board.ask("mixer-sum 0 1"), ["0/2 gain=1000", "0/3 gain=-2000"])
        self.assertEqual(self.answer(mixer_in(11, 0, 4, summator=1)), "success")
        self.assertEqual(self.board.ask("mixer-sum 0 1"), ["0/2 gain=1000", "0/3 gain=-2000", "0/4 gain=32767"])
        self.assertEqual(self.answer(mixer_out(12, 1, 6)), INSUFFICIENT_RESOURCES, "channel limit is exclusive")

        # A source feeds the mixer input; the output feeds a sink.
        self.assertEqual(self.answer(ext(13, 77, BUS_OUTPUT + 20)), "success")
        self.assertEqual(self.answer(connect(13, 11)), "success")
        self.assertEqual(self.board.ask("switch %d" % (MIXER_FIRST_TIMESLOT + 4)), "connected 77")
        self.sink(14, BUS_OUTPUT + 21)
        self.assertEqual(self.answer(connect(10, 14)), "success")
        self.assertEqual(self.signal(SIG_TRANSMITTER, 10), {"active": MIXER_FIRST_TIMESLOT + 1})
        self.assertEqual(self.board.ask("switch %d" % (BUS_OUTPUT + 21)), "connected %d" % (MIXER_FIRST_TIMESLOT + 1))

        self.assertEqual(self.answer(vx.command(vx.DESTROY, seq=2, slot=11)), "success")
        self.assertEqual(self.board.ask("mixer-sum 0 1"), ["0/2 gain=1000", "0/3 gain=-2000"])
        self.assertEqual(self.answer(vx.command(vx.DESTROY, seq=3, slot=10)), "success")
        self.assertEqual(self.board.ask("mixer-sum 0 1"), [])

        # A unit that goes away aborts its ports.
        self.assertEqual(self.answer(mixer_out(15, 1, 0)), "success")
        self.board.ask("mixer-remove 1")
        self.c.send(vx.command(vx.QUERY, seq=1))
        self.assertEqual(self.signal(SIG_ABORT, 15), {"cause": 0}, "sent while the query looks for units")
        self.assertEqual(len(self.signal(SIG_QUERY)["mixer"]), 1)

    def test_prompts_played_from_files(self):
        a, b = pattern(3000, 1), pattern(10000, 2)
        self.write_prompt("hello.raw", a)
        self.write_prompt("menu/main.raw", b)
        self.assertEqual(self.answer(play_files(20, ["hello.raw", "absent.raw", "menu/main.raw"], 3)), "success")
        self.sink(21, BUS_OUTPUT + 30)
        self.assertEqual(self.answer(connect(20, 21)), "success")
        channel = self.signal(SIG_TRANSMITTER, 20)["active"]
        self.assertEqual(self.signal(SIG_ABORT, 20), {"cause": 0})
        self.assertEqual(self.board.written(channel), (a + b) * 3)
        self.assertEqual(self.board.ask("switch %d" % (BUS_OUTPUT + 30)), "constant 213", "the ended player let go")
        connects = self.board.ask("requests hal 4096 MUX_CONNECT")
        self.assertIn("MUX_CONNECT output=%d source=%d -> 0" % (BUS_OUTPUT + 30, channel), connects)

    def test_prompt_names_stay_in_the_prompt_folder(self):
        self.assertEqual(self.answer(play_files(22, ["../etc/server.conf", "/usr/local/etc/server.conf",
                                                     "x/../../etc/server.conf"], 1)), "success")
        self.sink(23, BUS_OUTPUT + 31)
        self.assertEqual(self.answer(connect(22, 23)), CONNECT_FAIL)
        self.assertEqual(self.signal(SIG_ABORT, 22), {"cause": 0})
        self.assertIsNone(self.signal(SIG_ABORT, 22, timeout=0.5), "abort is sent once")
        self.assertIn("phrase name refused: ../etc/server.conf", self.daemon.output())

    def test_prompts_played_from_a_tcp_server(self):
        server, port = tcp_server()
        self.addCleanup(server.close)
        self.assertEqual(self.answer(play_network(24, "127.0.0.1", port, 0x0A0B0C0D)), "success")
        self.sink(25, BUS_OUTPUT + 32)
        self.assertEqual(self.answer(connect(24, 25)), "success")
        channel = self.signal(SIG_TRANSMITTER, 24)["active"]
        peer, _ = server.accept()
        peer.settimeout(5)
        stream_id = b""
        while len(stream_id) < 4:
            stream_id += peer.recv(4 - len(stream_id))
        self.assertEqual(stream_id, b"\x0a\x0b\x0c\x0d")
        self.assertEqual(self.signal(SIG_IOCTL, 24), {"kind": START_PLAYING})
        samples = pattern(20000, 3)
        peer.sendall(samples)
        peer.close()
        self.assertEqual(self.signal(SIG_ABORT, 24), {"cause": 0})
        self.assertEqual(self.board.written(channel), samples)
        self.assertIn("connection to 127.0.0.1:%d closed." % port, self.daemon.output())

        # Hosts that are no address are refused, a refused connection is reported.
        self.assertEqual(self.answer(play_network(26, "gateway.example", port, 1)), INSUFFICIENT_RESOURCES)
        self.assertEqual(self.answer(record(26, "10.1.1.300", port)), INSUFFICIENT_RESOURCES)
        self.assertEqual(self.answer(play_network(26, "127.0.0.1", port, 1)), "success")
        server.close()
        self.assertEqual(self.answer(connect(26, 25)), "success")
        self.assertEqual(self.signal(SIG_ABORT, 26), {"cause": 0})

    def test_recording_streamed_to_a_tcp_server(self):
        server, port = tcp_server()
        self.addCleanup(server.close)
        self.assertEqual(self.answer(record(27, "127.0.0.1", port)), "success")
        channel = self.signal(SIG_RECEIVER, 27)["active"]
        self.assertEqual(self.answer(ext(28, 55, BUS_OUTPUT + 33)), "success")
        self.assertEqual(self.answer(connect(28, 27)), "success")
        self.assertEqual(self.board.ask("switch %d" % channel), "connected 55")
        peer, _ = server.accept()
        peer.settimeout(5)
        sent = b""
        for i in range(30):
            frame = pattern(160 + i, i)
            sent += frame
            self.assertEqual(self.board.ask("hdlc-frame %d %s" % (channel, frame.hex())), "1")
        got = b""
        while len(got) < len(sent):
            chunk = peer.recv(65536)
            self.assertTrue(chunk)
            got += chunk
        self.assertEqual(got, sent)
        self.assertEqual(self.board.ask("hdlc-hangup %d" % channel), "1")
        self.assertEqual(self.signal(SIG_IOCTL, 27), {"kind": STOP_RECORDING, "cause": USER_REQUEST})
        self.assertEqual(peer.recv(100), b"", "the server sees the end")

        # No server: the recorder says so.
        server.close()
        self.assertEqual(self.answer(record(29, "127.0.0.1", port)), "success")
        self.assertEqual(self.answer(connect(28, 29)), "success")
        self.assertEqual(self.signal(SIG_IOCTL, 29), {"kind": STOP_RECORDING, "cause": CONNECTION_FAIL})

    def test_echo_slots_need_an_echo_bus(self):
        self.assertEqual(self.answer(echo(30, 1, 5)), INSUFFICIENT_RESOURCES)
        self.assertEqual(self.query()["echoBus"], [])
        self.board.ask("echo-buses 0x12")
        self.assertEqual(self.answer(echo(30, 1, 5)), INSUFFICIENT_RESOURCES, "seen only by a resource query")
        self.assertEqual(self.query()["echoBus"], [1, 4])
        self.assertEqual(self.answer(echo(30, 1, 5)), "success")
        self.assertEqual(self.signal(SIG_TRANSMITTER, 30), {"active": 37})
        self.assertEqual(self.answer(echo(31, 2, 5)), INSUFFICIENT_RESOURCES)
        self.board.ask("echo-buses 0")
        self.assertEqual(self.query()["echoBus"], [])

    def test_mcc_slot_passes_user_data_both_ways(self):
        before = set(line.split()[0] for line in self.board.ask("channels") if "open=1" in line)
        self.assertEqual(self.answer(mcc(32, 0)), "success")
        opened = [line.split()[0] for line in self.board.ask("channels")
                  if "open=1" in line and line.split()[0] not in before]
        self.assertEqual(len(opened), 1)
        channel = int(opened[0])
        self.assertEqual(self.answer(user_data(32, b"\x08\x02\x00\x01")), "success")
        self.assertEqual(self.board.ask("frames %d" % channel), ["08020001"])
        self.assertEqual(self.board.ask("hdlc-frame %d 0A0B0C" % channel), "1")
        self.assertEqual(self.signal(SIG_USER_DATA, 32), {"data": b"\x0a\x0b\x0c"})
        self.assertIn("type=0", [line for line in self.board.ask("channels") if line.startswith(str(channel))][0])
        self.assertEqual(self.answer(mcc(33, 1, ss7=True)), "success")
        self.assertEqual(self.board.ask("requests mcc 1 MCC_ALLOCATE")[0].split()[1], "type=3")

    def test_t38_engine_started_with_its_arguments_on_the_channel(self):
        sbin = self.daemon.path("/usr/local/sbin")
        os.makedirs(sbin, exist_ok=True)
        shutil.copy(os.path.join(HERE, "t38_standin.py"), os.path.join(sbin, "t38"))
        os.chmod(os.path.join(sbin, "t38"), stat.S_IRWXU)
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
        out = self.daemon.output()
        self.assertIn("t38soft: arg[0]=/usr/local/sbin/t38", out)
        self.assertIn("t38soft: arg[4]=--fax-mode", out)

        # Its standard input is the channel, both ways.
        self.assertTrue(vx.wait_for(lambda: self.board.ask("frames %d" % channel)))
        self.assertEqual(self.board.ask("frames %d" % channel)[0], b"T38 READY".hex().upper())
        self.assertEqual(self.board.ask("hdlc-frame %d 0102FE" % channel), "1")
        self.assertEqual(far.recv(100), b"\x01\x02\xfe")

        pid = int(out.split("t38 daemon[")[1].split("]")[0])
        self.assertEqual(self.answer(vx.command(vx.DESTROY, seq=2, slot=34)), "success")
        self.assertTrue(vx.wait_for(lambda: "terminate child process, pid=%d status=15" % pid in self.daemon.output()))
        self.assertIsNone(self.signal(SIG_ABORT, 34, timeout=0.3))


if __name__ == "__main__":
    vx.main()
