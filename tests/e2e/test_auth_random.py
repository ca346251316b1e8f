"""The authentication channel at random, end to end on voxrelay-sim: PPP calls on DSP modems
and digital calls on two synchronous interfaces, fax transfers whose modem goes on to the next
call; calls that end every way (destroy, controller drop, modem reset, modem given on, fax
hand-over); the PPP side played by the test's own connections, accepted during calls and in
gaps: a call's own sides (two and more per call, quiet until the call ended or speaking late),
shared sides that serve call after call, quiet peers, and strays that name sessions nobody
holds; records the daemon does not take (its own kinds, unknown kinds, wrong sizes, too short to
name a session) from any of them, for any session.

A model of the rule, written from the rule alone, says where each record and activation must
go. A connection speaks, per session, for one call: the one holding the modem when it was
accepted (none in a gap), until a well-formed request binds it to the one holding the modem then
(none in a gap), except that the first well-formed record of a connection whose opening call is
over is that call's. A record reaches a slot only while the call it speaks for holds the modem;
a record the daemon does not take moves nothing. An activation goes to the first connection in
connection order that speaks for the call and whose last well-formed record named the session.
Digital calls share session -1 and one identity; the first live one in creation order hears it.
After every step the daemon must have done exactly that, and the model itself must send each
record only to the call its sender meant. The run counts what its steps decided and fails below
a floor.

A few fixed seeds run in CI. By hand, any seed and length:
    python3 test_auth_random.py --daemon build/voxrelay-sim --seed 1234 --steps 2000"""

import collections
import fcntl
import os
import random
import re
import struct
import sys
import termios
import time

import vxharness as vx
from test_modem import ModemTest, accounting, activation, auth_request, header, malformed_request, modem_params

SEEDS = [100, 102, 103]
STEPS = 500
SLOTS = (10, 11, 12, 13, 14, 15)   # calls; slot + 20 is the map each one feeds
MODEMS = (0, 1, 2, 3)               # the simulated board's DSP modems
NOBODYS = (7, 9)                    # sessions no modem has
MAX_PEERS = 12                      # under the daemon's 16: none is closed for a new one
DIGITAL = "digital"                 # the one call identity of session -1
ENODEV = 19


class Call:
    def __init__(self, slot, kind, order):
        self.slot, self.kind, self.order = slot, kind, order
        self.session = None     # the modem's number, -1 for a digital call, None when it holds none
        self.ident = None       # its own identity (DIGITAL for a digital call)
        self.modem = None
        self.ended = False

    def holds(self):
        return self.session is not None and not self.ended


class Peer:
    """A connection and what the rule says of it."""

    def __init__(self, sock, role, call, speaks):
        self.sock, self.role, self.call = sock, role, call  # role: "call", "shared", "quiet" or "stray"
        self.port = sock.getsockname()[1]
        self.speaks = speaks    # session -> the identity it speaks for (None: none)
        self.spoke = set()      # sessions it sent a well-formed record on
        self.last = None        # the session of its last well-formed record
        self.intent = {}        # shared: session -> the call it last asked for there


class Run:
    def __init__(self, seed):
        self.log = ["seed %d" % seed]
        self.calls, self.peers = {}, []
        self.expect = {}            # record id -> the slot it must reach (None: no slot)
        self.channel, self.aborts = {}, set()
        self.idents = self.created = self.rid = self.act = 0
        self.seen = collections.Counter()

    def after(self):
        return " after:\n  " + "\n  ".join(self.log[-40:])

    def holder(self, session):
        """The call whose slot hears the session's records now."""
        holding = [c for c in self.calls.values() if c.holds() and c.session == session]
        return min(holding, key=lambda c: c.order) if holding else None

    def current(self, session):
        """The identity that speaks on the session now (None in a gap)."""
        if session == -1:
            return DIGITAL
        holder = self.holder(session)
        return holder.ident if holder else None

    def end(self, call, how):
        if call.session is not None and not call.ended:
            self.seen["calls ended: " + how] += 1
            mine = [p for p in self.peers if p.role == "call" and p.call is call]
            if mine and any(call.session not in p.spoke for p in mine):
                self.seen["quiet sides at an end"] += 1
        call.ended = True


