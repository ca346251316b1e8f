"""Shared channels at random, end to end on voxrelay-sim: several mixerIn and mixerOut ports on
one mixer channel, mixerOut ports replacing one another make-before-break on one output, ext
slots naming one receive channel and HDLC data slots on one trunk timeslot. The steps create,
connect, disconnect, destroy and re-create them, send every receiver ioctl of the mixer ports
(and those a kind refuses), and mix in device refusals, hang-ups and resets of the board.

A model keeps each slot's own wish for every setting: the value it last asked for and was
answered success for, its tone filters, its source. The board must hold, per setting, the
newest wish of the live slots; a slot leaving drops its wishes and the board comes to the newest
remaining one, or is cleaned up as for a slot alone. After every step the run compares what the
tone and DSP devices hold per timeslot, the switch routes, the mixer sums, and which port each
board event reaches (none a destroyed one). Under a fault the comparison waits for the daemon to
put things right, within a bound.

A few fixed seeds run in CI. By hand, any seed and length:
    python3 test_shared_channels.py --daemon build/voxrelay-sim --seed 1234 --steps 3000
(--seed may be given more than once; --print-steps prints each step as it runs). A failure names
the seed, the step, what the model expected against what the board shows, and the steps on that
channel since the board was last reset. The run counts what its steps decided (departures from
a shared timeslot, requests on one, events owed to a port, shared outputs) and fails below a
floor, so that it cannot pass on nothing."""

import argparse
import collections
import random
import sys
import time

import vxharness as vx
from test_rtp import CodecSessionTest

SEEDS = [1, 2, 3, 4]
STEPS = 150
TRUNKS = (1, 2, 3, 4)          # trunk slots on trunk 0: slot = timeslot = switch channel
HDLC_TRUNK = 9                 # the trunk timeslot the HDLC data slots share
PORTS = tuple(range(20, 38))   # mixer port slots
EXTS = (50, 51)
HDLCS = (60, 61)
CHANNELS = (5, 6, 7)           # mixer channels with mixerIn and mixerOut ports (2 or 3 per run)
OUT = 2                        # the output whose mixerOut ports replace one another
SPARE = 8                      # an output that only mixerIn ports sum into
LINE = 7000                    # a receive channel of ext slots alone
FREQS = (1000, 2000, 2100)
TONEC, VAD, SD, BSS = 1, 16, 19, 20  # signal alternatives
INSUFFICIENT = 1               # error cause insufficientResources
SETTLE = 6.0                   # how long the daemon may take to put the board right after a fault
QUIET = 2.0                    # ... and after a step on a healthy board (a DTMF string to finish)
VERBOSE = False
PARTS = ("receivers", "routes", "sums", "events")
CHECKS = PARTS                 # what the run compares (--check narrows it to a branch's part)

# What the board holds for a setting no live port wishes. The cleaned ones are switched off when
# their last wisher leaves, as for a port alone; the kept ones (echo canceller, SD, and every
# configuration record) stay as the last wisher left them.
CLEANED = {"detector": 0, "iva": 0, "rejection": 0, "vad": 0, "delays": (0, 0), "rxgain": 0, "gen": (0, 0, 0, 0)}
KEPT = ("lms", "sd", "dtmfcfg", "ivacfg", "vadcfg", "sdcfg")
OFF = (0, 0, 0, 0)

Wish = collections.namedtuple("Wish", "value time step")


def ts(channel):
    return 3072 + channel


