"""Board faults at random, end to end on voxrelay-sim: random slot operations (trunk and map
slots created, connected, disconnected, destroyed) mixed with random faults of the board's
devices (refused requests, hang-ups, failed opens, resets) and controller drops. After each
step the switch must carry exactly the routes the daemon holds, once the faults let it; after
the faults are cleared and everything is destroyed, no route is left and every bus output is
disabled, as at the start.

A few fixed seeds run in CI. By hand, any seed and length:
    python3 test_switch_faults.py --daemon build/voxrelay-sim --seed 1234 --steps 500
(--seed may be given more than once; --print-steps prints every run's steps). A failed check
prints the seed and the steps that led to it."""

import argparse
import random
import sys
import time

import vxharness as vx
from test_rtp import CodecSessionTest

SEEDS = [1, 2, 3]
STEPS = 45
CONNECT_FAIL = 9
TRUNKS = (1, 2, 3, 4, 5, 6)     # trunk slots on trunk 0, timeslot = slot = switch channel
MAPS = tuple(range(20, 26))     # map slots, each on bus 2, channel slot - 20 (both ways)
OTHERS = ("mcc", "maintenance", "e1-cas", "dtmf", "dsp", "rtp-ext", "rtp", "voice", "mctl", "dsp-data", "mixer")
SETTLE = 6.0                    # how long the switch may take to catch up after a fault
VERBOSE = False


def map_channel(slot):
    return 8192 + 2 * 128 + (slot - 20)


def channel_of(slot):
    return slot if slot in TRUNKS else map_channel(slot)


class Run:
    """What the daemon holds, as its answers said: the slots and who feeds whom."""

    def __init__(self):
        self.maps = set()
        self.source = {}        # dst slot -> src slot


class SwitchFaults(CodecSessionTest):
    seeds = SEEDS
    steps = STEPS

    def tearDown(self):
        for what in ("fail hal none", "fail-open hal none"):
            self.board.ask(what)
        super().tearDown()

    def connect(self, src, dst):
        return self.send_to(src, "connect : %d" % dst)

    def routes(self):
        """What the switch drives among the channels the test uses: output -> source, or
        "constant" for a driven byte."""
        ours = {channel_of(s) for s in TRUNKS + MAPS}
        out = {}
        for line in self.board.ask("connections"):
            channel, kind, value = line.split()
            if int(channel) in ours:
                out[int(channel)] = int(value) if kind == "connected" else "constant"
        return out

    def matches(self, run):
        """The routes are the daemon's, and the bus outputs of maps that are gone are disabled."""
        have = self.routes()
        routes = {k: v for k, v in have.items() if v != "constant"}
        gone = {map_channel(m) for m in MAPS if m not in run.maps}
        return routes == self.wanted(run) and not gone & set(have)

    def disabled_bus(self):
        return all(self.board.ask("switch %d" % map_channel(m)) == "disabled" for m in MAPS)

    def wanted(self, run):
        return {channel_of(dst): channel_of(src) for dst, src in run.source.items()}

    def check(self, run, log):
        want = self.wanted(run)
        if not vx.wait_for(lambda: self.matches(run), SETTLE):
            self.fail("the switch carries %s, the daemon holds %s and maps %s after:\n  %s"
                      % (self.routes(), want, sorted(run.maps), "\n  ".join(log)))

    def new_controller(self, run):
        super().new_controller()
        run.maps.clear()
        run.source.clear()
        for slot in TRUNKS:
            self.assertEqual(self.send_to(slot, "create : trunk : { trunk 0, timeslot %d }" % slot), "success")

    def forget_feeds(self, run, slot):
        run.source.pop(slot, None)
        for dst in [d for d, s in run.source.items() if s == slot]:
            del run.source[dst]

    def step(self, rnd, run, log):
        """One random step; returns whether it left a lasting fault (cleared a few steps on)."""
        slots = list(TRUNKS) + sorted(run.maps)
        roll = rnd.random()
        if roll < 0.12 and len(run.maps) < len(MAPS):
            slot = rnd.choice([m for m in MAPS if m not in run.maps])
            log.append("create map %d" % slot)
            bus = "{ bus 2, channel %d }" % (slot - 20)
            self.assertEqual(self.send_to(slot, "create : map : { transmitter %s, receiver %s }" % (bus, bus)),
                             "success")
            run.maps.add(slot)
        elif roll < 0.2 and run.maps:
            slot = rnd.choice(sorted(run.maps))
            log.append("destroy map %d" % slot)
            self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")
            run.maps.discard(slot)
            self.forget_feeds(run, slot)
        elif roll < 0.5:
            src, dst = rnd.choice(slots), rnd.choice(slots)
            answer = self.connect(src, dst)
            log.append("connect %d -> %d: %s" % (src, dst, answer))
            if answer == "success":
                run.source[dst] = src
            else:
                self.assertEqual(answer, CONNECT_FAIL)
        elif roll < 0.62:
            dst = rnd.choice(slots)
            answer = self.send_to(dst, "disconnect : NULL")
            log.append("disconnect %d: %s" % (dst, answer))
            # A refused takedown parts the slots all the same; the switch catches up.
            run.source.pop(dst, None)
        else:
            fault = rnd.choice(["fail EBUSY few", "fail EIO few", "fail EBUSY many", "hangup hal",
                                "fail-open", "reset", "hangup other", "fail other", "controller"])
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
            elif fault == "hangup other":
                self.board.ask("hangup %s" % rnd.choice(OTHERS))
            elif fault == "fail other":
                other = rnd.choice(OTHERS)
                log[-1] += " " + other
                self.board.ask("fail %s EIO %d" % (other, rnd.randint(1, 5)))
            else:
                self.new_controller(run)
        return False

    def run_seed(self, seed, steps):
        rnd = random.Random(seed)
        run, log = Run(), ["seed %d" % seed]
        self.new_controller(run)
        self.check(run, log)
        away = 0
        for _ in range(steps):
            if self.step(rnd, run, log):
                away = rnd.randint(1, 3)
            elif away:
                away -= 1
                if not away:
                    log.append("faults cleared")
                    self.board.ask("fail-open hal none")
                    self.board.ask("fail hal none")
            if not away:
                self.check(run, log)
        self.board.ask("fail-open hal none")
        self.board.ask("fail hal none")
        for slot in sorted(run.maps) + list(TRUNKS):
            self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")
        run.maps.clear()
        run.source.clear()
        log.append("all destroyed")
        if VERBOSE: print("\n  ".join(log))
        self.check(run, log)
        self.assertTrue(vx.wait_for(self.disabled_bus, SETTLE), "bus outputs left driven after:\n  " + "\n  ".join(log))

    def test_random_board_faults(self):
        for seed in self.seeds:
            with self.subTest(seed=seed):
                self.run_seed(seed, self.steps)


def take_args():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--seed", type=int, action="append")
    parser.add_argument("--steps", type=int)
    parser.add_argument("--print-steps", action="store_true")
    args, sys.argv[1:] = parser.parse_known_args()
    global VERBOSE
    VERBOSE = args.print_steps
    if args.seed:
        SwitchFaults.seeds = args.seed
    if args.steps:
        SwitchFaults.steps = args.steps


if __name__ == "__main__":
    take_args()
    vx.main()
