"""The authentication channel at random, end to end on voxrelay-sim: PPP calls on DSP modems
and digital calls on a synchronous interface, fax transfers whose modem goes on to the next
call, normal ends, modem resets (the device hung up), modems the board frees unnoticed and then
gives to the next call, controller drops; the PPP side played by the test's own connections:
one per call (late records once its call is over, or quiet until its call lost its modem),
shared by calls one after another, or quiet for good.

A model of the rule says where each record and activation must go: a connection speaks, per
session, for the call that held the modem when it named the session; a fresh request moves it on
to the current holder, except the first record of one that opened during a call which lost its
modem; an activation goes to the connection that speaks for the call and named the session last.
After every step the daemon must have done exactly that, and what the model says must itself be
the record's own call (digital calls share session -1: any live digital call is theirs). The run
counts what its steps decided and fails below a floor.

A few fixed seeds run in CI. By hand, any seed and length:
    python3 test_auth_random.py --daemon build/voxrelay-sim --seed 1234 --steps 2000"""

import collections
import fcntl
import random
import re
import socket
import struct
import sys
import termios
import time

import vxharness as vx
from test_modem import ModemTest, accounting, activation, auth_request, modem_params

SEEDS = [1, 2, 3]
STEPS = 300
SLOTS = (10, 11, 12, 13, 14, 15)   # calls; slot + 20 is the map each one feeds
MAX_PEERS = 12                      # under the daemon's 16: none is closed for a new one
DIGITAL = "digital"                 # the one call identity of session -1
ENODEV = 19


class Call:
    def __init__(self, slot, kind):
        self.slot, self.kind = slot, kind
        self.session = None     # the modem's number, -1 for a digital call, None when it holds none
        self.ident = self.modem = None  # the order in which calls were given a modem, and it
        self.lost = self.over = False

    def holds(self):
        return self.session is not None and not self.lost and not self.over


class Peer:
    def __init__(self, sock, role, call, opened_after):
        self.sock, self.role, self.call = sock, role, call     # role: "call", "shared" or "quiet"
        self.port, self.opened_after, self.named = sock.getsockname()[1], opened_after, False
        self.speaks = {}    # session -> [call identity, order of its last naming (0: never)]
        self.intent = {}    # shared: session -> the call it last spoke to there


class Run:
    def __init__(self, seed):
        self.log = ["seed %d" % seed]
        self.calls, self.peers = {}, []
        self.expect = {}            # record id -> the slot it must reach (None: no slot)
        self.channel, self.aborts = {}, set()
        self.idents = self.order = self.rid = self.act = 0
        self.seen = collections.Counter()

    def after(self):
        return " after:\n  " + "\n  ".join(self.log[-40:])