def ioctls(rnd, kind):
    """(text, effects) of a random receiver ioctl the kind takes: effects are the (setting,
    value) wishes a success makes (value None for a tone filter switched off); None marks one
    the kind refuses or one that has nothing to do."""
    f, on = rnd.choice(FREQS), rnd.random() < 0.6
    b = "TRUE" if on else "FALSE"
    both = [
        ("translateDTMF : { digits { %s }, toneDuration 20, pauseDuration 20 }" % ", ".join(
            rnd.sample(["{ freq1 697, freq2 1209 }", "{ freq1 770, freq2 1336 }", "{ freq1 852, freq2 1477 }"],
                       rnd.randint(1, 2))), [("gen", OFF)]),
        lambda: (lambda t: ("dtmf-params : { threshold { twist %d, ratio %d, noise %d }, level { silence %d } }" % t,
                            [("dtmfcfg", t)]))(tuple(rnd.choice((4, 8, 12, 30)) for _ in range(4))),
        lambda: (lambda v, s, e: ("vad-params : v2 : { voice-th-msec %d, silence-th-msec %d, e-th-dB %d }" % (v, s, e),
                                  [("vadcfg", "%04X%04X%02X" % (v, s, e) + "00" * 7)]))(
            rnd.choice((20, 40, 80)), rnd.choice((100, 200, 400)), rnd.choice((20, 30, 40))),
        ("vad-params : v1 : NULL", None),  # the board's VAD wants the second layout
        ("vad-enable : " + b, [("vad", int(on))]), ("vad-disable : NULL", [("vad", 0)]),
        ("sd-params : NULL", [("sdcfg", True)]),
        ("sd-enable : " + b, [("sd", int(on))]), ("sd-disable : NULL", [("sd", 0)]),
        ("iva-enable : " + b, [("iva", int(on))]),
        lambda: (lambda rx, tx: ("delays : { rx %d, tx %d }" % (rx, tx), [("delays", (rx, tx))]))(
            rnd.choice((0, 10, 20, 40)), rnd.choice((0, 10, 40))),
        lambda: (lambda d, lv: ("tone-filter : { freq %d, enable %s, duration-th-msec %d, det-level-dB %d }" % (f, b, d, lv),
                                [(("filter", f), (d, lv) if on else None)]))(rnd.choice((100, 300)), rnd.choice((-30, -20))),
    ]
    only = {
        "mixerIn": [("echoSuppressor : " + b, [("lms", int(on))]), ("dtmf-enable : " + b, [("detector", int(on))]),
                    ("dtmf-reject-enable : " + b, [("rejection", int(on))]),
                    lambda: (lambda lv: ("iva-params : { det_lvl_dB %d }" % lv, [("ivacfg", lv)]))(rnd.choice((-40, -30, -20))),
                    lambda: (lambda g: ("rx-gain : { gainDB %d }" % g, [("rxgain", g)]))(rnd.choice((-6, -3, 0, 3, 6)))],
        "mixerOut": [("dtmf-disable : NULL", None),  # stops a DTMF string; with none playing, refused
                     ("dtmf-reject-disable : NULL", [("rejection", 0)]),
                     lambda: (lambda fr, a: ("tone-gen-enable : { freq %d, amp %d }" % (fr, a), [("gen", (fr, 0, a, 0))]))(
                         rnd.choice((425, 1000, 2100)), rnd.choice((1000, 2048, 4096))),
                     ("tone-gen-disable : NULL", [("gen", OFF)])],
    }
    other = "mixerOut" if kind == "mixerIn" else "mixerIn"
    refused = rnd.random() < 0.08
    pick = rnd.choice(only[other]) if refused else rnd.choice(both + only[kind] * 2)
    text, effects = pick() if callable(pick) else pick
    return text, None if refused else effects


class Port:
    def __init__(self, kind, channel, summator=None, inputs=None):
        self.kind, self.channel, self.summator, self.inputs = kind, channel, summator, inputs
        self.wishes = {}        # setting -> Wish
        self.source = None      # Wish of the trunk slot feeding a mixerIn
        self.made = None        # Wish of its sum (a mixerOut's inputs, a mixerIn's summing)


