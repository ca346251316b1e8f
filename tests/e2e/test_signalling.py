"""Signalling slots end to end: PSTN, ISDN and ATS-QSIG slots on trunk timeslots of
voxrelay-sim, with far ends on the simulated board's frame sockets: libpri (lapd_peer) for
LAPD, libss7 (libss7_peer) for SS7. Destroying a slot frees its controller channel."""

import os
import socket
import subprocess
import tempfile
import threading
import time

import vxharness as vx
from test_hardware import Board, Reader
from test_slots import _create as create, _slot_command, activate, connect, create_trunk

USER_DATA, IOCTL = 8, 9
SIG_ACTIVATED, SIG_DEACTIVATED, SIG_USER_DATA, SIG_IOCTL = 5, 6, 8, 12
CREATE_PSTN, CREATE_ISDN, CREATE_HDLC, CREATE_ATS_QSIG = 6, 14, 15, 17
IOCTL_SS7_RQ_BSN = 4
# IoctlResponse alternatives.
SS7_BSN, SS7_LINK_INFO = 3, 4
SS7_WORKED = 5


# ---- commands -------------------------------------------------------------------------------

integer = vx.integer


def octets(b, data):
    """A short unconstrained OCTET STRING."""
    b.octets(bytes([len(data)]) + data)


def isdn_params(b, bri, trunk, network, log=0):
    b.put(0, 1)              # no extension
    b.put(0 if bri else 1, 1)
    integer(b, trunk)
    integer(b, log)
    b.put(1 if network else 0, 1)


def create_pstn_isdn(slot, bri, trunk, network, seq=1):
    def body(b):
        b.put(1, 2)          # PstnParams: isdn
        isdn_params(b, bri, trunk, network)
    return create(CREATE_PSTN, slot, seq, body)


def create_pstn_ss7(slot, trunk, slc=0, dpc=1, opc=2, emergency=False, seq=1):
    def body(b):
        b.put(0, 2)          # PstnParams: ss7
        for v in (trunk, slc, dpc, opc):
            integer(b, v)
        b.put(1 if emergency else 0, 1)
    return create(CREATE_PSTN, slot, seq, body)


def create_isdn(slot, bri, trunk, network, seq=1):
    return create(CREATE_ISDN, slot, seq, lambda b: isdn_params(b, bri, trunk, network))


def create_ats_qsig(slot, network, seq=1):
    def body(b):
        b.put(0, 1)
        b.put(1 if network else 0, 1)
        integer(b, 0)
    return create(CREATE_ATS_QSIG, slot, seq, body)


def create_hdlc(slot, trunk, address, seq=1):
    def body(b):
        b.put(0, 1)
        for v in (trunk, 0, address):
            integer(b, v)
    return create(CREATE_HDLC, slot, seq, body)


def user_data(slot, data, seq=1):
    return _slot_command(USER_DATA, slot, seq, lambda b: octets(b, data))


def ioctl_ss7_bsn(slot, seq=1):
    def body(b):
        b.put(0, 1)
        b.put(IOCTL_SS7_RQ_BSN, 6)
    return _slot_command(IOCTL, slot, seq, body)


def destroy(slot, seq=1):
    return vx.command(vx.DESTROY, seq=seq, slot=slot)


# ---- what the daemon sends -------------------------------------------------------------------

def event(payload):
    """('success', seq, slot), ('error', cause, seq, slot), ('userData', slot, bytes),
    ('ioctl', slot, response alternative, value), or ('signal', alternative, slot)."""
    seq, slot, kind, value = vx.parse_message(payload)
    if kind == "success":
        return ("success", seq, slot)
    if kind == "error":
        return ("error", value, seq, slot)
    if value not in (SIG_USER_DATA, SIG_IOCTL):
        return ("signal", value, slot)
    r = Reader(payload)
    vx.read_signal_start(r)  # seq, slot, PDU, extension bit, alternative
    if value == SIG_USER_DATA:
        return ("userData", slot, r.octets())
    alt = r.take(4)
    if alt == SS7_LINK_INFO:
        fields = [r.integer() for _ in range(10)]
        return ("ioctl", slot, alt, fields + [r.take(3)])
    if alt == SS7_BSN:
        return ("ioctl", slot, alt, r.integer())
    return ("ioctl", slot, alt, None)


