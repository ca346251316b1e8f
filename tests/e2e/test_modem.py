"""Modem slots end to end: voxrelay-sim starts our stand-in for pppd and the fax programs
(tests/e2e/standin) from under its root with the exact argument lists and option files, the
stand-in authenticates and accounts over the local channel (127.0.0.1, port 52000 moved by
VOXRELAY_AUTH_PORT so that daemons under test run side by side) and those
records reach the controller as signals; destroy hangs the program up and is answered late
with its own sequence number."""

import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import time
import unittest

import vxharness as vx
from test_hardware import Board


class Codec:
    """Value notation to PER octets and back, through the build's vx_lgcp_text."""

    def __init__(self, path):
        self.proc = subprocess.Popen([path], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        reply = self.proc.stdout.readline().strip()
        if reply == "error":
            raise AssertionError("cannot convert: " + line)
        return reply

    def encode(self, text):
        return bytes.fromhex(self.ask("encode " + text))

    def decode(self, payload):
        return self.ask("decode " + payload.hex())

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()

    @classmethod
    def for_test(cls, test):
        """The codec beside the daemon under test, closed with the test."""
        codec = cls(vx.built("vx_lgcp_text"))
        test.addCleanup(codec.close)
        return codec


def modem_params(cid="5551234", ddm=None, originate=False, fax=False, execfile=None, execargs=None):
    fields = ['cid "%s"' % cid, 'cdid "100"']
    if ddm:
        fields.append("ddm { %s }" % ", ".join(ddm))
    if originate:
        fields.append("originate NULL")
    if fax:
        fields.append("fax NULL")
    if execfile:
        fields.append('execfile "%s"' % execfile)
    if execargs is not None:
        fields.append("execargs { %s }" % ", ".join('"%s"' % a for a in execargs))
    return "{ %s }" % ", ".join(fields)


def map_rx(map_slot):
    """The switch output of a map slot's receiver (bus 1, the slot's number as its channel)."""
    return 8192 + 128 + map_slot


class ModemTest(vx.DaemonTest):
    """A daemon whose root holds the stand-ins for pppd and the fax programs, a controller and
    the simulated board per test, and commands in value notation; no tests of its own."""

    @classmethod
    def setUpClass(cls):
        standin, codec = vx.built("vx_standin"), vx.built("vx_lgcp_text")
        # A port of its own for the authentication channel: other daemons under test hold 52000.
        cls.daemon = vx.Daemon(env={"VOXRELAY_AUTH_PORT": str(vx.free_port())})
        root = cls.daemon.root
        for path in ("/usr/local/sbin/pppd", "/usr/local/sbin/fax", "/usr/local/bin/fax"):
            os.makedirs(os.path.dirname(root + path), exist_ok=True)
            shutil.copy(standin, root + path)
        os.makedirs(root + "/usr/local/etc/ppp", exist_ok=True)
        cls.daemon.start()
        cls.codec = Codec(codec)

    @classmethod
    def tearDownClass(cls):
        cls.codec.close()
        cls.daemon.cleanup()

    def setUp(self):
        self.board = Board(self.daemon)
        self.c = self.daemon.connect()
        self.seq = 100
        self.options("aoptions", "")
        self.options("coptions", "")
        self.options("ioptions", "")

    def tearDown(self):
        self.c.close()
        self.board.close()
        # The slots go with the controller; let their programs end before the next test.
        vx.wait_for(lambda: "hup" in self.log_text() or not self.running(), 3)

    # ---- helpers

    def options(self, name, text):
        with open(self.daemon.path("/usr/local/etc/ppp/" + name), "w") as f:
            f.write(text)

    def log_text(self):
        try:
            return vx.read(self.daemon.path("/var/log/standin.log"))
        except OSError:
            return ""

    def log(self):
        """The stand-ins' lines as lists of fields (without the pid)."""
        return [line.split("\t")[1:] for line in self.log_text().splitlines()]

    def pids(self):
        """The stand-ins the daemon started."""
        return {int(line.split("\t")[0]) for line in self.log_text().splitlines()}

    def running(self):
        return any(alive(pid) for pid in self.pids())

    def clear_log(self):
        open(self.daemon.path("/var/log/standin.log"), "w").close()

    def command(self, slot, text, seq=None):
        if seq is None:
            self.seq += 1
            seq = self.seq
        where = "" if slot is None else "slot %d, " % slot
        self.c.send(self.codec.encode("{ seq %d, %spdu command : %s }" % (seq, where, text)))
        return seq

    def gather(self, timeout, until=lambda text: False):
        """Decoded frames (value notation) that come within timeout, up to the first that
        satisfies until(text)."""
        got = []
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                f = self.c.raw_frame(max(0.05, deadline - time.monotonic()))
            except TimeoutError:
                break
            if f is None:
                break
            got.append(self.codec.decode(f))
            if until(got[-1]):
                break
        return got

    def messages(self, until, timeout=8.0):
        """Decoded frames (value notation) until one satisfies until(text)."""
        got = self.gather(timeout, until)
        if got and until(got[-1]):
            return got
        self.fail("not seen; got %s\ndaemon:\n%s" % (got, self.daemon.output()[-3000:]))

    def answer(self, seq, timeout=8.0):
        return self.until_answer(seq, timeout)[-1]

    def until_answer(self, seq, timeout=8.0):
        """The decoded frames up to the answer to seq, that answer last."""
        return self.messages(lambda t: t.startswith("{ seq %d," % seq) and "pdu response" in t, timeout)

    def create(self, slot, params):
        self.assertIn("success", self.answer(self.command(slot, "create : modem : " + params)))

    def start(self, slot, map_slot):
        """A map slot fed by the modem: the connection starts the modem."""
        self.assertIn("success", self.answer(self.command(
            map_slot, "create : map : { transmitter { bus 1, channel %d }, receiver { bus 1, channel %d } }"
            % (map_slot, map_slot))))
        return self.command(slot, "connect : %d" % map_slot)

    def modem_call(self, slot, cid, channel=1024):
        """A PPP call on slot, feeding map slot + 1, once it holds the modem on channel."""
        self.create(slot, modem_params(cid=cid))
        self.start(slot, slot + 1)
        self.messages(lambda t: "slot %d," % slot in t and "transmitter : active : %d" % channel in t)

    def auth_peer(self):
        """A connection to the authentication channel, as the PPP side makes it."""
        s = socket.create_connection(("127.0.0.1", int(self.daemon.env["VOXRELAY_AUTH_PORT"])))
        self.addCleanup(s.close)
        return s

    def accepted(self, count, msg=""):
        """Waits until the daemon took count auth connections in all."""
        self.assertTrue(vx.wait_for(lambda: self.daemon.output().count("incoming auth connection from") >= count),
                        msg or self.daemon.output()[-3000:])

    def activated(self, s, remote=None, msg=None):
        """The session of the accept and ip records that come to the peer s (for that remote
        address)."""
        s.settimeout(5)
        got = b""
        try:
            while len(got) < 16 + 36 and (chunk := s.recv(64)):
                got += chunk
        except socket.timeout:
            pass
        self.assertGreaterEqual(len(got), 16 + 36, "got %r; %s" % (got, msg or ""))
        accept, ip = struct.unpack("=IIiI", got[:16]), struct.unpack("=IIi", got[16:28])
        self.assertEqual((accept[:2], accept[3], ip[:2], ip[2]), ((16, 2), 1, (36, 3), accept[2]), msg)
        if remote:
            self.assertEqual(socket.inet_ntoa(got[32:36]), remote, msg)
        return accept[2]

    def nothing_for(self, *peers):
        """None of the peers has anything to read."""
        for s in peers:
            s.settimeout(0)
            self.assertRaises(BlockingIOError, s.recv, 1)

    def execs(self):
        return [fields[1:] for fields in self.log() if fields and fields[0] == "exec"]

    def board_setting(self, command, undo):
        """A change of the simulated board that the test undoes when it ends."""
        self.board.ask(command)

        def restore():
            board = Board(self.daemon)
            board.ask(undo)
            board.close()
        self.addCleanup(restore)


class Modem(ModemTest):
    def test_answering_modem_authenticates_accounts_and_hangs_up_on_destroy(self):
        self.clear_log()
        self.options("aoptions", "auth alice secret\nacct\nwait-ip\n")
        self.create(5, modem_params())
        seq = self.start(5, 6)
        got = self.messages(lambda t: "acct" in t)
        text = "\n".join(got)
        self.assertIn("transmitter : active : 1024", text)
        self.assertIn('modemProceeding : auth : { username "alice", password "secret" }', text)
        self.assertIn("modemProceeding : acct : { octetsOut { low 1000, high 1 }, octetsIn { low 2000, high 0 }, "
                      "packetsOut { low 10, high 0 }, packetsIn { low 20, high 0 }, time { low 300, high 0 } }", text)
        self.assertEqual(self.execs(), [["/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/aoptions", "/dev/mdm0",
                                         "remotenumber", "5551234"]])
        self.assertIn("MDM_ANSWER modem=0 unused=-1 -> 0", "\n".join(self.board.ask("requests mctl")))

        # The controller's activation goes back to the PPP side.
        act = self.command(5, 'activate : modem : { remoteAddr "10.9.8.7", netmask "255.255.0.0", '
                              'gateway "10.9.0.1", dns "10.9.0.53", mtu 1492 }')
        self.assertIn("success", self.answer(act))
        self.assertTrue(vx.wait_for(lambda: any(f[0] == "ip" for f in self.log() if f)))
        lines = {f[0]: f[1:] for f in self.log() if f}
        self.assertEqual(lines["accept"], ["16", "2", "0", "1"])
        self.assertEqual(lines["ip"], ["36", "3", "0", "10.9.8.7", "255.255.0.0", "10.9.0.1", "10.9.0.53", "1492"])

        destroy = self.command(5, "destroy : NULL", seq=4242)
        reply = self.answer(destroy)
        self.assertIn("success", reply)
        self.assertTrue(reply.startswith("{ seq 4242,"))
        self.assertIn(["hup"], self.log())

    def test_fax_transfer_reports_its_pages_then_aborts(self):
        self.clear_log()
        with open(self.daemon.path("/usr/local/etc/fax.exit"), "w") as f:
            f.write("3\n")
        self.create(13, modem_params(fax=True, execargs=["send", "/tmp/doc.g3"]))
        self.start(13, 14)
        got = self.messages(lambda t: "abort" in t)
        text = "\n".join(got)
        self.assertIn("modemProceeding : acct : { octetsOut { low 0, high 0 }, octetsIn { low 3, high 0 }", text)
        self.assertIn("abort : 768", got[-1])
        self.assertEqual(self.execs(), [["/usr/local/sbin/fax", "-m", "0", "send", "/tmp/doc.g3"]])
        self.assertIn("success", self.answer(self.command(13, "destroy : NULL")))

    def test_an_rtp_restart_beside_the_fax_receivers_start_keeps_one_session(self):
        # The receiver pauses a second before its exec; the session the restart lets go must
        # not stay held by it, or the new one is refused its channel.
        self.clear_log()
        self.assertIn("success", self.answer(self.command(
            9, 'create : rtp : { codecRTP { payload ptG711-Ulaw, dhost { iaddr "127.0.0.1", port 40000 } }, '
               "txPayload ptG711-Ulaw, rxPayload ptG711-Ulaw }")))
        self.create(15, modem_params(fax=True))
        self.assertIn("success", self.answer(self.command(
            16, "create : map : { transmitter { bus 1, channel 16 }, receiver { bus 1, channel 16 } }")))
        self.seq += 1
        connect = self.codec.encode("{ seq %d, slot 15, pdu command : connect : 16 }" % self.seq)
        self.seq += 1
        change = self.codec.encode("{ seq %d, slot 9, pdu command : ioctl : encoder-mode : alaw }" % self.seq)
        self.c.send_raw(vx.tpkt(connect) + vx.tpkt(change))
        self.assertIn("success", self.answer(self.seq - 1))
        self.assertIn("success", self.answer(self.seq))
        sessions = self.board.ask("rtp-sessions")
        self.assertEqual(len(sessions), 1, sessions)
        self.assertIn("tx_pt=8", sessions[0])
        self.assertTrue(vx.wait_for(lambda: self.execs(), 5))
        self.assertEqual(self.execs()[0][:4], ["/usr/local/bin/fax", "-m", "0", "receive"])

    def test_a_slot_that_got_no_modem_signals_no_stream_until_a_start_gives_it_one(self):
        # One modem, held by slot 5's call: slot 7 gets none, as the source and as the sink of a
        # map, and signals no stream; once slot 5's call ends, a start gives it the modem.
        self.board_setting("modems 1", "modems 4")
        self.modem_call(5, "555")
        self.create(7, modem_params(cid="777"))
        got = self.until_answer(self.start(7, 8)) + self.until_answer(self.command(8, "connect : 7"))
        self.assertEqual([t for t in got if "slot 7," in t and ("transmitter" in t or "receiver" in t)], [])
        for slot in (6, 5):
            self.assertIn("success", self.answer(self.command(slot, "destroy : NULL")))
        got = self.until_answer(self.command(7, "connect : 8"))
        self.assertIn("{ slot 7, pdu signal : transmitter : active : 1024 }", got)
        self.assertIn("{ slot 7, pdu signal : receiver : active : 1024 }", got)
        self.assertIn("success", self.answer(self.command(7, "destroy : NULL")))


class ControllerLoss(ModemTest):
    def second_controller(self, command):
        """A controller that connects the moment the first one is gone and sends command at once;
        the decoded frames it gets up to that command's answer. A connection refused while the
        daemon is still letting the first one go is tried again."""
        self.seq += 1
        payload = self.codec.encode("{ seq %d, %s }" % (self.seq, command))
        deadline = time.monotonic() + 8
        while time.monotonic() < deadline:
            b = vx.Controller(self.daemon.port)
            b.send(payload)
            got = []
            while time.monotonic() < deadline:
                try:
                    f = b.raw_frame(max(0.05, deadline - time.monotonic()))
                except (TimeoutError, ConnectionResetError):
                    f = None
                if f is None:
                    break
                got.append(self.codec.decode(f))
                if got[-1].startswith("{ seq %d," % self.seq) and "pdu response" in got[-1]:
                    self.c = b
                    return got
            b.close()
            if got:
                break
        self.fail("the second controller is not served; got %s\ndaemon:\n%s" % (got, self.daemon.output()[-3000:]))

    def test_a_lost_controllers_calls_reach_no_next_controller(self):
        # Controller A: a PPP session on slot 5 and a fax transfer on slot 7, both running when
        # A is lost; the programs take a few hundred milliseconds to end once hung up.
        self.clear_log()
        self.options("aoptions", "auth alice secret\nacct-at-hup\n")
        fax_exit = self.daemon.path("/usr/local/etc/fax.exit")
        with open(fax_exit, "w") as f:
            f.write("3 hup\n")
        self.addCleanup(os.remove, fax_exit)
        self.create(5, modem_params())
        self.start(5, 6)
        self.messages(lambda t: "modemProceeding : auth" in t)
        self.create(7, modem_params(fax=True, execargs=["send", "/tmp/doc.g3"]))
        self.start(7, 8)
        self.assertTrue(vx.wait_for(lambda: len(self.execs()) == 2), self.execs())
        self.c.close()

        # Controller B at once: A's numbers are not B's, whatever A's slots still do.
        got = self.second_controller('slot 5, pdu command : activate : modem : { remoteAddr "10.9.8.7", '
                                     'netmask "255.255.0.0", gateway "10.9.0.1", dns "10.9.0.53", mtu 1492 }')
        self.assertIn("error : slotNotExists", got[-1])
        create = self.command(7, "create : modem : " + modem_params())
        got += self.messages(lambda t: t.startswith("{ seq %d," % create) and "pdu response" in t)
        self.assertIn("success", got[-1])
        deadline = time.monotonic() + 1.0
        while time.monotonic() < deadline:
            try:
                f = self.c.raw_frame(max(0.05, deadline - time.monotonic()))
            except TimeoutError:
                break
            self.assertIsNotNone(f)
            got.append(self.codec.decode(f))
        self.assertIn("success", self.answer(self.command(7, "destroy : NULL")))

        # Both programs ended inside the grace, A's accounting with them; none of it reached B,
        # and the log keeps it.
        lines = self.log()
        self.assertIn(["sent", "acct"], lines)
        self.assertEqual(sum(1 for f in lines if f == ["hup"]), 2, lines)
        self.assertEqual([t for t in got if "signal" in t and ("slot 5," in t or "slot 7," in t)], [])
        out = self.daemon.output()
        self.assertIn("slot 05:dsp-modem: controller lost, signal not sent: modemProceeding : acct : { "
                      "octetsOut { low 1000, high 1 }, octetsIn { low 2000, high 0 },", out)
        self.assertIn("slot 07:dsp-modem: controller lost, signal not sent: modemProceeding : acct : { "
                      "octetsOut { low 0, high 0 }, octetsIn { low 3, high 0 },", out)


def activation(remote):
    return ('activate : modem : { remoteAddr "%s", netmask "255.255.255.0", gateway "10.0.0.1", '
            'dns "10.0.0.53", mtu 1500 }' % remote)


def auth_request(session, user):
    """An authentication request as the PPP side writes it."""
    return struct.pack("=IIi", 140, 1, session) + user.encode().ljust(64, b"\0") + bytes(64)


def header(length, kind, session):
    """A record of `length` bytes that the daemon does not take from the PPP side (its own kinds,
    an unknown one, or too short to name a session)."""
    return struct.pack("=IIi", length, kind, session)[:length].ljust(length, b"\0")


def malformed_request(session):
    """An authentication request 40 bytes short."""
    return struct.pack("=IIi", 100, 1, session) + b"m".ljust(88, b"\0")


def accounting(session, octets_in=0):
    return struct.pack("=IIi9I4I", 64, 4, session, 0, 0, 0, 0, 1, 0, octets_in, 0, 1, 0, 1, 60, 0)


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split()[2] != "Z"
    except OSError:
        return False


class AuthChannel(ModemTest):
    """The authentication channel across calls: records and activations reach only their own
    call, and peers that stall do not lock the PPP side out."""

    ENODEV = 19

    def setUp(self):
        super().setUp()
        self.clear_log()

    def lines_of(self, pid):
        """The log lines of one stand-in, as lists of fields (without the pid)."""
        return [line.split("\t")[1:] for line in self.log_text().splitlines() if line.split("\t")[0] == str(pid)]

    def pid_of(self, cid):
        for line in self.log_text().splitlines():
            fields = line.split("\t")
            if fields[1] == "exec" and fields[-1] == cid:
                return int(fields[0])
        return None

    def test_after_a_modem_reset_the_next_call_alone_is_served_and_the_old_pppd_is_killed(self):
        # Call 111 on modem 0; its pppd ignores its hang-up and keeps its connection open, and
        # sends its closing accounting when the test says.
        self.options("aoptions", "auth u111 p111\nignore-hup\nacct-on-usr1 0 0 0 111111\n")
        self.create(5, modem_params(cid="111"))
        self.start(5, 6)
        self.messages(lambda t: "slot 5," in t and 'username "u111"' in t)
        old = self.pid_of("111")
        self.board.ask("hangup mctl")
        self.messages(lambda t: "slot 5," in t and "abort : %d" % self.ENODEV in t)

        # Call 222 gets modem 0: its authentication, accept and address are its own.
        self.options("aoptions", "auth u222 p222\nwait-ip\n")
        self.create(7, modem_params(cid="222"))
        self.start(7, 8)
        got = self.messages(lambda t: "modemProceeding : auth" in t)
        self.assertRegex(got[-1], r'slot 7, .*username "u222"')
        self.assertIn("success", self.answer(self.command(7, activation("10.0.0.7"))))
        new = self.pid_of("222")
        self.assertTrue(vx.wait_for(lambda: any(f[0] == "ip" for f in self.lines_of(new) if f)),
                        self.log_text())
        self.assertEqual([f[4] for f in self.lines_of(new) if f and f[0] == "ip"], ["10.0.0.7"])
        self.assertEqual([f for f in self.lines_of(old) if f and f[0] == "got"], [])

        # The old pppd's closing accounting is not the new call's.
        os.kill(old, signal.SIGUSR1)
        self.assertTrue(vx.wait_for(lambda: "speaks for a call that is over, dropped" in self.daemon.output()),
                        self.daemon.output()[-3000:])
        self.assertEqual([t for t in self.gather(0.3) if "acct" in t], [])

        # It ignored its hang-up: it is killed as at a destroy, though slot 5 is not destroyed.
        self.assertTrue(vx.wait_for(lambda: not alive(old), 15), self.daemon.output()[-3000:])
        self.assertIn("05:dsp-modem: pppd isn't terminated, killing", self.daemon.output())
        # Slot 5 holds no session: its activation is not done.
        self.assertIn("unsupported", self.answer(self.command(5, activation("10.0.0.5"))))
        self.assertIn("success", self.answer(self.command(5, "destroy : NULL")))
        self.assertIn("success", self.answer(self.command(7, "destroy : NULL")))

    def test_a_finished_calls_ppp_side_reaches_nothing_of_the_next_call_after_a_normal_end(self):
        self.finished_call_then_next("destroy", auth_request(0, "a"), accounting(0))

    def test_a_finished_calls_ppp_side_reaches_nothing_of_the_next_call_after_a_reset(self):
        self.finished_call_then_next("hangup mctl", b"", auth_request(0, "a"))

    def test_an_ended_calls_connection_speaks_for_it_however_it_ended_and_whatever_it_sent(self):
        # Quiet until its call ended normally or with the controller; its request lingering
        # after the end is malformed, or follows records the daemon does not take; or it spoke
        # only for a session nobody held: none of it reaches the next call.
        for case, end, during, after in (
                ("quiet, destroyed", "destroy", b"", auth_request(0, "a")),
                ("quiet, controller lost", "controller", b"", auth_request(0, "a")),
                ("malformed request after a destroy", "destroy", auth_request(0, "a"),
                 malformed_request(0) + accounting(0)),
                ("rejected records before its first request", "hangup mctl", b"",
                 header(16, 9, 0) + malformed_request(0) + auth_request(0, "a")),
                ("asked on another session", "destroy", auth_request(3, "a"), auth_request(0, "a")),
                ("accounted on another session", "hangup mctl", accounting(3), auth_request(0, "a"))):
            with self.subTest(case):
                self.finished_call_then_next(end, during, after)

    def finished_call_then_next(self, end, during, after):
        # Call A, slot 5 on modem 0, ends while its PPP side's connection stays open, having sent
        # `during`. Call B, slot 7, is given modem 0 and its own PPP side names the session;
        # then A's side sends `after`: all of it A's.
        incoming = self.daemon.output().count("incoming auth connection from")
        self.modem_call(5, "555")
        a = self.auth_peer()
        self.accepted(incoming + 1)
        a.sendall(during)
        if during == auth_request(0, "a"):
            self.auth_of(5, "a")
        if end == "destroy":
            for slot in (5, 6):
                self.assertIn("success", self.answer(self.command(slot, "destroy : NULL")))
        elif end == "controller":
            self.c.close()
            self.c = self.daemon.connect()
        else:
            self.board.ask(end)
            self.messages(lambda t: "slot 5," in t and "abort : %d" % self.ENODEV in t)
        self.modem_call(7, "777")
        b = self.auth_peer()
        b.sendall(auth_request(0, "b"))
        self.auth_of(7, "b")
        a.sendall(after)
        self.assertEqual(self.proceedings(1, 0.5), [])
        self.assertIn("success", self.answer(self.command(7, activation("10.0.0.7"))))
        self.assertEqual(self.activated(b), 0)
        self.nothing_for(a)
        for slot in (7, 8) + ((5, 6) if end == "hangup mctl" else ()):
            self.assertIn("success", self.answer(self.command(slot, "destroy : NULL")))
        a.close()
        b.close()

    def test_the_activation_goes_to_the_first_connection_whose_last_record_named_the_session(self):
        # Slot 5's call has two connections: x asks first; y, opened later, sends records the
        # daemon does not take, then a well-formed accounting record.
        self.modem_call(5, "555")
        x, y = self.auth_peer(), self.auth_peer()
        x.sendall(auth_request(0, "x"))
        self.auth_of(5, "x")
        for records, seen in ((header(16, 2, 0) + header(36, 3, 0) + header(12, 9, 0) + malformed_request(0), []),
                              (accounting(0), ["5 acct"])):
            y.sendall(records)
            self.assertEqual(self.proceedings(1, 0.5), seen)
            self.assertIn("success", self.answer(self.command(5, activation("10.0.0.5"))))
            self.assertEqual(self.activated(x, "10.0.0.5"), 0)
            self.nothing_for(y)
        # x names a session nobody holds last: y is the first whose last record named session 0.
        x.sendall(accounting(3))
        self.assertTrue(vx.wait_for(lambda: "unknown session 3" in self.daemon.output()))
        self.assertIn("success", self.answer(self.command(5, activation("10.0.0.6"))))
        self.assertEqual(self.activated(y, "10.0.0.6"), 0)
        self.nothing_for(x)
        for slot in (5, 6):
            self.assertIn("success", self.answer(self.command(slot, "destroy : NULL")))

    def test_a_connection_opened_while_no_call_held_the_modem_speaks_for_none_until_it_asks(self):
        # Modem 0 is free: e connects and stays quiet, g asks for session 0 at once.
        incoming = self.daemon.output().count("incoming auth connection from")
        e, g = self.auth_peer(), self.auth_peer()
        self.accepted(incoming + 2)
        g.sendall(auth_request(0, "g"))
        self.assertTrue(vx.wait_for(lambda: "auth request for unknown session 0" in self.daemon.output()))
        # Slot 5's call is given modem 0 and authenticates over its own side; what e and g
        # report, never having asked during the call, is not the call's.
        self.modem_call(5, "555")
        a = self.auth_peer()
        a.sendall(auth_request(0, "a"))
        self.auth_of(5, "a")
        e.sendall(accounting(0))
        g.sendall(accounting(0))
        self.assertEqual(self.proceedings(1, 0.5), [])
        self.assertIn("success", self.answer(self.command(5, activation("10.0.0.5"))))
        self.assertEqual(self.activated(a), 0)
        self.nothing_for(e, g)
        # Once it asks during the call, a connection opened before it serves it, first in order.
        e.sendall(auth_request(0, "e"))
        self.auth_of(5, "e")
        self.assertIn("success", self.answer(self.command(5, activation("10.0.0.6"))))
        self.assertEqual(self.activated(e, "10.0.0.6"), 0)
        for slot in (5, 6):
            self.assertIn("success", self.answer(self.command(slot, "destroy : NULL")))

    def test_a_slot_without_a_modem_takes_no_digital_calls_authentication(self):
        # One DSP modem, busy with slot 5; one synchronous interface for digital calls.
        self.board_setting("modems 1", "modems 4")
        self.board_setting("netif-sync hdlc0 200", "netif-remove hdlc0")
        self.assertIn("success", self.answer(self.command(None, "query : NULL")))
        self.options("aoptions", "auth u5 p5\n")
        self.create(5, modem_params(cid="555"))
        self.start(5, 6)
        self.messages(lambda t: "slot 5," in t and 'username "u5"' in t)
        self.create(7, modem_params(cid="777"))
        self.assertIn("connectFail", self.answer(self.start(7, 8)))

        # A peer that has sent nothing yet, another call's PPP side still negotiating its link.
        incoming = self.daemon.output().count("incoming auth connection from")
        self.auth_peer()
        self.accepted(incoming + 1)
        # The digital call's pppd asks under session -1: its own slot hears it.
        self.options("ioptions", "auth digital pw\nwait-ip\n")
        self.create(9, modem_params(cid="999", ddm=["ddm8BIT"]))
        self.start(9, 10)
        got = self.messages(lambda t: "modemProceeding : auth" in t)
        self.assertRegex(got[-1], r'slot 9, .*username "digital"')
        self.assertIn("unsupported", self.answer(self.command(7, activation("10.0.0.5"))))
        self.assertIn("success", self.answer(self.command(9, activation("10.0.0.9"))))
        digital = self.pid_of("999")
        self.assertTrue(vx.wait_for(lambda: any(f[0] == "ip" for f in self.lines_of(digital) if f)),
                        self.log_text())
        self.assertEqual([f[4] for f in self.lines_of(digital) if f and f[0] == "ip"], ["10.0.0.9"])
        for slot in (9, 7, 5):
            self.assertIn("success", self.answer(self.command(slot, "destroy : NULL")))

    def test_accounting_halves_at_two_to_the_31_and_32_arrive_unsigned(self):
        self.options("aoptions", "auth u p\nacct 4294967295 2147483648 2147483648 4294967295 0 2147483647 "
                                 "1 0 4294967295\n")
        self.create(5, modem_params())
        self.start(5, 6)
        self.messages(lambda t: "slot 5," in t and "modemProceeding : auth" in t)
        # The daemon's own decoder takes 32-bit numbers only: the signal is read here, from its
        # octets (an unconstrained INTEGER is a length octet and two's complement octets).
        frame = self.raw_signal_with(b"\x04\x7f\xff\xff\xff")
        words = []
        at = frame.find(b"\x05\x00")
        while at >= 0 and len(words) < 10:
            n = frame[at]
            words.append(int.from_bytes(frame[at + 1:at + 1 + n], "big", signed=True))
            at += 1 + n
        # { low, high } each: octetsOut, octetsIn, packetsOut, packetsIn, time.
        self.assertEqual(words, [2147483648, 4294967295, 4294967295, 2147483648, 2147483647, 0,
                                 0, 1, 4294967295, 0])
        self.assertIn("success", self.answer(self.command(5, "destroy : NULL")))

    def raw_signal_with(self, marker, timeout=8.0):
        """The first frame's octets that hold marker."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            f = self.c.raw_frame(max(0.05, deadline - time.monotonic()))
            if f is None:
                break
            if marker in f:
                return f
        self.fail("no frame with %r\ndaemon:\n%s" % (marker, self.daemon.output()[-3000:]))

    def auth_of(self, slot, user, timeout=8.0):
        """The next authentication the controller is told of is slot's, for user."""
        got = self.messages(lambda t: "modemProceeding : auth" in t, timeout)
        self.assertRegex(got[-1], r'slot %d, .*username "%s"' % (slot, user))

    def proceedings(self, count, timeout=8.0):
        """The next count authentications and accountings the controller is told of (fewer when
        the time is up), each as its slot and username or "acct", sorted."""
        got = []
        deadline = time.monotonic() + timeout
        while len(got) < count and time.monotonic() < deadline:
            got += [t for t in self.gather(deadline - time.monotonic(), lambda t: "modemProceeding" in t)
                    if "modemProceeding" in t]
        return sorted(re.sub(r'^\{ slot (\d+), .*(username "\w+"|acct).*', r"\1 \2", t) for t in got)

    def closed_by_daemon(self, s, timeout):
        s.settimeout(timeout)
        try:
            return s.recv(1) == b""
        except socket.timeout:
            return False
        except ConnectionResetError:
            return True

    def test_a_slow_ppp_side_authenticates_and_stalled_peers_hold_no_place(self):
        incoming = self.daemon.output().count("incoming auth connection from")
        # Slot 5's pppd connects at once and names its session ten seconds later, once its link
        # is up.
        self.options("aoptions", "connect\nsleep 10000\nauth alice secret\nwait-ip\n")
        self.create(5, modem_params())
        self.start(5, 6)
        self.accepted(incoming + 1)
        # Fifteen peers, the other places, each begin a record and stall: a few seconds on, the
        # daemon closes them.
        stalled = [self.auth_peer() for _ in range(15)]
        for s in stalled:
            s.sendall(struct.pack("=III", 140, 1, 0) + b"stalled\0")
        self.accepted(incoming + 16)
        deadline = time.monotonic() + 20
        for s in stalled:
            self.assertTrue(self.closed_by_daemon(s, max(0.1, deadline - time.monotonic())),
                            "a stalled peer is still served\ndaemon:\n%s" % self.daemon.output()[-3000:])
        # Fifteen quiet peers take the free places, and the pppd is served when it speaks.
        quiet = [self.auth_peer() for _ in range(15)]
        self.accepted(incoming + 31)
        self.auth_of(5, "alice", timeout=15)
        # A new peer takes the oldest quiet place, never the pppd's.
        quiet.append(self.auth_peer())
        self.assertTrue(self.closed_by_daemon(quiet[0], 5))
        self.assertFalse(self.closed_by_daemon(quiet[1], 0.2))
        self.assertIn("success", self.answer(self.command(5, activation("10.0.0.5"))))
        pppd = self.pid_of("5551234")
        self.assertTrue(vx.wait_for(lambda: any(f[0] == "ip" for f in self.lines_of(pppd) if f)), self.log_text())
        self.assertIn("success", self.answer(self.command(5, "destroy : NULL")))

    def test_a_connection_serves_calls_one_after_another_whatever_ended_the_last(self):
        # One connection speaks for the PPP side of the calls. It names session 0 first while a
        # fax program holds modem 0, which then goes, program still running, to slot 5's call.
        s = self.auth_peer()
        fax_exit = self.daemon.path("/usr/local/etc/fax.exit")
        with open(fax_exit, "w") as f:
            f.write("3 hup\n")
        self.addCleanup(os.remove, fax_exit)
        self.create(13, modem_params(fax=True, execargs=["send", "/tmp/doc.g3"]))
        self.start(13, 14)
        self.assertTrue(vx.wait_for(lambda: self.execs()))
        s.sendall(auth_request(0, "early"))
        self.assertTrue(vx.wait_for(lambda: "auth request for unknown session 0" in self.daemon.output()))
        self.assertIn("success", self.answer(self.command(14, "disconnect : NULL")))
        self.modem_call(5, "555")
        s.sendall(auth_request(0, "u5"))
        self.auth_of(5, "u5")
        self.assertIn("success", self.answer(self.command(13, "destroy : NULL")))
        # Slot 5's call ends and the next call, slot 9, is given modem 0: the connection's
        # request for it reaches it.
        self.assertIn("success", self.answer(self.command(5, "destroy : NULL")))
        self.modem_call(9, "999")
        s.sendall(auth_request(0, "u9"))
        self.auth_of(9, "u9")
        # Slot 11 is given modem 1. A second connection speaks for slot 9's call, then for
        # slot 11's.
        self.modem_call(11, "1111", 1025)
        t = self.auth_peer()
        t.sendall(auth_request(0, "t9"))
        self.auth_of(9, "t9")
        t.sendall(auth_request(1, "t11"))
        self.auth_of(11, "t11")
        # The board resets its modems, and slots 7 and 15 are given modems 0 and 1.
        self.board.ask("hangup mctl")
        self.assertTrue(vx.wait_for(lambda: self.daemon.output().count("lost: device hung up") == 2))
        self.create(7, modem_params(cid="777"))
        self.start(7, 8)
        self.modem_call(15, "1515", 1025)
        # Slot 9's accounting, late, is dropped though the connection named session 1 since;
        # each connection's fresh request is the new call's.
        t.sendall(accounting(0, 99))
        s.sendall(auth_request(0, "u7"))
        t.sendall(auth_request(1, "u15"))
        self.assertEqual(self.proceedings(2), ['15 username "u15"', '7 username "u7"'])
        # Each activation goes to the connection that named its session last.
        for slot, to, session in ((7, s, 0), (15, t, 1)):
            self.assertIn("success", self.answer(self.command(slot, activation("10.0.0.%d" % slot))))
            self.assertEqual(self.activated(to), session)
        for slot in (7, 9, 11, 15):
            self.assertIn("success", self.answer(self.command(slot, "destroy : NULL")))

if __name__ == "__main__":
    vx.main()