class Model:
    """The slots as the daemon's answers left them, each with its own wishes, and what the board
    must hold for them together."""

    def __init__(self, channels):
        self.channels = channels
        self.clock = 0
        self.step = 0
        self.ports = {}           # slot -> Port
        self.trunk_source = {}    # trunk slot -> Wish(mixerOut slot)
        self.exts = {}            # slot -> [receiver, active, Wish(trunk) or None]
        self.hdlcs = {}           # slot -> [Wish(controller channel) or None]
        self.handed = set()       # controller channels the HDLC slots got
        self.held = {}            # (timeslot, kept setting) -> what its last wisher left there

    def wish(self, value):
        self.clock += 1
        return Wish(value, self.clock, self.step)

    def on(self, channel):
        return [p for p in self.ports.values() if p.channel == channel]

    @staticmethod
    def newest(wishes):
        wishes = [w for w in wishes if w is not None]
        return max(wishes, key=lambda w: w.time) if wishes else None

    def forget_port(self, slot):
        port = self.ports[slot]
        for key in KEPT:
            w = self.newest(p.wishes.get(key) for p in self.on(port.channel))
            rest = self.newest(p.wishes.get(key) for p in self.on(port.channel) if p is not port)
            if w is not None and rest is None:
                self.held[(ts(port.channel), key)] = w.value
        del self.ports[slot]
        for trunk in [t for t, w in self.trunk_source.items() if w.value == slot]:
            del self.trunk_source[trunk]

    def busy(self, channel):
        """Whether a live slot or a setting left by one still concerns the switch channel."""
        if channel in TRUNKS:
            return channel in self.trunk_source or any(
                w and w.value == channel for w in [p.source for p in self.ports.values()] + [e[2] for e in self.exts.values()])
        if channel == HDLC_TRUNK:
            return bool(self.hdlcs)
        return any(e[0] == channel for e in self.exts.values()) or any(
            ts(p.channel) == channel or p.summator is not None and ts(p.summator) == channel for p in self.ports.values()) \
            or any(t == channel for t, _ in self.held)

    def receivers(self, channel):
        """What the tone and DSP devices must hold on the channel's timeslot; a setting whose
        value is not known (left by a port gone before a board reset) is not named."""
        users, out = self.on(channel), {}
        for key in list(CLEANED) + list(KEPT):
            w = self.newest(p.wishes.get(key) for p in users)
            if w is not None:
                out[key] = w.value
            elif key in CLEANED:
                out[key] = CLEANED[key]
            elif (ts(channel), key) in self.held:
                out[key] = self.held[(ts(channel), key)]
        filters = {f: self.newest(p.wishes.get(("filter", f)) for p in users) for f in FREQS}
        out["filters"] = {f: w.value for f, w in filters.items() if w is not None and w.value is not None}
        return out

    def owner(self, channel, feature, held):
        """The port an event of the feature on the channel's timeslot goes to: the newest live
        port whose own wish is on among those that report such events, while the device has the
        feature on. A mixerOut takes no DTMF, VAD or SD events; it does take tone filter ones.
        (Choice: a mixerOut's newer "on" does not take VAD or SD events from a mixerIn that
        asked for them too: the mixerIn gets them.)"""
        if isinstance(feature, int):
            if feature not in held["filters"]:
                return None
            wanting = [(p.wishes.get(("filter", feature)), s) for s, p in self.ports.items() if p.channel == channel]
            wanting = [(w, s) for w, s in wanting if w is not None and w.value is not None]
        else:
            if not held.get(feature):
                return None
            wanting = [(p.wishes.get(feature), s) for s, p in self.ports.items()
                       if p.channel == channel and p.kind == "mixerIn"]
            wanting = [(w, s) for w, s in wanting if w is not None and w.value]
        return max(wanting, key=lambda ws: ws[0].time)[1] if wanting else None

    def sum(self, output):
        """The inputs summed into an output and their gains: per input, the newest wish of the
        live mixerOut ports on the output (each wishes its whole list, so a newer one takes out
        what an older one summed) and of the mixerIn ports summed into it. (Choice: a mixerOut
        made after a mixerIn summed into its output takes that input out, as its create clears
        the output; the mixerIn's summing comes back when that mixerOut goes.)"""
        wishes = collections.defaultdict(list)
        outs = [p.inputs or {output: 32767} for p in self.ports.values() if p.kind == "mixerOut" and p.channel == output]
        named = {c for listed in outs for c in listed} | {p.channel for p in self.ports.values() if p.summator == output}
        for p in self.ports.values():
            if p.kind == "mixerOut" and p.channel == output:
                listed = p.inputs or {output: 32767}
                wishes.update({c: wishes[c] + [Wish(listed.get(c), p.made.time, p.made.step)] for c in named})
        for p in self.ports.values():
            if p.summator == output:
                wishes[p.channel].append(p.made)
        newest = {c: self.newest(w) for c, w in wishes.items()}
        return sorted("0/%d gain=%d" % (c, w.value) for c, w in newest.items() if w.value is not None)

    def routes(self):
        """What each switch output of the run must carry: a source channel, or None for no
        route. A receive channel several slots share carries the newest live source."""
        out = {}
        for channel in self.channels + (OUT,):
            sources = [p.source for p in self.on(channel) if p.kind == "mixerIn"]
            sources += [e[2] for e in self.exts.values() if e[0] == ts(channel)]
            out[ts(channel)] = getattr(self.newest(sources), "value", None)
        out[LINE] = getattr(self.newest(e[2] for e in self.exts.values() if e[0] == LINE), "value", None)
        for trunk in TRUNKS:
            w = self.trunk_source.get(trunk)
            out[trunk] = ts(self.ports[w.value].channel) if w else None
        fed = [h[0] for h in self.hdlcs.values() if h[0] is not None]
        for k in self.handed:
            out[k] = None
        for w in fed:
            out[w.value] = HDLC_TRUNK
        out[HDLC_TRUNK] = getattr(self.newest(fed), "value", None)
        return out


def fields(text):
    return dict(f.split("=", 1) for f in text.split() if "=" in f)