class Events:
    """The controller's answers and signals, decoded; looked for by predicate, in order."""

    # How a frame is decoded into an event (a test that reads more of a record puts its own).
    decode = staticmethod(event)

    def __init__(self, controller):
        self.c = controller
        self.seen = []

    def wait(self, pred, timeout=10.0, keep_earlier=False):
        """The first event (seen before or arriving within timeout) that pred accepts; it and,
        unless keep_earlier, every event before it are taken off."""
        deadline = time.monotonic() + timeout
        while True:
            for i, e in enumerate(self.seen):
                if pred(e):
                    del self.seen[i if keep_earlier else 0:i + 1]
                    return e
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError("no such event; seen: %r" % self.seen[-20:])
            try:
                payload = self.c.raw_frame(remaining)
            except socket.timeout:
                continue
            if payload is None:
                raise AssertionError("controller connection closed")
            self.seen.append(self.decode(payload))

    def answer(self, seq, timeout=10.0):
        """The answer to seq; what the far end sent meanwhile stays to be looked for."""
        return self.wait(lambda e: e[0] in ("success", "error") and e[-2] == seq, timeout, True)


# ---- far ends -----------------------------------------------------------------------------------

class Peer:
    """A far-end program with pipes on stdin and stdout; its output lines are gathered."""

    def __init__(self, argv, ready):
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        self.lines = []
        self.lock = threading.RLock()
        threading.Thread(target=self._read, daemon=True).start()
        if not self.wait(lambda l: l == ready):
            raise AssertionError("peer not ready: %r" % self.lines)

    def _read(self):
        for line in self.proc.stdout:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def wait(self, pred, timeout=10.0):
        return vx.wait_for(lambda: self.count(pred) > 0, timeout)

    def count(self, pred, since=0):
        with self.lock:
            return sum(1 for l in self.lines[since:] if pred(l))

    def mark(self):
        """A place in the output: count(pred, since=mark) sees only what came after it."""
        with self.lock:
            return len(self.lines)

    def wait_since(self, mark, pred, timeout=10.0):
        return vx.wait_for(lambda: self.count(pred, mark) > 0, timeout)

    def command(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def close(self):
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        self.proc.terminate()
        self.proc.wait(5)
        self.proc.stdout.close()


class SocketPeer:
    """This script as a silent far end: a SOCK_SEQPACKET listener that the board connects to."""

    def __init__(self, path):
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        self.listener.bind(path)
        self.listener.listen(1)
        self.conn = None

    def accept(self):
        self.listener.settimeout(5)
        self.conn, _ = self.listener.accept()
        self.conn.settimeout(5)

    def recv(self):
        return self.conn.recv(65536)

    def close(self):
        for s in (self.conn, self.listener):
            if s:
                s.close()


class SignallingBoard(Board):
    listings = Board.listings + ("connections",)


def tool(name):
    """A test program built beside the daemon, or None."""
    path = os.path.join(os.path.dirname(vx.DAEMON), "tests", name)
    return path if os.access(path, os.X_OK) else None


# Q.931 messages: STATUS ENQUIRY with a two-octet call reference on a primary rate channel and
# a one-octet one on a basic rate channel; libpri answers for a call it does not know with
# STATUS or RELEASE COMPLETE.
STATUS_ENQUIRY_PRI = bytes([0x08, 0x02, 0x00, 0x01, 0x75])
SETUP, STATUS, RELEASE_COMPLETE = 0x05, 0x7D, 0x5A
ANSWERS = (STATUS, RELEASE_COMPLETE)


# Point codes of the libss7 peer (2) and of the controller behind our link (1).
SS7_PEER_PC, SS7_OWN_PC = 2, 1


def ss7_label(sls):
    label = SS7_PEER_PC | (SS7_OWN_PC << 14) | (sls << 28)
    return label.to_bytes(4, "little")


def ss7_level3_answer(m):
    """A link test answered with its acknowledgement, a traffic restart allowed in kind."""
    if len(m) < 6:
        return None
    si = m[0] & 0x0F
    if si in (1, 2) and m[5] == 0x11:
        return bytes([m[0]]) + ss7_label(m[4] >> 4) + bytes([0x21]) + m[6:]
    if si == 0 and m[5] == 0x17:
        return bytes([m[0]]) + ss7_label(0) + bytes([0x17])
    return None


class SignallingCase(vx.DaemonTest):
    """The set-up and helpers of the signalling-link tests: a board with far ends on its
    controller channels."""

    def setUp(self):
        self.board = SignallingBoard(self.daemon)
        self.c = self.daemon.connect()
        self.ev = Events(self.c)
        self.dir = tempfile.mkdtemp(prefix="vxs", dir="/tmp")
        self.peers = []
        self.seq = 100

    def tearDown(self):
        self.c.close()
        for p in self.peers:
            p.close()
        self.board.close()
        time.sleep(0.05)

    # -- helpers

    def command(self, message_of_seq):
        """Sends a command built for the next sequence number; returns its answer."""
        self.seq += 1
        self.c.send(message_of_seq(self.seq))
        return self.ev.answer(self.seq)

    def ok(self, message_of_seq):
        a = self.command(message_of_seq)
        self.assertEqual(a[0], "success", a)

    def lapd_peer(self, channel, role, mode, instances=1):
        path = tool("lapd_peer")
        if not path:
            self.skipTest("lapd_peer (libpri) not built")
        sock = os.path.join(self.dir, "lapd%d" % channel)
        p = Peer([path, sock, role, mode, str(instances)], "listening")
        self.peers.append(p)
        self.board.ask("tie %d %s" % (channel, sock))
        return p

    def channels(self):
        """Controller channels of the board: {channel: open}."""
        out = {}
        for line in self.board.ask("channels"):
            fields = line.split()
            out[int(fields[0])] = dict(f.split("=") for f in fields[1:])["open"] == "1"
        return out

    def open_channels(self):
        return {ch for ch, is_open in self.channels().items() if is_open}

    def user_data_from(self, slot, type_index, types, timeout=10.0):
        """The next layer-3 message from the far end whose message type is one of types."""
        types = types if isinstance(types, tuple) else (types,)
        return self.ev.wait(lambda e: e[0] == "userData" and e[1] == slot and len(e[2]) > type_index
                            and e[2][type_index] in types, timeout)

    def both_ways(self, peer, slot, setup_first=False):
        """Link up, then both ways: our STATUS ENQUIRY is answered (STATUS or RELEASE COMPLETE)
        and a SETUP from the far end arrives."""
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, slot))
        self.assertTrue(peer.wait(lambda l: l == "event 0 PRI_EVENT_DCHAN_UP"))
        for step in ("call", "enquiry") if setup_first else ("enquiry", "call"):
            if step == "call":
                peer.command("call")
                self.user_data_from(slot, 4, SETUP)
            else:
                self.ok(lambda s: user_data(slot, STATUS_ENQUIRY_PRI, seq=s))
                self.user_data_from(slot, 4, ANSWERS)

    def ss7_peer(self, channel):
        path = tool("libss7_peer")
        if not path:
            self.skipTest("libss7_peer not built")
        sock = os.path.join(self.dir, "ss7-%d" % channel)
        peer = Peer([path, sock, "0"], "ready")
        self.peers.append(peer)
        self.board.ask("tie %d %s" % (channel, sock))
        return peer

    def ss7_up(self, peer, slot, mark=0):
        """Waits for the link of slot to come up and answers level 3 until libss7 says "up"
        (after mark)."""
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, slot), 20)
        # The controller is level 3: libss7 takes the link up once it has answered our link
        # test and has had its own link test and traffic restart answered. libss7 drops a unit
        # that arrives before its own side is in service, which may come well after ours, so
        # our link test goes again every 3 s until its acknowledgement comes back, as level 3
        # repeats an unanswered one; hearing libss7's own messages is no sign it got ours.
        link_test = bytes([0x81]) + ss7_label(0) + bytes([0x11, 0x40, 1, 2, 3, 4])
        acknowledged, next_test = False, 0
        deadline = time.monotonic() + 20
        while not peer.count(lambda l: l == "up", mark):
            self.assertLess(time.monotonic(), deadline, peer.lines)
            if not acknowledged and time.monotonic() >= next_test:
                self.ok(lambda s: user_data(slot, link_test, seq=s))
                next_test = time.monotonic() + 3
            try:
                m = self.ev.wait(lambda e: e[0] == "userData" and e[1] == slot, 0.2)[2]
            except AssertionError:
                continue
            acknowledged |= m[5:] == bytes([0x21]) + link_test[6:] and m[0] & 0x0F in (1, 2)
            reply = ss7_level3_answer(m)
            if reply:
                self.ok(lambda s: user_data(slot, reply, seq=s))

    def destroy_frees(self, slot, channel):
        self.ok(lambda s: destroy(slot, s))
        self.assertTrue(vx.wait_for(lambda: channel not in self.open_channels()), self.channels())

    def ss7_link(self, trunk_slot, slot, timeslot):
        """An SS7 link on trunk 1 at that timeslot, in service against libss7: its peer, the
        controller channels open before it, and its channel."""
        peer = self.ss7_peer(32 + timeslot)
        before = self.open_channels()
        self.ok(lambda s: create_trunk(trunk_slot, 1, timeslot, seq=s))
        self.ok(lambda s: create_pstn_ss7(slot, trunk=2, seq=s))
        self.ok(lambda s: connect(trunk_slot, slot, seq=s))
        self.ss7_up(peer, slot)
        (channel,) = self.open_channels() - before
        return peer, before, channel