class AuthRandom(ModemTest):
    seeds = SEEDS
    steps = STEPS

    def setUp(self):
        super().setUp()
        self.board_setting("netif-sync hdlc0 200", "netif-remove hdlc0")
        self.board_setting("netif-sync hdlc1 201", "netif-remove hdlc1")
        self.assertIn("success", self.answer(self.command(None, "query : NULL")))
        with open(self.daemon.path("/usr/local/etc/fax.exit"), "w") as f:
            f.write("3 hup\n")
        self.auth_port = int(self.daemon.env["VOXRELAY_AUTH_PORT"])

    # ---- the daemon's side

    def daemon_side(self, port):
        """The daemon's end of the connection from port while it is open: /proc/net/tcp's fields."""
        with open("/proc/net/tcp") as f:
            for fields in (line.split() for line in f):
                if (fields[1].endswith(":%04X" % self.auth_port) and fields[2].endswith(":%04X" % port)
                        and fields[3] in ("01", "08")):
                    return fields
        return None

    def unread(self, sock):
        """Bytes of sock the daemon has not read yet (0 once its end is closed)."""
        sent = struct.unpack("i", fcntl.ioctl(sock, termios.TIOCOUTQ, b"\0" * 4))[0]
        side = self.daemon_side(sock.getsockname()[1])
        return sent + int(side[4].split(":")[1], 16) if side else 0

    def programs_gone(self):
        """Every program the daemon started has ended and been reaped."""
        return not any(os.path.exists("/proc/%d" % pid) for pid in self.pids())

    def feed(self, frames, run):
        """Signals: records reported (each must be where the model said), aborts, streams."""
        for t in frames:
            m = re.match(r"\{ slot (\d+), pdu signal : (.*)", t)
            if not m:
                continue
            slot, what = int(m.group(1)), m.group(2)
            rid = re.search(r'auth : \{ username "r(\d+)"', what) or \
                re.search(r"acct : \{ octetsOut \{ low 1, high 0 \}, octetsIn \{ low (\d+),", what)
            if rid:
                want = run.expect.pop(int(rid.group(1)), "none")
                if want != slot:
                    self.fail("record %s reached slot %d, not %s" % (rid.group(1), slot, want) + run.after())
            elif "modemProceeding" in what:
                self.fail("slot %d reported %s" % (slot, what) + run.after())
            elif what.startswith("abort : %d" % ENODEV):
                run.aborts.add(slot)
            elif what.startswith("transmitter : active : "):
                run.channel[slot] = int(what.split()[-2])

    def settle(self, run, peers=()):
        """The daemon read what the peers sent; every signal up to a ping's answer is fed."""
        for p in peers:
            self.assertTrue(vx.wait_for(lambda: not self.unread(p.sock), 5), "record not read" + run.after())
        self.feed(self.until_answer(self.command(None, "ping : NULL")), run)
        late = [rid for rid, slot in run.expect.items() if slot is not None]
        if late:
            self.fail("records %s reached no slot" % late + run.after())
        run.expect.clear()

    # ---- calls

    def new_call(self, rnd, run):
        slot = rnd.choice([s for s in SLOTS if s not in run.calls])
        kind = rnd.choice(["answer", "answer", "originate", "fax", "ddm", "ddm"])
        run.created += 1
        call = run.calls[slot] = Call(slot, kind, run.created)
        run.log.append("create %d %s" % (slot, kind))
        self.create(slot, modem_params(cid="c%d" % slot, originate=kind == "originate", fax=kind == "fax",
                                       ddm=["ddmV110"] if kind == "ddm" else None,
                                       execargs=["send", "doc.g3"] if kind == "fax" else None))
        run.channel.pop(slot, None)
        self.feed(self.until_answer(self.start(slot, slot + 20)), run)
        channel = run.channel.get(slot)
        run.log[-1] += " on channel %s" % channel
        if channel is None:
            return                      # no modem free
        if channel < 1024:
            call.session, call.ident = -1, DIGITAL
            run.seen["digital calls"] += 1
            return
        run.idents += 1
        call.ident, call.modem = run.idents, channel - 1024
        for other in run.calls.values():
            if other is not call and other.modem == call.modem and other.kind == "fax":
                run.seen["modems taken from a fax"] += 1
            elif other is not call and other.holds() and other.session == call.modem:
                # The board gave its modem on: that call lost it.
                run.log.append("slot %d lost modem %d" % (other.slot, other.session))
                run.end(other, "modem given on")
        if kind == "fax":
            # Handed to the fax program at once: the call ends for the channel.
            run.end(call, "fax")
        else:
            call.session = call.modem

    def destroy(self, rnd, run):
        slot = rnd.choice(sorted(run.calls))
        run.log.append("destroy %d" % slot)
        for s in (slot, slot + 20):
            self.assertIn("success", self.answer(self.command(s, "destroy : NULL")), run.after())
        run.end(run.calls.pop(slot), "destroy")

    def drop_controller(self, run):
        run.log.append("controller dropped")
        self.c.close()
        self.c = self.daemon.connect()
        for call in run.calls.values():
            run.end(call, "controller lost")
        run.calls.clear()
        # A slot whose program runs holds its session until the program is gone.
        self.assertTrue(vx.wait_for(self.programs_gone, 10), "programs still running" + run.after())

    def reset(self, run):
        run.log.append("hangup mctl")
        losing = {c.slot: c for c in run.calls.values() if c.holds() and c.session >= 0}
        run.aborts.clear()
        self.board.ask("hangup mctl")
        vx.wait_for(lambda: set(losing) <= run.aborts or self.feed(self.gather(0.1), run))
        self.assertTrue(set(losing) <= run.aborts, "no abort after the reset" + run.after())
        for c in losing.values():
            run.end(c, "reset")

    # ---- peers

    def open_peer(self, rnd, run):
        holding = [c for c in run.calls.values() if c.holds()]
        roles = ["shared", "quiet", "stray"] + ["call"] * 3 * bool(holding)
        role = rnd.choice(roles)
        call = None
        if role == "call":
            # Often a second or third side of a call that has one.
            sided = [p.call for p in run.peers if p.role == "call" and p.call.holds()]
            call = rnd.choice(sided if sided and rnd.random() < 0.4 else holding)
        incoming = self.daemon.output().count("incoming auth connection from")
        speaks = {c.session: c.ident for c in holding}
        speaks[-1] = DIGITAL
        peer = Peer(self.auth_peer(), role, call, speaks)
        run.peers.append(peer)
        if any(run.holder(m) is None for m in MODEMS):
            run.seen["peers opened in a gap"] += 1
        run.log.append("peer %d opened (%s%s)" % (peer.port, role, " of %d" % call.slot if call else ""))
        self.accepted(incoming + 1, "not accepted" + run.after())
        if role == "shared" and holding and rnd.random() < 0.5:
            meant = rnd.choice(holding)
            self.record(run, peer, meant.session, 1, meant)
            return [peer]
        return [peer]

    def close_peer(self, run, peer):
        """The peer goes, and the daemon has let it go."""
        run.peers.remove(peer)
        run.log.append("peer %d closed" % peer.port)
        peer.sock.close()
        self.assertTrue(vx.wait_for(lambda: not self.daemon_side(peer.port), 5), "peer not let go" + run.after())

    def send(self, peer, data, pieces):
        for at in range(0, len(data), 50 if pieces else len(data)):
            peer.sock.sendall(data[at:at + 50] if pieces else data)
            if pieces:
                time.sleep(0.005)

    def record(self, run, peer, session, kind, meant, pieces=False):
        """A well-formed record from peer on session, meant for the call `meant` (None: for no call
        at all). The rule decides where it goes."""
        run.rid += 1
        run.log.append("peer %d: %s r%d on %d for %s" % (peer.port, "auth" if kind == 1 else "acct", run.rid, session,
                                                        "slot %d" % meant.slot if meant else "none"))
        holder, current = run.holder(session), run.current(session)
        if kind == 1:
            if current is None:
                run.seen["requests in a gap"] += 1
            opening = peer.speaks.get(session)
            if opening is not None and opening != current and session not in peer.spoke:
                run.seen["first records of an ended call"] += 1
            else:
                peer.speaks[session] = current
        peer.spoke.add(session)
        peer.last = session
        to = holder if holder is not None and peer.speaks.get(session) == current else None
        if to is not None and meant is not to and not (session == -1 and meant is not None and meant.kind == "ddm"):
            self.fail("the rule gives slot %d record %d meant for %s" % (
                to.slot, run.rid, "slot %d" % meant.slot if meant else "no call") + run.after())
        if peer.role == "call" and meant.holds() and to is not meant and session != -1:
            self.fail("the rule keeps record %d from slot %d's own side" % (run.rid, meant.slot) + run.after())
        run.expect[run.rid] = to.slot if to else None
        run.seen["records to their slot" if to else "records dropped"] += 1
        if peer.role == "shared" and kind == 1 and meant is not None:
            peer.intent[session] = meant
        data = auth_request(session, "r%d" % run.rid) if kind == 1 else accounting(session, run.rid)
        self.send(peer, data, pieces)

    def speak(self, rnd, run):
        """One well-formed record from a peer that has something to say, as its role lets it."""
        holding = [c for c in run.calls.values() if c.holds()]
        choices = []
        for p in run.peers:
            if p.role == "call":
                c = p.call
                if c.holds():
                    choices.append((p, c.session, rnd.choice([1, 4]), c))
                else:
                    # Its call is over: late accounting, or the first record of a side that
                    # stayed quiet through the end.
                    first = c.session not in p.spoke
                    choices.append((p, c.session, rnd.choice([1, 4]) if first else 4, c))
            elif p.role == "shared":
                if holding:
                    c = rnd.choice(holding)
                    choices.append((p, c.session, 1, c))
                for s, c in p.intent.items():
                    choices.append((p, s, 4, c))
            elif p.role == "stray":
                # Sessions nobody holds now: a modem in a gap, or a number no modem has.
                free = [m for m in MODEMS if run.holder(m) is None] + list(NOBODYS)
                choices.append((p, rnd.choice(free), rnd.choice([1, 1, 4]), None))
        if not choices:
            return []
        peer, session, kind, meant = rnd.choice(choices)
        self.record(run, peer, session, kind, meant, pieces=rnd.random() < 0.2)
        return [peer]

    def reject(self, rnd, run):
        """A record the daemon does not take, from any peer, for any session: it moves nothing."""
        if not run.peers:
            return []
        peer = rnd.choice(run.peers)
        held = [c.session for c in run.calls.values() if c.holds()]
        session = rnd.choice(held if held and rnd.random() < 0.6 else MODEMS + NOBODYS + (-1,))
        form = rnd.randrange(6)
        data = (header(16, 2, session), header(36, 3, session), header(20, rnd.choice([0, 5, 9, 0x42]), session),
                header(8, 1, session), malformed_request(session),
                struct.pack("=I", 60) + accounting(session)[4:60])[form]
        run.log.append("peer %d: rejected record (form %d) on %d" % (peer.port, form, session))
        run.seen["rejected records"] += 1
        self.send(peer, data, rnd.random() < 0.2)
        return [peer]

    def activate(self, rnd, run):
        holding = [s for s in sorted(run.calls) if run.calls[s].holds()]
        call = run.calls[rnd.choice(holding if holding and rnd.random() < 0.8 else sorted(run.calls))]
        run.act += 1
        remote = "10.%d.%d.%d" % (run.act >> 16 & 255, run.act >> 8 & 255, run.act & 255)
        run.log.append("activate %d (%s)" % (call.slot, remote))
        answer = self.answer(self.command(call.slot, activation(remote)))
        self.assertIn("success" if call.holds() else "unsupported", answer, run.after())
        want = None
        if call.holds():
            ident = run.current(call.session)
            named = [p for p in run.peers if p.last == call.session and p.speaks.get(call.session) == ident]
            want = named[0] if named else None
            if len(named) > 1:
                run.seen["activations among several peers"] += 1
            if want and not (call.session == -1 or want.call is call or want.intent.get(call.session) is call):
                self.fail("the rule sends slot %d's activation to %s peer %d" % (call.slot, want.role, want.port)
                          + run.after())
        run.seen["activations " + ("sent" if want else "to no peer" if call.holds() else "refused")] += 1
        # The activation's peer gets it; then none other has anything to read.
        if want:
            self.assertEqual(self.activated(want.sock, remote, "peer %d, slot %d's" % (want.port, call.slot)
                                            + run.after()), call.session)
        for p in run.peers:
            p.sock.settimeout(0)
            try:
                got = p.sock.recv(64)
            except BlockingIOError:
                got = b""
            if got:
                self.fail("peer %d got %r for slot %d's activation" % (p.port, got[:32], call.slot) + run.after())

    def step(self, rnd, run):
        live, r, sent = sorted(run.calls), rnd.random(), []
        if r < 0.15 and len(live) < len(SLOTS):
            self.new_call(rnd, run)
        elif r < 0.22 and live:
            self.destroy(rnd, run)
        elif r < 0.33:
            if len(run.peers) >= MAX_PEERS:
                self.close_peer(run, rnd.choice(run.peers))
            sent = self.open_peer(rnd, run)
        elif r < 0.57:
            sent = self.speak(rnd, run)
        elif r < 0.65:
            sent = self.reject(rnd, run)
        elif r < 0.77 and live:
            self.activate(rnd, run)
        elif r < 0.80:
            self.reset(run)
        elif r < 0.83 and live:
            # The call's paths go: the board may give its modem to the next call (a fax's while
            # the program runs), once it frees it.
            slot = rnd.choice(live)
            run.log.append("disconnect %d" % (slot + 20))
            self.assertIn("success", self.answer(self.command(slot + 20, "disconnect : NULL")), run.after())
        elif r < 0.86:
            run.log.append("modems 4: the board frees its modems")
            self.board.ask("modems 4")
            if len(live) < len(SLOTS):
                self.new_call(rnd, run)
        elif r < 0.88:
            self.drop_controller(run)
        elif r < 0.92 and run.peers:
            self.close_peer(run, rnd.choice(run.peers))
        self.settle(run, sent)

    def test_random_authentication_channel(self):
        for seed in self.seeds:
            with self.subTest(seed=seed):
                run = Run(seed)
                rnd = random.Random(seed)
                try:
                    for _ in range(self.steps):
                        self.step(rnd, run)
                finally:
                    # The calls go with the controller; nothing of this run stays for the next.
                    while run.peers:
                        self.close_peer(run, run.peers[0])
                    self.drop_controller(run)
                    self.board.ask("modems 4")
                print("seed %d, %d steps: %s" % (seed, self.steps, ", ".join(
                    "%d %s" % (n, what) for what, n in sorted(run.seen.items()))), file=sys.stderr)
                # What a run must have checked, so that it cannot pass on nothing.
                for what, per in (("records to their slot", 20), ("records dropped", 15), ("rejected records", 30),
                                  ("activations sent", 50), ("activations among several peers", 70),
                                  ("first records of an ended call", 250), ("requests in a gap", 80),
                                  ("quiet sides at an end", 100), ("digital calls", 60), ("calls ended: destroy", 40),
                                  ("calls ended: reset", 80), ("calls ended: controller lost", 60),
                                  ("calls ended: modem given on", 1000)):
                    self.assertGreaterEqual(run.seen[what], self.steps // per, "too few " + what)


if __name__ == "__main__":
    vx.tester_args(AuthRandom)
    vx.main()