class SharedChannels(CodecSessionTest):
    seeds = SEEDS
    steps = STEPS

    def setUp(self):
        super().setUp()
        self.board.listings += ("tone-filters",)
        self.board.ask("mixer-unit 0 32 32")  # as a board reset leaves it

    def tearDown(self):
        for device in ("dtmf", "dsp", "mixer", "hal"):
            self.board.ask("fail %s none" % device)
        super().tearDown()

    # ---------------------------------------------------------------- what the board holds

    def read_receivers(self, channel):
        tone, dsp = fields(self.board.ask("tone %d" % ts(channel))), fields(self.board.ask("dsp %d" % ts(channel)))
        config = lambda what: dsp.get("config%d" % what)
        delays, gain = config(32), config(64)
        out = {"detector": int(tone["detector"]), "iva": int(tone["iva"]), "rejection": int(tone["rejection"]),
               "lms": int(tone["lms"]), "ivacfg": int(tone["iva_level"]),
               "dtmfcfg": tuple(int(tone[k]) for k in ("twist", "ratio", "noise", "silence")),
               "gen": tuple(int(tone[k]) for k in ("f1", "f2", "a1", "a2")),
               "vad": int(dsp["enabled"]) & 1, "sd": (int(dsp["enabled"]) >> 1) & 1,
               "vadcfg": config(1), "sdcfg": config(2) is not None,
               "delays": (int(delays[:8], 16), int(delays[8:16], 16)) if delays else (0, 0),
               "rxgain": (int(gain[:2], 16) ^ 0x80) - 0x80 if gain else 0, "filters": {}}
        for line in self.board.ask("tone-filters %d" % ts(channel)):
            f = line.split()
            out["filters"][int(f[0])] = (int(fields(line)["duration"]), int(fields(line)["level"]))
        return out

    def differences(self, model):
        """What the board holds against what the model expects, as (channel, text) pairs."""
        out = []
        for channel in model.channels + (OUT,) if "receivers" in CHECKS else ():
            want, have = model.receivers(channel), self.read_receivers(channel)
            for key, value in want.items():
                if have[key] != value:
                    w = model.newest(p.wishes.get(key) for p in model.on(channel)) if key != "filters" else None
                    why = " (wish of step %d)" % w.step if w else " (no live port wishes it)" if key != "filters" else ""
                    out.append((ts(channel), "timeslot %d %s: expected %s%s, board shows %s" %
                                (ts(channel), key, value, why, have[key])))
        board = {}
        for line in self.board.ask("connections") if "routes" in CHECKS else ():
            output, kind, value = line.split()
            board[int(output)] = int(value) if kind == "connected" else None
        for output, source in model.routes().items() if "routes" in CHECKS else ():
            if board.get(output) != source:
                out.append((output, "switch output %d: expected %s, board shows %s" %
                            (output, "from %d" % source if source is not None else "no route",
                             self.board.ask("switch %d" % output))))
        for output in model.channels + (OUT, SPARE) if "sums" in CHECKS else ():
            want, have = model.sum(output), sorted(self.board.ask("mixer-sum 0 %d" % output))
            if want != have:
                out.append((ts(output), "sum of output %d: expected %s, board shows %s" % (output, want, have)))
        return out

    # ---------------------------------------------------------------- events

    def sync(self):
        """Two round trips to the daemon: every record the board handed it before is read and
        its signal sent."""
        for _ in range(2):
            self.seq += 1
            self.assertIsNotNone(vx.answer_keeping_signals(self.c, vx.command(vx.PING, seq=self.seq), self.pending))

    def events(self, model, run):
        """Each kind of board event on each channel's timeslot, and which port it reaches."""
        self.assertTrue(vx.wait_for(lambda: all(int(self.board.ask("open " + d)) > 0 for d in ("dtmf", "dsp")), SETTLE),
                        "the tone or DSP device is not opened again" + self.told(model, run, None))
        self.sync()
        self.pending.clear()
        want = []
        for channel in model.channels + (OUT,):
            t, held = ts(channel), model.receivers(channel)
            # Only what the device runs reports (a BSS record always: no port may take one).
            run.stamp += 1
            if held["detector"]:
                self.board.ask("dtmf %d %d %d" % (t, run.stamp % 10, run.stamp))
                want.append((model.owner(channel, "detector", held), "tonec",
                             "{ timestamp %d, event dtmf : %d }" % (run.stamp, run.stamp % 10)))
            if held["vad"]:
                self.board.ask("dsp-vad %d 1 1 0" % t)
                want.append((model.owner(channel, "vad", held), "vad", "{ vad-rx TRUE }"))
            if held.get("sd", int(self.read_receivers(channel)["sd"])):
                self.board.ask("dsp-sd %d 1" % t)
                want.append((model.owner(channel, "sd", held), "sd", "{ sd-rx TRUE }"))
            self.board.ask("dsp-bss %d %d.5" % (t, run.stamp))
            want.append((None, "bss", "{ score \"%d.500000\" }" % run.stamp))
            for f in sorted(held["filters"]):
                self.board.ask("dsp-event %d 256 %08x00000001 0" % (t, f))
                want.append((model.owner(channel, f, held), "tonec",
                             "{ timestamp 0, event tone-presence : { freq %d, presence TRUE } }" % f))
        self.sync()
        got = []
        for frame in self.pending:
            if vx.read_signal_start(vx.Reader(frame))[1] in (TONEC, VAD, SD, BSS):
                slot, alternative, value = self.parse(frame)
                if "dtmfDone" not in value:
                    got.append((slot, alternative, value))
        self.pending.clear()
        want = [w for w in want if w[0] is not None]
        run.delivered += len(want)
        if sorted(got) != sorted(want):
            missing = [w for w in want if w not in got]
            extra = [g for g in got if g not in want]
            where = {model.ports[w[0]].channel for w in missing if w[0] in model.ports}
            where |= {model.ports[g[0]].channel for g in extra if g[0] in model.ports}
            self.fail("events: expected at (slot, signal, value) %s but they did not come; came %s, expected nowhere"
                      % (missing, extra) + self.told(model, run, [ts(c) for c in sorted(where)] or None))

    # ---------------------------------------------------------------- the check and its report

    def told(self, model, run, channels):
        prefix = "%d: " % model.step
        text = "\nseed %d, step %d:\n  " % (run.seed, model.step) + "\n  ".join(
            line[len(prefix):] for line in run.log if line.startswith(prefix))
        for channel in channels or sorted(run.history):
            lines = run.history.get(channel, [])
            text += "\nsteps on channel %d since it was last idle (%d):\n  " % (channel, len(lines))
            text += "\n  ".join((["..."] if len(lines) > 60 else []) + lines[-60:])
        return text

    def check(self, model, run, bound):
        if not vx.wait_for(lambda: not self.differences(model), bound):
            found = self.differences(model)
            self.fail("the board does not hold what the live slots wish:\n  " + "\n  ".join(t for _, t in found)
                      + self.told(model, run, sorted({c for c, _ in found})))
        if "events" in CHECKS:
            self.events(model, run)

    # ---------------------------------------------------------------- steps

    def note(self, model, run, channels, text):
        line = "%d: %s" % (model.step, text)
        run.log.append(line)
        for channel in channels:
            run.history[channel].append(line)
        if VERBOSE:
            print("seed %d step %s" % (run.seed, line), file=sys.stderr)

    def act(self, model, run, slot, command, channels, text, expect="success"):
        """Sends a command and logs it with its answer; on a healthy board the answer must be
        the one expected ("success", or None for anything but success)."""
        answer = self.send_to(slot, command)
        if answer == INSUFFICIENT and command.startswith("create") and not run.fault:
            # A channel whose takedown for an earlier port is still owed (after a fault) is
            # refused for now.
            deadline = time.monotonic() + SETTLE
            while answer == INSUFFICIENT and time.monotonic() < deadline:
                time.sleep(0.05)
                answer = self.send_to(slot, command)
        self.note(model, run, channels, "%s: %s" % (text, answer))
        if not run.fault and (answer == "success") != (expect == "success"):
            self.fail("%s answered %s" % (text, answer) + self.told(model, run, channels))
        return answer == "success"

    def create_port(self, rnd, model, run, slot, kind, channel):
        port = Port(kind, channel)
        if kind == "mixerIn":
            taken = {p.summator for p in model.on(channel) if p.kind == "mixerIn"}
            free = [s for s in (OUT, SPARE) + model.channels if s != channel and s not in taken]
            port.summator = rnd.choice(free) if free and rnd.random() < 0.85 else None
            params = "" if port.summator is None else ", summator tdm : %d" % port.summator
            ecm = rnd.random() < 0.3 and run.fault != "dtmf"
            if ecm:
                ec, es = rnd.random() < 0.5, rnd.random() < 0.5
                params += ", ecm { ec %s, es %s }" % (str(ec).upper(), str(es).upper())
            command = "create : mixerIn : { unit 0, channel tdm : %d%s }" % (channel, params)
        else:
            choices = model.channels if channel == OUT else [c for c in model.channels if c != channel]
            port.inputs = {c: rnd.choice((100, 1000, 16384, 32767)) for c in rnd.sample(choices, rnd.randint(0, len(choices)))}
            command = "create : mixerOut : { unit 0, channel tdm : %d, inputs { %s } }" % (
                channel, ", ".join("{ channel tdm : %d, gain %d }" % i for i in sorted(port.inputs.items())))
        replaced = slot in model.ports
        channels = [ts(channel)] + [ts(p.summator) for p in (port, model.ports.get(slot)) if p and p.summator]
        if replaced:
            run.left += self.shared(model, slot)
            model.forget_port(slot)
        if not self.act(model, run, slot, command, channels, "%s %d %s" % (
                "re-create" if replaced else "create", slot, command[9:])):
            return
        port.made = model.wish(32767)
        if kind == "mixerIn" and ecm:
            port.wishes["lms"] = model.wish(int(ec or es))
        model.ports[slot] = port
        # As a call does: the port is patched to a trunk timeslot; a new output takes over a
        # trunk an older one of its channel feeds (make-before-break).
        if rnd.random() < 0.7:
            if kind == "mixerIn":
                self.connect(model, run, rnd.choice(TRUNKS), slot)
            else:
                older = [t for t, w in model.trunk_source.items() if model.ports[w.value].channel == channel]
                self.connect(model, run, slot, rnd.choice(older or list(TRUNKS)))

    def shared(self, model, slot):
        """Whether another live port shares the port's timeslot and wishes something there."""
        port = model.ports[slot]
        return int(any(p is not port and (p.wishes or p.source) for p in model.on(port.channel)))

    def connect(self, model, run, src, dst):
        port = model.ports.get(dst) or model.ports.get(src)
        channels = [ts(port.channel)] if port else []
        if dst in model.exts:
            channels = [model.exts[dst][0]]
        channels += [c for c in (src, dst) if c in TRUNKS or c == HDLC_TRUNK]
        expect = "success" if dst not in model.exts or model.exts[dst][1] else None
        before = self.open_channels() if dst in model.hdlcs else set()
        if not self.act(model, run, src, "connect : %d" % dst, channels, "connect %d -> %d" % (src, dst), expect):
            return
        run.connects += 1
        w = model.wish(src)
        if dst in model.ports:
            run.shared_routes += int(any(p.source for p in model.on(port.channel) if p is not port))
            port.source = w
        elif dst in model.exts:
            run.shared_routes += int(any(e[2] for s, e in model.exts.items() if s != dst and e[0] == model.exts[dst][0]))
            model.exts[dst][2] = w
        elif dst in model.hdlcs:
            new = self.open_channels() - before
            old = model.hdlcs[dst][0]
            channel = new.pop() if len(new) == 1 else old.value if old else None
            self.assertIsNotNone(channel, "no controller channel for HDLC slot %d" % dst + self.told(model, run, channels))
            run.shared_routes += int(any(h[0] for s, h in model.hdlcs.items() if s != dst))
            model.handed.add(channel)
            model.hdlcs[dst][0] = model.wish(channel)
            self.note(model, run, channels, "HDLC slot %d on controller channel %d" % (dst, channel))
        else:
            model.trunk_source[dst] = Wish(src, w.time, w.step)

    def open_channels(self):
        return {int(line.split()[0]) for line in self.board.ask("channels") if "open=1" in line}

    def destroy(self, model, run, slot):
        if slot in model.ports:
            port = model.ports[slot]
            channels = [ts(port.channel)] + ([ts(port.summator)] if port.summator else []) + [
                t for t, w in model.trunk_source.items() if w.value == slot]
            run.left += self.shared(model, slot)
            model.forget_port(slot)
        else:
            channels = [model.exts[slot][0]] if slot in model.exts else [HDLC_TRUNK]
            model.exts.pop(slot, None)
            model.hdlcs.pop(slot, None)
        self.act(model, run, slot, "destroy : NULL", channels, "destroy %d" % slot)

    def disconnect(self, model, run, slot):
        # A refused takedown parts the slots all the same; the switch catches up.
        if slot in model.ports:
            channels = [ts(model.ports[slot].channel)]
            model.ports[slot].source = None
        elif slot in model.exts:
            channels = [model.exts[slot][0]]
            model.exts[slot][2] = None
        elif slot in model.hdlcs:
            channels = [HDLC_TRUNK]
            model.hdlcs[slot][0] = None
        else:
            w = model.trunk_source.pop(slot, None)
            channels = [slot] + ([ts(model.ports[w.value].channel)] if w else [])
        self.act(model, run, slot, "disconnect : NULL", channels, "disconnect %d" % slot)

    def ioctl(self, rnd, model, run, slot):
        port = model.ports[slot]
        text, effects = ioctls(rnd, port.kind)
        if run.fault == "dtmf" and text.startswith("translateDTMF"):
            text, effects = "vad-disable : NULL", [("vad", 0)]
        run.requests += self.shared(model, slot)
        if self.act(model, run, slot, "ioctl : " + text, [ts(port.channel)], "ioctl %d %s" % (slot, text),
                    "success" if effects else None) and effects:
            for key, value in effects:
                port.wishes[key] = model.wish(value)
            if text.startswith("translateDTMF"):
                # The string plays out before the next step (a stop of it would race its end).
                vx.wait_for(lambda: self.read_receivers(port.channel)["gen"] == OFF, QUIET)

    def ext_step(self, rnd, model, run):
        free = [e for e in EXTS if e not in model.exts]
        roll = rnd.random()
        if free and (roll < 0.3 or not model.exts):
            slot, receiver = rnd.choice(free), rnd.choice((ts(model.channels[0]), LINE))
            if self.act(model, run, slot, "create : ext : { transmitter %d, receiver %d }" % (7100 + slot, receiver),
                        [receiver], "create ext %d receiving on %d" % (slot, receiver)):
                model.exts[slot] = [receiver, False, None]
            return
        slot = rnd.choice(sorted(model.exts))
        ext = model.exts[slot]
        if roll < 0.6:
            # A second activate leaves the live receive path as it was.
            if self.act(model, run, slot, "activate : empty : NULL", [ext[0]], "activate ext %d" % slot):
                ext[1] = True
        elif roll < 0.75:
            ext[1], ext[2] = False, None
            self.act(model, run, slot, "deactivate : NULL", [ext[0]], "deactivate ext %d" % slot)
        else:
            self.connect(model, run, rnd.choice(TRUNKS), slot)

    def hdlc_step(self, rnd, model, run):
        free = [h for h in HDLCS if h not in model.hdlcs]
        if free and (rnd.random() < 0.5 or not model.hdlcs):
            slot = rnd.choice(free)
            if self.act(model, run, slot, "create : hdlcParams : { trunk 1, log 0, address %d }" % (4660 + slot),
                        [HDLC_TRUNK], "create HDLC slot %d" % slot):
                model.hdlcs[slot] = [None]
            else:
                return
        self.connect(model, run, HDLC_TRUNK, rnd.choice(sorted(model.hdlcs)))

    def fault(self, rnd, model, run):
        """A device refusing one request, refusing for a while, hung up, or the board reset.
        Returns how many steps a lasting refusal stays."""
        kind = rnd.choice(["once", "once", "once", "while", "hangup", "hangup", "reset"])
        run.unsettled = True
        if kind == "once":
            # One refused request, meant for the step that follows at once.
            device = rnd.choice(("dtmf", "dsp", "mixer"))
            self.refuse(device, 1)
            self.note(model, run, [], "the %s device refuses its next request" % device)
            run.fault = device
            self.random_step(rnd, model, run, ports_only=True)
            self.refuse(device, 0)
            run.fault = None
            return 0
        if kind == "while":
            device = rnd.choice(("dtmf", "dsp", "mixer", "hal"))
            self.refuse(device, 1000000)
            run.fault = device
            self.note(model, run, [], "the %s device refuses every request" % device)
            return rnd.randint(1, 3)
        channels = [ts(c) for c in model.channels + (OUT,)]
        if kind == "hangup":
            device = rnd.choice(("dtmf", "dsp", "mixer", "hal"))
            self.board.ask("hangup " + device)
            # (A counted refusal on the switch's device would hit its periodic requests.)
            run.refusing = [device] if device != "hal" and rnd.random() < 0.5 else []
            for d in run.refusing:
                self.refuse(d, 1)
            self.note(model, run, channels, "the %s device hung up%s" % (device, ", refusing once" if run.refusing else ""))
            return 0
        self.board.ask("reset")
        model.held.clear()
        refused = [d for d in ("dtmf", "dsp") if rnd.random() < 0.5]
        for device in refused:
            # What the daemon puts back first is refused.
            self.refuse(device, 1)
        self.note(model, run, channels, "the board reset" + "".join(", the %s device refusing once" % d for d in refused))
        # The HDLC data slots lost their controller channels: the controller, told so, destroys them.
        for slot in sorted(model.hdlcs):
            self.destroy(model, run, slot)
        run.refusing = refused
        return 0

    def refuse(self, device, count):
        """The device refuses its next count requests (0: it takes them again)."""
        self.board.ask("fail %s EIO %d" % (device, count))

    def random_step(self, rnd, model, run, ports_only=False):
        roll = rnd.random() * (0.82 if ports_only else 1.0)
        kinds = [p.kind for p in model.ports.values()]
        free = [s for s in PORTS if s not in model.ports]
        ins = lambda c: sum(1 for p in model.on(c) if p.kind == "mixerIn")
        outs = lambda c: sum(1 for p in model.on(c) if p.kind == "mixerOut")
        if roll < 0.12 and free:
            open_ins = [c for c in model.channels if ins(c) < 3]
            if open_ins:
                self.create_port(rnd, model, run, rnd.choice(free), "mixerIn", rnd.choice(open_ins))
                return
        if roll < 0.2 and free:
            open_outs = [c for c in model.channels if outs(c) < 2] + ([OUT] if outs(OUT) < 3 else [])
            if open_outs:
                self.create_port(rnd, model, run, rnd.choice(free), "mixerOut", rnd.choice(open_outs))
                return
        if not model.ports:
            self.create_port(rnd, model, run, rnd.choice(free), "mixerIn", rnd.choice(model.channels))
        elif roll < 0.5:
            self.ioctl(rnd, model, run, rnd.choice(sorted(model.ports)))
        elif roll < 0.6:
            slot = rnd.choice(sorted(model.ports))
            if model.ports[slot].kind == "mixerIn":
                self.connect(model, run, rnd.choice(TRUNKS), slot)
            else:
                self.connect(model, run, slot, rnd.choice(TRUNKS))
        elif roll < 0.65:
            self.disconnect(model, run, rnd.choice(sorted(model.ports) + list(TRUNKS) + sorted(model.exts)
                                                   + sorted(model.hdlcs)))
        elif roll < 0.74:
            self.destroy(model, run, rnd.choice(sorted(model.ports) + sorted(model.exts) + sorted(model.hdlcs)))
        elif roll < 0.78:
            # A create on a live port's number: the port goes and a new one comes in its place.
            slot = rnd.choice(sorted(model.ports))
            port = model.ports[slot]
            self.create_port(rnd, model, run, slot, port.kind, port.channel)
        elif roll < 0.82:
            self.ext_step(rnd, model, run)
        elif roll < 0.86 and run.fault != "hal":
            self.hdlc_step(rnd, model, run)
        elif kinds and not run.fault:
            return self.fault(rnd, model, run)
        else:
            self.ioctl(rnd, model, run, rnd.choice(sorted(model.ports)))
        return 0

    def run_seed(self, seed, steps):
        rnd = random.Random(seed)
        model = Model(tuple(sorted(rnd.sample(CHANNELS, rnd.choice((2, 3))))))
        run = argparse.Namespace(seed=seed, log=[], history=collections.defaultdict(list), fault=None, stamp=0,
                                 refusing=[], unsettled=False, delivered=0, left=0, requests=0, shared_routes=0, connects=0)
        # A fresh board and controller, whatever an earlier run left.
        for device in ("dtmf", "dsp", "mixer", "hal"):
            self.refuse(device, 0)
        self.new_controller()
        self.board.ask("reset")
        self.assertEqual(self.send_to(None, "query : NULL"), "success")
        for trunk in TRUNKS + (HDLC_TRUNK,):
            self.assertEqual(self.send_to(trunk, "create : trunk : { trunk 0, timeslot %d }" % trunk), "success")
        away = 0
        for step in range(1, steps + 1):
            model.step = step
            lasting = self.random_step(rnd, model, run)
            if lasting:
                away = lasting
                continue
            if away:
                away -= 1
                if away:
                    continue
                self.refuse(run.fault, 0)
                self.note(model, run, [], "the %s device takes requests again" % run.fault)
                run.fault = None
                self.check(model, run, SETTLE)
            else:
                self.check(model, run, SETTLE if run.unsettled else QUIET)
            for channel in [c for c in run.history if not model.busy(c)]:
                del run.history[channel]
            # A refusal left for what the daemon puts back first, if it had nothing to put back.
            for device in run.refusing:
                self.refuse(device, 0)
            run.refusing, run.unsettled = [], False
        for device in ("dtmf", "dsp", "mixer", "hal"):
            self.refuse(device, 0)
        run.fault = None
        self.check(model, run, SETTLE)
        for slot in sorted(model.ports) + sorted(model.exts) + sorted(model.hdlcs):
            self.destroy(model, run, slot)
            self.check(model, run, QUIET)
        print("seed %d, %d steps on channels %s: %d departures from a shared timeslot, %d requests on one, "
              "%d events owed to a port, %d routes onto a shared output, %d connects" %
              (seed, steps, model.channels, run.left, run.requests, run.delivered, run.shared_routes, run.connects),
              file=sys.stderr)
        # What a run must have checked, so that it cannot pass on nothing.
        self.assertGreaterEqual(run.left, steps // 30, "too few departures from a shared timeslot")
        self.assertGreaterEqual(run.requests, steps // 8, "too few requests on a shared timeslot")
        self.assertGreaterEqual(run.delivered, steps // 4, "too few events owed to a port")
        self.assertGreaterEqual(run.shared_routes, steps // 50, "too few routes onto a shared output")

    def test_random_shared_channels(self):
        for seed in self.seeds:
            with self.subTest(seed=seed):
                self.run_seed(seed, self.steps)


def take_args():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--seed", type=int, action="append")
    parser.add_argument("--steps", type=int)
    parser.add_argument("--print-steps", action="store_true")
    parser.add_argument("--check", default=",".join(PARTS))
    args, sys.argv[1:] = parser.parse_known_args()
    global VERBOSE, CHECKS
    VERBOSE, CHECKS = args.print_steps, tuple(args.check.split(","))
    assert set(CHECKS) <= set(PARTS), "--check takes some of " + ",".join(PARTS)
    if args.seed:
        SharedChannels.seeds = args.seed
    if args.steps:
        SharedChannels.steps = args.steps


if __name__ == "__main__":
    take_args()
    vx.main()
