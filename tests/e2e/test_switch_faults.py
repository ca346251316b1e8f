"""Board faults at random, end to end on voxrelay-sim: random slot operations (trunk and map
slots, and slots that take a channel of the board: RTP, ISDN, controller-channel recorders and
players, mixer ports; created, connected, disconnected, destroyed) mixed with random faults of
the board's devices (refused requests, busy or found invalid, hang-ups, failed opens, resets)
and controller drops; map slots replace one another, ext slots receive off the bus (also on
outputs the switch refuses for good, and beyond the switch). After each step the switch must
carry exactly the routes the daemon holds, once the faults let it; after the faults are cleared
and everything is destroyed, no route is left and every bus output is disabled, as at the start.

Each run counts what it checked: the connects answered success and the held routes found on
the switch after a fault, and fails below a floor, so that a run in which the switch was away
all along cannot pass on nothing. Which requests a fault meets depends on the machine's speed,
so a run below its floor after its steps goes on, up to three times its steps, until it reaches
it. Where a fault took the device away, the run waits for it to come back before it goes on.
Outputs the switch refuses for good include timeslot 0 of most buses, where each step of the
switch's sweep ends.

Opt-in checks of what a create gets and what a live slot keeps:
    --check-channels   the channel a new slot got carries no route of an earlier owner
    --check-receivers  a new RTP slot's channel has no detector or VAD of an earlier owner on;
                       a live RTP slot's detector and VAD are on where it asked for them, and a
                       digit played to its channel reaches the controller

A few fixed seeds run in CI. By hand, any seed and length:
    python3 test_switch_faults.py --daemon build/voxrelay-sim --seed 1234 --steps 500
(--seed may be given more than once; --print-steps prints every run's steps). A failed check
prints the seed and the steps that led to it."""

import argparse
import os
import random
import sys

import vxharness as vx
from test_rtp import CodecSessionTest, udp_port

SEEDS = [1, 2, 3, 6, 7]
STEPS = 100
CONNECT_FAIL = 9
INSUFFICIENT = 1
TRUNKS = (1, 2, 3, 4, 5, 6)     # trunk slots on trunk 0, timeslot = slot = switch channel
MAPS = tuple(range(20, 32))     # map slots, each on one of bus 2's channels 0 to 5 (both ways)
BUS_CHANNELS = 6
EXTS = tuple(range(50, 54))     # ext slots, receiving on LINES, BROKEN or beyond the switch
LINES = tuple(range(7000, 7006))
BROKEN = tuple(range(7100, 7130))  # refused for good by the switch, takedowns owed from the start
# Timeslot 0 of the buses but the maps' bus 2, where the steps of the switch's sweep end: refused
# for good, each re-disabled by the sweep.
STEP_ENDS = tuple(8192 + 128 * bus for bus in range(16) if bus != 2)
TAKERS = tuple(range(40, 46))   # slots that take a channel of the board
MIXER_CHANNELS = (1, 2, 3, 4)   # mixer unit 0's channels the controller names (switch 3072 + n)
OTHERS = ("mcc", "maintenance", "e1-cas", "dtmf", "dsp", "rtp-ext", "rtp", "voice", "mctl", "dsp-data", "mixer")
# The devices whose hang-up takes back the channels of the takers that use them.
TAKEN_BACK = {"mcc": ("isdn", "recorder", "player"), "voice": ("recorder", "player"), "rtp": ("rtp",),
              "mixer": ("mixerIn", "mixerOut")}