class AuthRandom(ModemTest):
    seeds = SEEDS
    steps = STEPS

    def setUp(self):
        super().setUp()
        self.board_setting("netif-sync hdlc0 200", "netif-remove hdlc0")
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

    # ---- steps

    def new_call(self, rnd, run):
        slot = rnd.choice([s for s in SLOTS if s not in run.calls])
        kind = rnd.choice(["answer", "answer", "originate", "fax", "ddm"])
        call = run.calls[slot] = Call(slot, kind)
        run.log.append("create %d %s" % (slot, kind))
        self.create(slot, modem_params(cid="c%d" % slot, originate=kind == "originate", fax=kind == "fax",
                                       ddm=["ddmV110"] if kind == "ddm" else None,
                                       execargs=["send", "doc.g3"] if kind == "fax" else None))
        run.channel.pop(slot, None)
        self.feed(self.until_answer(self.start(slot, slot + 20)), run)
        channel = run.channel.get(slot)
        if channel is None or channel < 1024:
            # No modem free, or the synchronous interface: a digital call holds session -1.
            call.session = -1 if channel is not None else None
            return
        run.idents += 1
        call.ident, call.modem = run.idents, channel - 1024
        for other in run.calls.values():
            if other is not call and other.modem == call.modem and other.kind == "fax":
                run.seen["modems taken from a fax"] += 1
            elif other is not call and other.holds() and other.session == call.modem:
                # The board gave its modem on: that call lost it.
                run.seen["modems given on"] += 1
                self.lose(run, other)
        if kind != "fax":
            call.session = call.modem

    def lose(self, run, call):
        call.lost = True
        run.seen["calls lost"] += 1
        run.log.append("slot %d lost modem %d" % (call.slot, call.session))
        for p in run.peers:
            if not p.named and call.session not in p.speaks and p.opened_after >= call.ident:
                p.speaks[call.session] = [call.ident, 0]

    def end(self, run, calls):
        for call in calls:
            call.over = True
            del run.calls[call.slot]

    def open_peer(self, rnd, run):
        holding = [c for c in run.calls.values() if c.holds()]
        role = rnd.choice(["call", "call", "shared", "quiet"] if holding else ["shared", "quiet"])
        call = rnd.choice(holding) if role == "call" else None
        incoming = self.daemon.output().count("incoming auth connection from")
        peer = Peer(self.auth_peer(), role, call, run.idents)
        run.peers.append(peer)
        run.log.append("peer %d opened (%s%s)" % (peer.port, role, " of %d" % call.slot if call else ""))
        self.accepted(incoming + 1, "not accepted" + run.after())
        if role == "shared" and any(c.session != -1 for c in holding):
            # Named at once: one quiet through a loss would be taken for the lost call's side.
            self.record(run, peer, rnd.choice(holding), 1)

    def record(self, run, peer, call, kind, pieces=False):
        """A record from peer for call (its own, or the last it spoke to on the session)."""
        run.rid += 1
        session = call.session
        run.log.append("peer %d: %s r%d for slot %d on %d" % (peer.port, "auth" if kind == 1 else "acct", run.rid,
                                                            call.slot, session))
        first, peer.named = not peer.named, True
        holder = next((c for c in run.calls.values() if c.holds() and c.session == session), None)
        current = DIGITAL if session == -1 else holder.ident if holder else None
        speaks = peer.speaks.get(session)
        if speaks and speaks[0] != current and (current is None or kind != 1 or first):
            holder = None
        else:
            if speaks:
                speaks[0] = current
            elif current is not None:
                speaks = peer.speaks[session] = [current, 0]
            if speaks:
                run.order += 1
                speaks[1] = run.order
        if holder is not None and holder is not call and not (session == -1 and holder.kind == "ddm"):
            self.fail("the rule gives slot %d record %d of slot %d's call" % (holder.slot, run.rid, call.slot)
                      + run.after())
        run.expect[run.rid] = holder.slot if holder else None
        run.seen["records to their slot" if holder else "records dropped"] += 1
        if peer.role == "shared":
            peer.intent[session] = call
        data = auth_request(session, "r%d" % run.rid) if kind == 1 else accounting(session, run.rid)
        for at in range(0, len(data), 50 if pieces else len(data)):
            peer.sock.sendall(data[at:at + 50] if pieces else data)
            if pieces:
                time.sleep(0.005)

    def speak(self, rnd, run):
        """One record from a peer that has something to say, as its role lets it."""
        choices = []
        for p in run.peers:
            if p.role == "call":
                c = p.call
                if c.holds():
                    choices.append((p, c, rnd.choice([1, 4])))
                elif p.named or c.lost:
                    # Its call is over: late accounting, or the quiet side of a lost call speaking.
                    choices.append((p, c, 4 if p.named else rnd.choice([1, 4])))
            elif p.role == "shared":
                holding = [c for c in run.calls.values() if c.holds()]
                if holding:
                    choices.append((p, rnd.choice(holding), 1))
                for c in p.intent.values():
                    choices.append((p, c, 4))
        if not choices:
            return []
        peer, call, kind = rnd.choice(choices)
        self.record(run, peer, call, kind, pieces=rnd.random() < 0.2)
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
            ident = DIGITAL if call.session == -1 else call.ident
            named = [(p.speaks[call.session][1], p) for p in run.peers
                     if p.speaks.get(call.session, [None, 0])[0] == ident and p.speaks[call.session][1]]
            want = max(named, key=lambda x: x[0])[1] if named else None
            if want and not (call.session == -1 or want.call is call or want.intent.get(call.session) is call):
                self.fail("the rule sends slot %d's activation to another call's peer" % call.slot + run.after())
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

    def reset(self, run):
        run.log.append("hangup mctl")
        losing = {c.slot: c for c in run.calls.values() if c.holds() and c.session >= 0}
        run.aborts.clear()
        self.board.ask("hangup mctl")
        vx.wait_for(lambda: set(losing) <= run.aborts or self.feed(self.gather(0.1), run))
        self.assertTrue(set(losing) <= run.aborts, "no abort after the reset" + run.after())
        for c in losing.values():
            self.lose(run, c)
        run.seen["resets"] += 1

    def close_peer(self, run, peer):
        """The peer goes, and the daemon has let it go."""
        run.peers.remove(peer)
        run.log.append("peer %d closed" % peer.port)
        peer.sock.close()
        self.assertTrue(vx.wait_for(lambda: not self.daemon_side(peer.port), 5), "peer not let go" + run.after())

    def step(self, rnd, run):
        live, r, sent = sorted(run.calls), rnd.random(), []
        if r < 0.16 and len(live) < len(SLOTS):
            self.new_call(rnd, run)
        elif r < 0.24 and live:
            slot = rnd.choice(live)
            run.log.append("destroy %d" % slot)
            for s in (slot, slot + 20):
                self.assertIn("success", self.answer(self.command(s, "destroy : NULL")), run.after())
            self.end(run, [run.calls[slot]])
        elif r < 0.36:
            if len(run.peers) >= MAX_PEERS:
                self.close_peer(run, rnd.choice(run.peers))
            self.open_peer(rnd, run)
            sent = run.peers[-1:]
        elif r < 0.64:
            sent = self.speak(rnd, run)
        elif r < 0.76 and live:
            self.activate(rnd, run)
        elif r < 0.79:
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
        elif r < 0.89:
            run.log.append("controller dropped")
            self.c.close()
            self.c = self.daemon.connect()
            self.end(run, list(run.calls.values()))
        elif r < 0.93 and run.peers:
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
                    self.c.close()
                    self.c = self.daemon.connect()
                    self.board.ask("modems 4")
                print("seed %d, %d steps: %s" % (seed, self.steps, ", ".join(
                    "%d %s" % (n, what) for what, n in sorted(run.seen.items()))), file=sys.stderr)
                # What a run must have checked, so that it cannot pass on nothing.
                for what, per in (("records to their slot", 15), ("records dropped", 15), ("calls lost", 60),
                                  ("activations sent", 100)):
                    self.assertGreaterEqual(run.seen[what], self.steps // per, "too few " + what)


if __name__ == "__main__":
    vx.tester_args(AuthRandom)
    vx.main()