class Signalling(SignallingCase):

    def test_pstn_primary_rate_user_side_against_libpri(self):
        peer = self.lapd_peer(16, "network", "pri")
        before = self.open_channels()
        self.ok(lambda s: create_trunk(1, 0, 16, seq=s))
        self.ok(lambda s: create_pstn_isdn(2, bri=False, trunk=1, network=False, seq=s))
        self.ok(lambda s: connect(1, 2, seq=s))
        self.both_ways(peer, 2)
        (channel,) = self.open_channels() - before
        self.destroy_frees(2, channel)
        self.ok(lambda s: destroy(1, s))

    def test_pstn_basic_rate_network_side_with_two_libpri_terminals(self):
        peer = self.lapd_peer(6, "cpe", "bri", 2)
        before = self.open_channels()
        self.ok(lambda s: create_trunk(3, 1, 2, bri=True, seq=s))
        self.ok(lambda s: create_pstn_isdn(4, bri=True, trunk=2, network=True, seq=s))
        self.ok(lambda s: connect(3, 4, seq=s))
        self.ok(lambda s: connect(4, 3, seq=s))
        self.assertTrue(vx.wait_for(lambda: len(self.open_channels() - before) == 1))
        (channel,) = self.open_channels() - before

        # Both terminals are given a TEI (identity assigned: message type 2).
        assigned = lambda l: l.startswith("rx FEFF030F") and l[15:17] == "02"
        self.assertTrue(peer.wait(lambda l: peer.count(assigned) >= 2, 15), peer.lines[-20:])
        peer.command("call")
        setup = self.user_data_from(4, 3, SETUP, 15)[2]
        # RELEASE COMPLETE from the network side of that call reference goes to that terminal.
        self.ok(lambda s: user_data(4, bytes([0x08, 0x01, setup[2] | 0x80, 0x5A]), seq=s))
        self.assertTrue(peer.wait(lambda l: l == "event 0 PRI_EVENT_HANGUP", 10), peer.lines[-20:])

        # A failed controller channel is a link gone down; activation brings it up on another.
        self.assertEqual(self.board.ask("hdlc-hangup %d" % channel), "1")
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_DEACTIVATED, 4), 3)
        self.ok(lambda s: activate(4, seq=s))
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_ACTIVATED, 4), 3)
        (channel,) = self.open_channels() - before
        self.destroy_frees(4, channel)
        self.ok(lambda s: destroy(3, s))

    def test_pstn_ss7_link_comes_into_service_against_libss7(self):
        peer, before, channel = self.ss7_link(5, 6, 16)

        # The link's statistics, in service.
        self.ev.seen.clear()
        info = self.ev.wait(lambda e: e[:3] == ("ioctl", 6, SS7_LINK_INFO), 5)
        self.assertEqual(info[3][-1], SS7_WORKED)
        self.assertGreater(info[3][1], 0, "units received")
        # The backward sequence number comes before the answer.
        self.c.send(ioctl_ss7_bsn(6, seq=99))
        self.ev.wait(lambda e: e[:3] == ("ioctl", 6, SS7_BSN))
        self.assertEqual(self.ev.answer(99)[0], "success")

        self.destroy_frees(6, channel)
        self.ok(lambda s: destroy(5, s))

    def test_an_ss7_link_whose_channel_fails_goes_out_of_service_and_comes_back_on_a_new_one(self):
        peer, before, channel = self.ss7_link(10, 11, 18)

        mark = peer.mark()
        self.assertEqual(self.board.ask("hdlc-hangup %d" % channel), "1")
        self.ev.wait(lambda e: e[:3] == ("signal", SIG_DEACTIVATED, 11), 3)
        info = self.ev.wait(lambda e: e[:3] == ("ioctl", 11, SS7_LINK_INFO), 5)
        self.assertNotEqual(info[3][-1], SS7_WORKED)

        # The controller's activation aligns the link again on a channel of its own.
        self.ok(lambda s: activate(11, seq=s))
        self.ss7_up(peer, 11, mark)
        (channel,) = self.open_channels() - before
        self.ev.seen.clear()
        info = self.ev.wait(lambda e: e[:3] == ("ioctl", 11, SS7_LINK_INFO), 5)
        self.assertEqual(info[3][-1], SS7_WORKED)
        self.destroy_frees(11, channel)
        self.ok(lambda s: destroy(10, s))

    def test_isdn_slot_on_a_trunk_against_libpri(self):
        peer = self.lapd_peer(80, "network", "pri")
        before = self.open_channels()
        self.ok(lambda s: create_trunk(7, 2, 16, seq=s))
        self.ok(lambda s: create_isdn(8, bri=False, trunk=3, network=False, seq=s))
        (channel,) = self.open_channels() - before
        self.ok(lambda s: connect(7, 8, seq=s))
        self.ok(lambda s: connect(8, 7, seq=s))
        self.assertEqual(self.board.ask("switch 80"), "connected %d" % channel)
        self.ok(lambda s: activate(8, seq=s))
        self.both_ways(peer, 8)
        self.destroy_frees(8, channel)
        self.ok(lambda s: destroy(7, s))

    def test_ats_qsig_slot_network_side(self):
        before = self.open_channels()
        self.ok(lambda s: create_ats_qsig(9, network=True, seq=s))
        (channel,) = self.open_channels() - before
        # The peer is the user side: it establishes the link itself.
        peer = self.lapd_peer(channel, "cpe", "pri")
        self.both_ways(peer, 9, setup_first=True)
        self.destroy_frees(9, channel)

    def connected(self):
        """The switch outputs that a source drives, as the board lists them."""
        return {l for l in self.board.ask("connections") if l.split()[1] == "connected"}

    def test_a_released_link_is_heard_going_and_leaves_no_route(self):
        start, before = self.connected(), self.open_channels()
        pri = self.lapd_peer(20, "network", "pri")
        ss7 = self.ss7_peer(49)
        # A basic-rate line sends through its own sink, disconnected after the link goes.
        bri = self.lapd_peer(6, "network", "bri-ptp")
        self.ok(lambda s: create_trunk(20, 0, 20, seq=s))
        self.ok(lambda s: create_trunk(5, 1, 17, seq=s))
        self.ok(lambda s: create_trunk(28, 1, 2, bri=True, seq=s))
        # Our DISC (P=1 or 0) as libpri received it, and what libpri makes of it.
        disc = lambda l: l.startswith("rx ") and len(l) == 9 and int(l[7:9], 16) & 0xEF == 0x43
        up = lambda l: l == "event 0 PRI_EVENT_DCHAN_UP"
        down = lambda l: l == "event 0 PRI_EVENT_DCHAN_DOWN"
        lapd = (pri, bri)

        def links_up():
            """A primary-rate and a basic-rate link against libpri, an SS7 link against libss7;
            the PRI link's controller channel."""
            mark, opened = pri.mark(), self.open_channels()
            self.ok(lambda s: create_pstn_isdn(21, bri=False, trunk=1, network=False, seq=s))
            self.ok(lambda s: connect(20, 21, seq=s))
            self.assertTrue(pri.wait_since(mark, up), pri.lines[-20:])
            (channel,) = self.open_channels() - opened
            mark = ss7.mark()
            self.ok(lambda s: create_pstn_ss7(6, trunk=2, seq=s))
            self.ok(lambda s: connect(5, 6, seq=s))
            self.ss7_up(ss7, 6, mark)
            mark = bri.mark()
            self.ok(lambda s: create_pstn_isdn(29, bri=True, trunk=2, network=False, seq=s))
            self.ok(lambda s: connect(28, 29, seq=s))
            self.ok(lambda s: connect(29, 28, seq=s))
            self.assertTrue(bri.wait_since(mark, up), bri.lines[-20:])
            return channel

        def heard_going(release, timeout=3):
            """Each far end hears its link go from what the link sent last (libpri's own
            timers would take 13.5 s), and the links leave no route behind once the switch's
            grace period for their last frames is over."""
            marks = [p.mark() for p in lapd], ss7.mark()
            release()
            for p, mark in zip(lapd, marks[0]):
                self.assertTrue(p.wait_since(mark, disc, timeout), ("bri" if p is bri else "pri", p.lines[-20:]))
                self.assertTrue(p.wait_since(mark, down, timeout), ("bri" if p is bri else "pri", p.lines[-20:]))
            self.assertTrue(ss7.wait_since(marks[1], lambda l: l == "down", timeout), ss7.lines[-20:])
            self.assertTrue(vx.wait_for(lambda: self.connected() == start, 3), self.connected() - start)

        def release_all(command):
            for slot in (21, 6, 29):
                self.ok(lambda s: command(slot, s))

        first = links_up()
        heard_going(lambda: release_all(destroy))

        # The next link on the same controller channel is heard on its own timeslot only.
        new = SocketPeer(os.path.join(self.dir, "new"))
        self.addCleanup(new.close)
        self.board.ask("tie 21 %s" % new.listener.getsockname())
        new.accept()
        mark = pri.mark()
        self.ok(lambda s: create_trunk(22, 0, 21, seq=s))
        self.ok(lambda s: create_pstn_isdn(23, bri=False, trunk=1, network=False, seq=s))
        self.ok(lambda s: connect(22, 23, seq=s))
        self.assertEqual(self.open_channels() - before, {first})
        self.assertTrue(new.recv())
        self.assertTrue(new.recv(), "a repeated call")
        self.assertEqual(pri.count(lambda l: l.startswith("rx "), mark), 0, pri.lines[-20:])
        self.ok(lambda s: destroy(23, s))

        links_up()
        heard_going(lambda: release_all(lambda slot, s: vx.command(vx.DISCONNECT, seq=s, slot=slot)))
        release_all(destroy)

        # Every kind of signalling slot goes with the controller, and so do its routes.
        links_up()
        self.ok(lambda s: create_trunk(27, 0, 22, seq=s))
        self.ok(lambda s: create_isdn(24, bri=True, trunk=1, network=False, seq=s))
        self.ok(lambda s: create_ats_qsig(25, network=False, seq=s))
        self.ok(lambda s: create_hdlc(26, trunk=1, address=1, seq=s))
        self.ok(lambda s: connect(26, 22, seq=s))
        self.ok(lambda s: connect(24, 27, seq=s))
        self.assertEqual(len(self.open_channels() - before), 6)
        heard_going(self.c.close, 5)
        self.assertTrue(vx.wait_for(lambda: self.open_channels() == before, 5), self.channels())
        self.c = self.daemon.connect()


if __name__ == "__main__":
    vx.main()