# Which way a kind carries: a source of routes, a sink, or both.
SOURCES = ("rtp", "isdn", "player", "mixerOut")
SINKS = ("rtp", "isdn", "recorder", "mixerIn", "ext")
SETTLE = 6.0                    # how long the switch may take to catch up after a fault
MAX_STEPS = 3                   # a run below its floor goes on up to this many times its steps
BACK = 3.0                      # how long a device given back may take to be opened again
VERBOSE = False
CHECK_CHANNELS = True
CHECK_RECEIVERS = True
PROMPT = "prompt.raw"
CREATE = {"rtp": 'create : rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr "127.0.0.1", port %(port)d } }, '
                 "txPayload ptG711-Alaw, rxPayload ptG711-Alaw }",
          "isdn": "create : isdn : { type pri, trunk 0, log 0, side user : NULL }",
          "recorder": 'create : voice : record : { iaddr "127.0.0.1", port 9 }',
          "player": 'create : voice : player : file : { name { "%s" }, repeat 0 }' % PROMPT,
          "mixerIn": "create : mixerIn : { unit 0, channel tdm : %(n)s }",
          "mixerOut": "create : mixerOut : { unit 0, channel tdm : %(n)s, inputs { } }"}


def bus_output(n):
    return 8192 + 2 * 128 + n


class Run:
    """What the daemon holds, as its answers said: the slots and who feeds whom, and what the
    run checked."""

    def __init__(self):
        self.maps = {}          # map slot -> bus channel
        self.exts = {}          # ext slot -> receive channel
        self.trunks = set()     # trunk slots made (one still routed for an earlier slot waits)
        self.takers = {}        # slot -> (kind, channel)
        self.features = {}      # RTP taker slot -> receivers it switched on
        self.source = {}        # dst slot -> src slot
        self.handed = set()     # every channel a taker got in this run
        self.connects = 0       # connects answered success
        self.checked = 0        # held routes found on the switch after a fault
        self.takers_made = 0
        self.digits = 0         # digits played to the detectors
        self.faulted = False    # a fault since the last check

    def channel_of(self, slot):
        if slot in TRUNKS:
            return slot
        if slot in self.takers:
            return self.takers[slot][1]
        return self.exts[slot] if slot in self.exts else bus_output(self.maps[slot])

    def kind_of(self, slot):
        return self.takers[slot][0] if slot in self.takers else \
            "map" if slot in MAPS else "ext" if slot in EXTS else "trunk"


def fields(text):
    return dict(f.split("=", 1) for f in text.split())


def after(log):
    return " after:\n  " + "\n  ".join(log)


class SwitchFaults(CodecSessionTest):
    seeds = SEEDS
    steps = STEPS

    def setUp(self):
        super().setUp()
        voice = self.daemon.path("/usr/local/voice")
        os.makedirs(voice, exist_ok=True)
        with open(os.path.join(voice, PROMPT), "wb") as f:
            f.write(bytes(range(256)) * 8)
        self.board.ask("mixer-unit 0 16 8")

    def tearDown(self):
        for what in ["fail hal none", "fail-open hal none"] + ["refuse %d none" % c for c in BROKEN + STEP_ENDS]:
            self.board.ask(what)
        super().tearDown()

    def connect(self, src, dst):
        return self.send_to(src, "connect : %d" % dst)

    def routes(self, run):
        """What the switch drives among the channels the test uses: output -> source, or
        "constant" for a driven byte."""
        ours = set(TRUNKS) | {bus_output(n) for n in range(BUS_CHANNELS)} | set(LINES) | run.handed
        out = {}
        for line in self.board.ask("connections"):
            channel, kind, value = line.split()
            if int(channel) in ours:
                out[int(channel)] = int(value) if kind == "connected" else "constant"
        return out

    def matches(self, run):
        """The routes are the daemon's, and the bus outputs and ext receivers of slots that are gone
        are disabled."""
        have = self.routes(run)
        routes = {k: v for k, v in have.items() if v != "constant"}
        gone = ({bus_output(n) for n in range(BUS_CHANNELS)} | set(LINES)) - {run.channel_of(s) for s in
                                                                             list(run.maps) + list(run.exts)}
        return routes == self.wanted(run) and not gone & set(have) and self.receivers_on(run)

    def disabled_bus(self):
        return all(self.board.ask("switch %d" % c) == "disabled" for c in map(bus_output, range(BUS_CHANNELS)))

    def wanted(self, run):
        return {run.channel_of(dst): run.channel_of(src) for dst, src in run.source.items()}

    def receivers_on(self, run):
        """Each live RTP slot's detector and VAD are on where it asked for them."""
        if not CHECK_RECEIVERS:
            return True
        for slot, on in run.features.items():
            channel = run.takers[slot][1]
            if "dtmf" in on and fields(self.board.ask("tone %d" % channel))["detector"] != "1":
                return False
            if "vad" in on and fields(self.board.ask("dsp %d" % channel))["enabled"] == "0":
                return False
        return True

    def check(self, run, log):
        want = self.wanted(run)
        if not vx.wait_for(lambda: self.matches(run), SETTLE):
            self.fail("the switch carries %s, the daemon holds %s and maps %s" % (self.routes(run), want, sorted(run.maps))
                      + after(log))
        if run.faulted:
            run.checked += len(want)
            run.faulted = False
        if CHECK_RECEIVERS:
            self.check_digits(run, log)

    def check_digits(self, run, log):
        """A digit on each live RTP slot that switched detection on reaches the controller (a
        device just given back may take a moment to be read again)."""
        for slot in [s for s, on in run.features.items() if "dtmf" in on]:
            channel = run.takers[slot][1]
            for _ in range(3):
                run.digits += 1
                self.board.ask("dtmf %d %d %d" % (channel, run.digits % 10, run.digits))
                if self.slot_signal(slot, "tonec", "{ timestamp %d," % run.digits, 1.0):
                    break
            else:
                self.fail("no digit from RTP slot %d on %d" % (slot, channel) + after(log))

    def device_back(self):
        """The switch's device is open: its last word on its health is an open."""
        out = self.daemon.output()
        return out.rfind("hwMux: device opened") > max(out.rfind("hwMux: device gone"),
                                                       out.rfind("hwMux: can't open device"))

    def new_controller(self, run):
        super().new_controller()
        for held in (run.maps, run.exts, run.trunks, run.takers, run.features, run.source):
            held.clear()
        self.make_trunks(run)
        # The mixer units, as a controller asks for them.
        self.send_to(None, "query : NULL")

    def make_trunks(self, run):
        """Creates the trunk slots not made yet; a timeslot whose earlier slot's takedown is still
        owed is refused for now. Returns whether all are made."""
        for slot in sorted(set(TRUNKS) - run.trunks):
            answer = self.send_to(slot, "create : trunk : { trunk 0, timeslot %d }" % slot)
            if answer == "success":
                run.trunks.add(slot)
            else:
                self.assertEqual(answer, INSUFFICIENT)
        return run.trunks == set(TRUNKS)

    def open_channels(self):
        return {int(line.split()[0]) for line in self.board.ask("channels") if "open=1" in line}

    def forget_feeds(self, run, slot):
        run.source.pop(slot, None)
        for dst in [d for d, s in run.source.items() if s == slot]:
            del run.source[dst]

    def check_unrouted(self, channel, log):
        """A channel just given to a new slot carries no route of an earlier owner."""
        stale = [line for line in self.board.ask("connections")
                 if " connected " in line and str(channel) in (line.split()[0], line.split()[2])]
        if stale:
            self.fail("channel %d carries an earlier owner's routes %s" % (channel, stale) + after(log))

    def create_taker(self, rnd, run, log, kind=None, n=None):
        """A slot that takes a channel, of a random kind unless told (and for a mixer port, on
        channel n unless told); its channel is checked for what an earlier owner left on it."""
        slot = rnd.choice([t for t in TAKERS if t not in run.takers])
        used = {c - 3072 for k, c in run.takers.values() if k.startswith("mixer")}
        kinds = ["rtp", "isdn", "recorder", "player"] + (["mixerIn", "mixerOut"] if len(used) < 4 else [])
        kind = kind or rnd.choice(kinds)
        if kind.startswith("mixer"):
            n = n or rnd.choice([c for c in MIXER_CHANNELS if c not in used])
        command = CREATE[kind] % {"port": udp_port() - 1, "n": n}
        sessions = set(self.board.sessions())
        channels = self.open_channels()
        answer = self.send_to(slot, command)
        log.append("create %s %d: %s" % (kind, slot, answer))
        if answer != "success":
            return
        got = ({3072 + n} if kind.startswith("mixer") else
               set(self.board.sessions()) - sessions if kind == "rtp" else self.open_channels() - channels)
        if len(got) != 1:
            # Not told apart (a channel given back meanwhile): the slot goes again.
            log[-1] += ", channel unknown"
            self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")
            return
        (channel,) = got
        log[-1] += " on %d" % channel
        run.takers[slot] = (kind, channel)
        run.handed.add(channel)
        run.takers_made += 1
        if CHECK_CHANNELS:
            self.check_unrouted(channel, log)
        if kind == "rtp":
            tone, dsp = fields(self.board.ask("tone %d" % channel)), fields(self.board.ask("dsp %d" % channel))
            if CHECK_RECEIVERS and (tone["detector"] != "0" or tone["rejection"] != "0" or dsp["enabled"] != "0"):
                self.fail("channel %d has an earlier owner's receivers: %s %s" % (channel, tone, dsp) + after(log))
            on = {f for f in ("dtmf", "vad") if rnd.random() < 0.5}
            for feature in sorted(on):
                answer = self.send_to(slot, "ioctl : %s-enable : TRUE" % feature)
                log.append("%s on %d: %s" % (feature, slot, answer))
                if answer != "success":
                    on.discard(feature)
            run.features[slot] = on
        # As a call does: the slot is patched to a trunk timeslot, each way it carries.
        if not run.trunks:
            return
        trunk = rnd.choice(sorted(run.trunks))
        if kind in SOURCES:
            self.connect_logged(run, log, slot, trunk)
        if kind in SINKS:
            self.connect_logged(run, log, trunk, slot)

    def create_ext(self, rnd, run, log):
        """An activated ext slot receiving on a free line, fed by a trunk timeslot where it can be;
        or on an output the switch refuses for good or beyond the switch, destroyed at once."""
        slot = rnd.choice([e for e in EXTS if e not in run.exts])
        free = [c for c in LINES if c not in run.exts.values()]
        roll = rnd.random()
        channel = rnd.choice(BROKEN) if roll < 0.2 else rnd.randrange(16384, 70000) if roll < 0.4 else rnd.choice(free)
        log.append("create ext %d on %d" % (slot, channel))
        for command in ("create : ext : { transmitter %d, receiver %d }" % (channel + 1000, channel),
                        "activate : empty : NULL") + (() if channel in LINES else ("destroy : NULL",)):
            self.assertEqual(self.send_to(slot, command), "success", command + after(log))
        if channel in LINES:
            run.exts[slot] = channel
            if run.trunks:
                self.connect_logged(run, log, rnd.choice(sorted(run.trunks)), slot)

    def connect_logged(self, run, log, src, dst):
        answer = self.connect(src, dst)
        log.append("connect %d -> %d: %s" % (src, dst, answer))
        if answer == "success":
            run.source[dst] = src
            run.connects += 1
        else:
            self.assertEqual(answer, CONNECT_FAIL)

    def destroy(self, run, slot, log=None, why=""):
        if log is not None:
            log.append("destroy %s %d%s" % (run.kind_of(slot), slot, why))
        self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")
        self.forget(run, slot)

    def forget(self, run, slot):
        run.maps.pop(slot, None)
        run.exts.pop(slot, None)
        run.takers.pop(slot, None)
        run.features.pop(slot, None)
        self.forget_feeds(run, slot)

    def take_back(self, run, log, device):
        """The board took back the channels of the takers on device: the controller, told so,
        destroys them."""
        for slot in [s for s, (k, _) in run.takers.items() if k in TAKEN_BACK.get(device, ())]:
            self.destroy(run, slot, log, ", its channel taken back")

    def step(self, rnd, run, log):
        """One random step; returns whether it left a lasting fault (cleared a few steps on)."""
        slots = sorted(run.trunks) + sorted(run.maps) + sorted(run.takers) + sorted(run.exts)
        # (Every timeslot and bus channel may be refused for now, still routed for earlier slots.)
        srcs = [s for s in slots if run.kind_of(s) in SOURCES + ("trunk", "map")]
        dsts = [s for s in slots if run.kind_of(s) in SINKS + ("trunk", "map")]
        roll = rnd.random()
        if roll < 0.1:
            # On a free bus channel, or replacing the map slot that has it.
            slot = rnd.choice([m for m in MAPS if m not in run.maps])
            n = rnd.randrange(BUS_CHANNELS)
            old = [m for m, c in run.maps.items() if c == n]
            bus = "{ bus 2, channel %d }" % n
            answer = self.send_to(slot, "create : map : { transmitter %s, receiver %s }" % (bus, bus))
            log.append("create map %d on %d%s: %s" % (slot, n, " replacing %d" % old[0] if old else "", answer))
            # The slot replaced goes whatever the answer; a bus channel still routed for an
            # earlier map slot is refused for now.
            for m in old:
                self.forget(run, m)
            if answer != "success":
                self.assertEqual(answer, INSUFFICIENT)
            else:
                run.maps[slot] = n
                if CHECK_CHANNELS:
                    self.check_unrouted(bus_output(n), log)
        elif roll < 0.13 and len(run.exts) < len(EXTS):
            self.create_ext(rnd, run, log)
        elif roll < 0.16 and len(run.takers) < len(TAKERS):
            self.create_taker(rnd, run, log)
        elif roll < 0.2 and run.takers:
            # A channel changes hands: the next slot of the kind comes at once.
            slot = rnd.choice(sorted(run.takers))
            kind, channel = run.takers[slot]
            self.destroy(run, slot, log)
            self.create_taker(rnd, run, log, kind, channel - 3072 if kind.startswith("mixer") else None)
        elif roll < 0.26 and (run.maps or run.takers or run.exts):
            self.destroy(run, rnd.choice(sorted(run.maps) + sorted(run.takers) + sorted(run.exts)), log)
        elif roll < 0.5 and srcs and dsts:
            self.connect_logged(run, log, rnd.choice(srcs), rnd.choice(dsts))
        elif roll < 0.62 and slots:
            dst = rnd.choice(slots)
            answer = self.send_to(dst, "disconnect : NULL")
            log.append("disconnect %d: %s" % (dst, answer))
            # A refused takedown parts the slots all the same; the switch catches up.
            run.source.pop(dst, None)
        else:
            run.faulted = True
            fault = rnd.choice(["fail EBUSY few", "fail EIO few", "fail EINVAL few", "fail EBUSY many",
                                "fail EINVAL many", "hangup hal", "fail-open", "reset", "hangup other", "hangup receivers",
                                "fail other", "controller"])
            log.append(fault)
            if fault.startswith("fail E"):
                count = rnd.randint(1, 3) if fault.endswith("few") else 1000000
                self.board.ask("fail hal %s %d" % (fault.split()[1], count))
                return fault.endswith("many")
            elif fault == "hangup hal":
                self.board.ask("hangup hal")
            elif fault == "fail-open":
                self.board.ask("fail-open hal ENODEV")
                self.board.ask("hangup hal")
                return True
            elif fault == "reset":
                self.board.ask("reset")
                for device in TAKEN_BACK:
                    self.take_back(run, log, device)
            elif fault.endswith(" other"):
                other = rnd.choice(OTHERS)
                log[-1] += " " + other
                if fault == "fail other":
                    self.board.ask("fail %s EIO %d" % (other, rnd.randint(1, 5)))
                    return False
                self.board.ask("hangup %s" % other)
                if rnd.random() < 0.5:
                    # The first request on the device opened again is refused: what the daemon
                    # puts back there first.
                    log[-1] += ", its first request refused"
                    self.board.ask("fail %s EIO 1" % other)
                self.take_back(run, log, other)
            elif fault == "hangup receivers":
                # The tone and DSP devices given back, each refusing the first request on it
                # opened again: the daemon putting the live slots' detectors and VAD back.
                for device in ("dtmf", "dsp"):
                    self.board.ask("hangup %s" % device)
                    self.board.ask("fail %s EIO 1" % device)
            else:
                self.new_controller(run)
        return False

    def clear_faults(self, log):
        log.append("faults cleared")
        self.board.ask("fail-open hal none")
        self.board.ask("fail hal none")
        # A device given back is opened again at its own pace: the run waits for it rather than
        # meeting nothing but refused connects.
        self.assertTrue(vx.wait_for(self.device_back, BACK), "the switch stays away" + after(log))

    def run_seed(self, seed, steps):
        rnd = random.Random(seed)
        run, log = Run(), ["seed %d" % seed]
        # Whatever an earlier run (that failed) left.
        self.clear_faults(log)
        self.new_controller(run)
        # Takedowns the switch refuses for good, owed ahead of every later one.
        for channel in STEP_ENDS:
            self.board.ask("refuse %d EIO" % channel)
        for channel in BROKEN:
            self.board.ask("refuse %d EIO" % channel)
            for command in ("create : ext : { transmitter 1, receiver %d }" % channel, "destroy : NULL"):
                self.assertEqual(self.send_to(EXTS[0], command), "success")
        self.check(run, log)
        away = 0
        # A run goes on past its steps (within a bound) until it checked what its floor asks: how
        # the faults met the daemon's own requests depends on the machine's speed.
        made = 0
        while made < steps or (not self.floor_met(run, steps) and made < MAX_STEPS * steps):
            made += 1
            if self.step(rnd, run, log):
                away = rnd.randint(1, 3)
            elif away:
                away -= 1
                if not away:
                    self.clear_faults(log)
            if not away:
                # Once the switch takes the old takedowns, every timeslot is given again.
                self.assertTrue(vx.wait_for(lambda: self.make_trunks(run), SETTLE),
                                "trunk timeslots %s still refused" % sorted(set(TRUNKS) - run.trunks) + after(log))
                self.check(run, log)
            del self.pending[:]
        self.clear_faults(log)
        for slot in sorted(run.maps) + sorted(run.takers) + sorted(run.exts) + sorted(run.trunks):
            self.destroy(run, slot)
        log.append("all destroyed")
        if VERBOSE:
            print("\n  ".join(log))
        self.check(run, log)
        self.assertTrue(vx.wait_for(self.disabled_bus, SETTLE), "bus outputs left driven" + after(log))
        print("seed %d, %d steps: %d connects answered success, %d held routes checked after faults, "
              "%d slots that took a channel" % (seed, made, run.connects, run.checked, run.takers_made),
              file=sys.stderr)
        # What a run must have checked, so that it cannot pass on nothing.
        self.assertGreaterEqual(run.connects, steps // 10, "too few connects taken" + after(log))
        self.assertGreaterEqual(run.checked, steps // 15, "too few routes checked after faults" + after(log))

    @staticmethod
    def floor_met(run, steps):
        return run.connects >= steps // 10 and run.checked >= steps // 15

    def test_random_board_faults(self):
        for seed in self.seeds:
            with self.subTest(seed=seed):
                self.run_seed(seed, self.steps)


def take_args():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--print-steps", action="store_true")
    for option in ("--check-channels", "--check-receivers"):
        parser.add_argument(option, action="store_true")
    args = vx.tester_args(SwitchFaults, parser)
    global VERBOSE, CHECK_CHANNELS, CHECK_RECEIVERS
    # The checks are on by default; the options, kept for the command lines that name them, cannot
    # turn them off.
    VERBOSE = args.print_steps
    CHECK_CHANNELS, CHECK_RECEIVERS = CHECK_CHANNELS or args.check_channels, CHECK_RECEIVERS or args.check_receivers


if __name__ == "__main__":
    take_args()
    vx.main()
