"""Shared channels at random, end to end on voxrelay-sim: several mixerIn and mixerOut ports on
one mixer channel, mixerOut ports replacing one another make-before-break on one output, ext
slots naming one receive channel, HDLC data slots and a primary-rate PSTN link on one trunk
timeslot whose own trunk slot is fed, disconnected (keeping it on the idle byte) and fed again;
created, connected either way, connected again, disconnected, activated, destroyed, re-created,
given every receiver ioctl of the mixer ports (and those a kind refuses), amid device refusals,
hang-ups and board resets.

A model keeps each slot's own wishes (the last value of each setting it was answered success
for, its tone filters, source and sum), and each link's channel with the routes its connections
made (a connection going takes its own direction; a connect of a pair connected already makes
its routes the newest). The board must hold, per setting, the newest wish of the
live slots, or what a slot alone leaves once the last goes. After every step (within a bound
after a fault) the run compares the tone and DSP settings per timeslot, the switch routes, the
mixer sums, and which port each board event reaches; a failure names the seed, the step, what
the model expected against what the board shows, and the last steps. The run counts what its
steps decided and fails below a floor, so that it cannot pass on nothing.

A few fixed seeds run in CI. By hand, any seed and length (--seed may be repeated; --print-steps
prints every step as it runs):
    python3 test_shared_channels.py --daemon build/voxrelay-sim --seed 1234 --steps 3000"""


import argparse
import collections
import random
import sys
import time

import vxharness as vx
from test_device_state import fields
from test_rtp import CodecSessionTest

SEEDS = [501, 504, 507]
STEPS = 200
TRUNKS = (1, 2, 3, 4)          # trunk slots on trunk 0: slot = timeslot = switch channel
HDLC_TRUNK = 9                 # the trunk timeslot the HDLC data slots share
PORTS = tuple(range(20, 38))   # mixer port slots
EXTS = (50, 51)
HDLCS = (60, 61)
PSTN = 70                      # a primary-rate link on the shared trunk timeslot
LINKS = HDLCS + (PSTN,)
CHANNELS = (5, 6, 7)           # mixer channels with mixerIn and mixerOut ports (2 or 3 per run)
OUT = 2                        # the output whose mixerOut ports replace one another
SPARE = 8                      # an output only mixerIn ports sum into
LINE = 7000                    # a receive channel of ext slots alone
FREQS = (1000, 2000, 2100)
TONEC, VAD, SD, BSS = 1, 16, 19, 20  # signal alternatives
INSUFFICIENT = 1               # error cause insufficientResources
IDLE = "idle"                  # a switch output kept open on the idle byte
SETTLE = 6.0                   # how long the daemon may take to put the board right after a fault
QUIET = 2.0                    # ... and after a step on a healthy board (a DTMF string to play out)
DEVICES = ("dtmf", "dsp", "mixer", "hal")
VERBOSE = False

# What a timeslot holds for a setting no live port wishes: the cleaned ones are switched off when
# their last wisher leaves, as for a port alone; the kept ones (echo canceller, SD, and every
# configuration record) stay as the last wisher left them. (Choice: after a board reset a kept
# setting no live port wishes is not checked: the daemon need not remember it.)
OFF = (0, 0, 0, 0)
CLEANED = {"detector": 0, "iva": 0, "rejection": 0, "vad": 0, "delays": (0, 0), "rxgain": 0, "gen": OFF}
KEPT = ("lms", "sd", "dtmfcfg", "ivacfg", "vadcfg", "sdcfg")

# The receiver ioctls of the mixer ports: the kinds that take each and the device it drives.
IN, BOTH = ("mixerIn",), ("mixerIn", "mixerOut")
IOCTLS = {"translateDTMF": (BOTH, "dtmf"), "dtmf-params": (BOTH, "dtmf"), "iva-enable": (BOTH, "dtmf"),
          "echoSuppressor": (IN, "dtmf"), "dtmf-enable": (IN, "dtmf"), "dtmf-reject-enable": (IN, "dtmf"),
          "iva-params": (IN, "dtmf"), "dtmf-disable": (("mixerOut",), "dtmf"),
          "dtmf-reject-disable": (("mixerOut",), "dtmf"), "tone-gen-enable": (("mixerOut",), "dtmf"),
          "tone-gen-disable": (("mixerOut",), "dtmf"), "vad-params": (BOTH, "dsp"), "vad-enable": (BOTH, "dsp"),
          "vad-disable": (BOTH, "dsp"), "sd-params": (BOTH, "dsp"), "sd-enable": (BOTH, "dsp"),
          "sd-disable": (BOTH, "dsp"), "delays": (BOTH, "dsp"), "tone-filter": (BOTH, "dsp"), "rx-gain": (IN, "dsp")}
SWITCHES = {"echoSuppressor": "lms", "dtmf-enable": "detector", "dtmf-reject-enable": "rejection", "vad-enable": "vad",
            "sd-enable": "sd", "iva-enable": "iva"}
NULLS = {"vad-disable": ("vad", 0), "sd-disable": ("sd", 0), "dtmf-reject-disable": ("rejection", 0),
         "tone-gen-disable": ("gen", OFF), "sd-params": ("sdcfg", True),
         "dtmf-disable": None}  # stops a DTMF string: with none playing (each plays out), refused

Wish = collections.namedtuple("Wish", "value time step")


def ts(channel):
    return 3072 + channel


def request(rnd, name):
    """The ioctl with random values, and the wishes its success makes: (setting, value) pairs, a
    tone filter switched off wishing None. No wishes: one refused on any board."""
    on, pick = rnd.random() < 0.6, rnd.choice
    if name in SWITCHES:
        return "%s : %s" % (name, "TRUE" if on else "FALSE"), [(SWITCHES[name], int(on))]
    if name in NULLS:
        return name + " : NULL", [NULLS[name]] if NULLS[name] else []
    if name == "translateDTMF":
        # (Choice: a string, once played, wishes the generator off: it ends an older port's tone,
        # which comes back only when the string's port leaves.)
        digits = rnd.sample(("{ freq1 697, freq2 1209 }", "{ freq1 770, freq2 1336 }", "{ freq1 852, freq2 1477 }"),
                            rnd.randint(1, 2))
        return ("translateDTMF : { digits { %s }, toneDuration 20, pauseDuration 20 }" % ", ".join(digits),
                [("gen", OFF)])
    if name == "dtmf-params":
        t = tuple(pick((4, 8, 12, 30)) for _ in range(4))
        return ("dtmf-params : { threshold { twist %d, ratio %d, noise %d }, level { silence %d } }" % t,
                [("dtmfcfg", t)])
    if name == "vad-params":
        if rnd.random() < 0.15:
            return "vad-params : v1 : NULL", []  # the board's VAD takes the second layout only
        v = (pick((20, 40, 80)), pick((100, 200, 400)), pick((20, 30, 40)))
        return ("vad-params : v2 : { voice-th-msec %d, silence-th-msec %d, e-th-dB %d }" % v,
                [("vadcfg", "%04X%04X%02X" % v + "00" * 7)])
    if name == "tone-filter":
        f, d, level = pick(FREQS), pick((100, 300)), pick((-30, -20))
        return ("tone-filter : { freq %d, enable %s, duration-th-msec %d, det-level-dB %d }"
                % (f, str(on).upper(), d, level), [(("filter", f), (d, level) if on else None)])
    if name == "tone-gen-enable":
        f, a = pick((425, 1000, 2100)), pick((1000, 2048, 4096))
        return "tone-gen-enable : { freq %d, amp %d }" % (f, a), [("gen", (f, 0, a, 0))]
    if name == "delays":
        d = (pick((0, 10, 20, 40)), pick((0, 10, 40)))
        return "delays : { rx %d, tx %d }" % d, [("delays", d)]
    value = pick((-40, -30, -20)) if name == "iva-params" else pick((-6, -3, 0, 3, 6))
    return ("iva-params : { det_lvl_dB %d }" if name == "iva-params" else "rx-gain : { gainDB %d }") % value, \
        [("ivacfg" if name == "iva-params" else "rxgain", value)]


class Slot:
    """A mixer port (kind, channel, summator, inputs; its wishes per setting, its source, and made:
    the Wish of what it sums), or a sink: an ext slot (receiving once active) or an HDLC data slot
    on the shared trunk timeslot, whose source is the Wish of its controller channel."""

    def __init__(self, **fields):
        self.summator = self.inputs = self.source = self.made = None
        self.wishes = {}
        self.__dict__.update(fields)


class Model:
    """The slots as the daemon's answers left them, each with its own wishes, and what the board
    must hold for them together; the run's log, its fault, and what its steps decided."""

    def __init__(self, seed, channels):
        self.seed, self.channels, self.clock, self.step = seed, channels, 0, 0
        self.ports, self.exts, self.links = {}, {}, {}
        # The shared trunk timeslot's own trunk slot: what feeds it (a trunk slot or a link) and
        # its own wish (a Wish of the source channel or IDLE); what the output showed before any
        # slot of the run held it.
        self.t9src = self.t9wish = self.leftover = None
        self.trunk_source = {}    # trunk slot -> Wish(the mixerOut slot feeding it)
        self.opened = set()       # trunk slots that had a source: their output stays open
        self.handed = set()       # controller channels the links got
        self.held = {}            # (timeslot, kept setting) -> what its last wisher left there
        self.log, self.fault, self.refusing, self.unsettled, self.stamp = [], None, [], False, 0
        self.left = self.requests = self.shared_routes = 0   # for the floors, with chosen
        self.repeats = self.link_left = 0
        self.chosen = set()

    def wish(self, value):
        self.clock += 1
        return Wish(value, self.clock, self.step)

    def on(self, channel):
        return [p for p in self.ports.values() if p.channel == channel]

    @staticmethod
    def newest(wishes):
        wishes = [w for w in wishes if w is not None]
        return max(wishes, key=lambda w: w.time) if wishes else None

    def shared(self, slot):
        """1 when another live port on the port's timeslot wishes something there."""
        port = self.ports[slot]
        return int(any(p is not port and (p.wishes or p.source) for p in self.on(port.channel)))

    def forget_port(self, slot):
        self.left += self.shared(slot)
        port = self.ports.pop(slot)
        others = self.on(port.channel)
        for key in KEPT:
            if key in port.wishes and self.newest(p.wishes.get(key) for p in others) is None:
                self.held[(ts(port.channel), key)] = port.wishes[key].value
        for trunk in [t for t, w in self.trunk_source.items() if w.value == slot]:
            del self.trunk_source[trunk]
            self.opened.add(trunk)

    def receivers(self, channel):
        """What the tone and DSP devices must hold on the channel's timeslot; a kept setting whose
        last wisher left before a board reset is not named (unknown)."""
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

    def owner(self, channel, feature):
        """The port an event of the feature (a frequency: a tone filter's) reaches while the
        device runs it: the port whose wish the device holds, the newest. A mixerOut drops DTMF,
        VAD and SD events: while its enable is the newest, none comes (the older mixerIn's is
        not current). Also, when several live ports wished the feature, the choice made (the
        newest wish), else None."""
        key = ("filter", feature) if isinstance(feature, int) else feature
        wishes = [(p.wishes[key].time, s) for s, p in self.ports.items() if p.channel == channel and key in p.wishes]
        slot = max(wishes)[1] if wishes else None
        return (slot if slot and (self.ports[slot].kind == "mixerIn" or key != feature) else None,
                max(wishes)[0] if len(wishes) > 1 else None)

    def sum(self, output):
        """The inputs summed into an output, as the board lists them: per input the newest wish
        of the live mixerOut ports on the output and of the mixerIn ports summed into it. (Choice:
        a mixerOut wishes its whole list, so a newer one takes out what an older one or an older
        mixerIn summed, as its create clears the output; that comes back when the newer goes.)"""
        outs = [p for p in self.ports.values() if p.kind == "mixerOut" and p.channel == output]
        ins = [p for p in self.ports.values() if p.summator == output]
        named = {c for p in outs for c in p.inputs or {output}} | {p.channel for p in ins}
        wishes = collections.defaultdict(list)
        for p in outs:
            for c in named:
                wishes[c].append(Wish((p.inputs or {output: 32767}).get(c), p.made.time, p.made.step))
        for p in ins:
            wishes[p.channel].append(p.made)
        newest = {c: self.newest(w) for c, w in wishes.items()}
        return sorted("0/%d gain=%d" % (c, w.value) for c, w in newest.items() if w.value is not None)

    def sinks(self, output):
        """The live slots that receive on a switch output."""
        return [p for p in self.ports.values() if ts(p.channel) == output and p.kind == "mixerIn"] + [
            s for s in self.exts.values() if s.receiver == output]

    def shared_output(self):
        """What the shared trunk timeslot carries: the newest route among its trunk slot's wish and
        the links' routes out, else the idle byte its trunk slot keeps, else what it showed before
        the run (until a link first drove it: it is disabled when the last user leaves)."""
        wishes = [w for w in [self.t9wish] + [l.out_wish for l in self.links.values()] if w]
        routes = [w for w in wishes if w.value != IDLE]
        return self.newest(routes).value if routes else IDLE if wishes else self.leftover

    def routes(self):
        """What each switch output of the run carries: a source channel, IDLE, or None when
        disabled. An output several live slots receive on carries the newest source among them,
        else the idle byte while one keeps it open (a sink disconnected, an ext slot activated),
        else nothing. (Choice: a connect answered success is the newest wish even when the sink
        had that source already.) A disconnect, an ext slot's deactivate or a leave drops the
        slot's source, and the output goes back to the newest one left."""
        out = {k: None for k in self.handed}
        for output in [ts(c) for c in self.channels + (OUT,)] + [LINE]:
            wishes = [s.source for s in self.sinks(output) if s.source]
            w = self.newest(w for w in wishes if w.value != IDLE)
            out[output] = w.value if w else IDLE if wishes else None
        for trunk in TRUNKS:
            w = self.trunk_source.get(trunk)
            out[trunk] = ts(self.ports[w.value].channel) if w else IDLE if trunk in self.opened else None
        out[HDLC_TRUNK] = self.shared_output()
        out.update({l.channel: HDLC_TRUNK for l in self.links.values() if l.channel and l.in_route})
        return out


class SharedChannels(CodecSessionTest):
    seeds = SEEDS
    steps = STEPS

    def setUp(self):
        super().setUp()
        self.board.ask("mixer-unit 0 32 32")  # as a board reset leaves it

    # ---------------------------------------------------------------- what the board holds

    def read_receivers(self, channel):
        tone, dsp = fields(self.board.ask("tone %d" % ts(channel))), fields(self.board.ask("dsp %d" % ts(channel)))
        delays, gain = dsp.get("config32"), dsp.get("config64")
        return {"detector": int(tone["detector"]), "iva": int(tone["iva"]), "rejection": int(tone["rejection"]),
                "lms": int(tone["lms"]), "ivacfg": int(tone["iva_level"]),
                "dtmfcfg": tuple(int(tone[k]) for k in ("twist", "ratio", "noise", "silence")),
                "gen": tuple(int(tone[k]) for k in ("f1", "f2", "a1", "a2")),
                "vad": int(dsp["enabled"]) & 1, "sd": (int(dsp["enabled"]) >> 1) & 1,
                "vadcfg": dsp.get("config1"), "sdcfg": "config2" in dsp,
                "delays": (int(delays[:8], 16), int(delays[8:16], 16)) if delays else (0, 0),
                "rxgain": (int(gain[:2], 16) ^ 0x80) - 0x80 if gain else 0,
                "filters": {int(f.split("/")[0]): (int(f.split("/")[1]), int(f.split("/")[2]))
                            for f in self.board.ask("dsp-filters %d" % ts(channel)).split()}}

    def differences(self):
        """What the board holds against what the model expects, a line each."""
        m, out = self.m, []
        for channel in m.channels + (OUT,):
            have = self.read_receivers(channel)
            for key, value in m.receivers(channel).items():
                if have[key] != value:
                    w = m.newest(p.wishes.get(key) for p in m.on(channel))
                    why = "" if key == "filters" else " (wish of step %d)" % w.step if w else " (no live wish)"
                    out.append("timeslot %d %s: expected %s%s, board shows %s" % (ts(channel), key, value, why,
                                                                                  have[key]))
        board = {int(line.split()[0]): int(line.split()[2]) if " connected " in line else IDLE
                 for line in self.board.ask("connections") if " connected " in line or " constant 213" in line}
        for output, source in m.routes().items():
            if board.get(output) != source:
                want = "disabled" if source is None else source if source == IDLE else "from %d" % source
                out.append("switch output %d: expected %s, board shows %s" % (
                    output, want, self.board.ask("switch %d" % output)))
        for output in m.channels + (OUT, SPARE):
            want, have = m.sum(output), sorted(self.board.ask("mixer-sum 0 %d" % output))
            if want != have:
                out.append("sum of output %d: expected %s, board shows %s" % (output, want, have))
        return out

    def sync(self):
        """Two round trips to the daemon: every record the board gave it before is read and its
        signal sent."""
        for _ in range(2):
            self.seq += 1
            self.answer(vx.command(vx.PING, seq=self.seq))

    def events(self):
        """Board events on each channel's timeslot, of what the devices run there (a BSS record
        always: no port asks for BSS), and which port each reaches: what went wrong, or None.
        (Events carry the id of the enable the device holds: until the daemon has put a newer
        port's enable back after a fault, they go to the older port or nowhere.)"""
        m = self.m
        self.assertTrue(vx.wait_for(lambda: all(int(self.board.ask("open " + d)) > 0 for d in DEVICES[:2]), SETTLE),
                        "the tone or DSP device is not opened again" + self.told())
        self.sync()
        self.pending.clear()
        want = []
        for channel in m.channels + (OUT,):
            t, held = ts(channel), m.receivers(channel)
            m.stamp += 1
            if held["detector"]:
                self.board.ask("dtmf %d %d %d" % (t, m.stamp % 10, m.stamp))
                want.append((*m.owner(channel, "detector"), "tonec",
                             "{ timestamp %d, event dtmf : %d }" % (m.stamp, m.stamp % 10)))
            if held["vad"]:
                self.board.ask("dsp-vad %d 1 1 0" % t)
                want.append((*m.owner(channel, "vad"), "vad", "{ vad-rx TRUE }"))
            if held["sd"] if "sd" in held else self.read_receivers(channel)["sd"]:
                self.board.ask("dsp-sd %d 1" % t)
                want.append((*m.owner(channel, "sd"), "sd", "{ sd-rx TRUE }"))
            self.board.ask("dsp-bss %d %d.5" % (t, m.stamp))
            for f in sorted(held["filters"]):
                self.board.ask("dsp-event %d 256 %08x00000001 0" % (t, f))
                want.append((*m.owner(channel, f), "tonec",
                             "{ timestamp 0, event tone-presence : { freq %d, presence TRUE } }" % f))
        self.sync()
        got = [self.parse(frame) for frame in self.pending
               if vx.read_signal_start(vx.Reader(frame))[1] in (TONEC, VAD, SD, BSS)]
        got = sorted(g for g in got if "dtmfDone" not in g[2])
        self.pending.clear()
        chosen = {w[1] for w in want if w[1]}
        want = sorted((w[0],) + w[2:] for w in want if w[0] is not None)
        if got == want:
            m.chosen |= chosen
            return None
        return "events: expected at (slot, signal, value) %s did not come; %s came, expected nowhere" % (
            [w for w in want if w not in got], [g for g in got if g not in want]) + self.told()

    def check(self, bound):
        if not vx.wait_for(lambda: not self.differences(), bound):
            self.fail("the board does not hold what the live slots wish:\n  " + "\n  ".join(self.differences())
                      + self.told())
        deadline = time.monotonic() + (bound if self.m.unsettled else 0)
        while wrong := self.events():
            if time.monotonic() > deadline:
                self.fail(wrong)
            time.sleep(0.1)

    def told(self):
        """The report of a failure: the seed, the step and the last 60 steps (--print-steps shows all)."""
        return "\nseed %d, step %d, after:\n  %s" % (self.m.seed, self.m.step, "\n  ".join(self.m.log[-60:]))

    # ---------------------------------------------------------------- steps

    def note(self, text):
        self.m.log.append("%d: %s" % (self.m.step, text))
        if VERBOSE:
            print("seed %d step %s" % (self.m.seed, self.m.log[-1]), file=sys.stderr)

    def act(self, slot, command, expect="success"):
        """Sends a command and logs it with its answer; with no fault on, the answer must be the
        one expected ("success", or None for anything but success). Under a fault the model
        follows the answer: a success is a wish the board must come to, whatever was refused."""
        answer = self.send_to(slot, command)
        deadline = time.monotonic() + SETTLE
        while answer == INSUFFICIENT and command.startswith("create") and not self.m.fault \
                and time.monotonic() < deadline:
            # A channel still routed for a slot gone during a fault is refused for now.
            time.sleep(0.05)
            answer = self.send_to(slot, command)
        self.note("%d <- %s: %s" % (slot, command, answer))
        if not self.m.fault and (answer == "success") != (expect == "success"):
            self.fail("%d <- %s answered %s" % (slot, command, answer) + self.told())
        return answer == "success"

    def create_port(self, slot, kind, channel):
        m, rnd, port, ecm = self.m, self.rnd, Slot(kind=kind, channel=channel), None
        if kind == "mixerIn":
            taken = {p.summator for p in m.on(channel)}
            free = [s for s in (OUT, SPARE) + m.channels if s != channel and s not in taken]
            port.summator = rnd.choice(free) if free and rnd.random() < 0.85 else None
            params = "" if port.summator is None else ", summator tdm : %d" % port.summator
            ecm = (rnd.random() < 0.5, rnd.random() < 0.5) if rnd.random() < 0.3 and m.fault != "dtmf" else None
            params += ", ecm { ec %s, es %s }" % tuple(str(b).upper() for b in ecm) if ecm else ""
            command = "create : mixerIn : { unit 0, channel tdm : %d%s }" % (channel, params)
        else:
            choices = m.channels if channel == OUT else [c for c in m.channels if c != channel]
            port.inputs = {c: rnd.choice((100, 1000, 16384, 32767))
                           for c in rnd.sample(choices, rnd.randint(0, len(choices)))}
            command = "create : mixerOut : { unit 0, channel tdm : %d, inputs { %s } }" % (
                channel, ", ".join("{ channel tdm : %d, gain %d }" % i for i in sorted(port.inputs.items())))
        if slot in m.ports:
            m.forget_port(slot)  # a create on a live port's number: the port goes whatever the answer
        if not self.act(slot, command):
            return
        port.made = m.wish(32767)
        if ecm:
            port.wishes["lms"] = m.wish(int(any(ecm)))
        m.ports[slot] = port
        # As a call does: the port is patched to a trunk timeslot; a new output takes over a
        # trunk an older one of its channel feeds (make-before-break).
        if rnd.random() < 0.7:
            older = [t for t, w in m.trunk_source.items() if m.ports[w.value].channel == channel]
            self.connect(*((rnd.choice(TRUNKS), slot) if kind == "mixerIn" else
                           (slot, rnd.choice(older or list(TRUNKS)))))

    def connect(self, src, dst):
        m = self.m
        sink = m.ports.get(dst) or m.exts.get(dst)
        receiver = ts(sink.channel) if dst in m.ports else sink.receiver if sink else None
        if not self.act(src, "connect : %d" % dst, "success" if dst not in m.exts or sink.active else None):
            return
        w = m.wish(src)
        if sink is None:
            m.trunk_source[dst] = w
            return
        m.shared_routes += any(s is not sink and s.source for s in m.sinks(receiver))
        sink.source = w

    def destroy(self, slot):
        m = self.m
        if slot in m.links:
            return self.link_destroy(slot)
        if slot in m.ports:
            m.forget_port(slot)
        else:
            m.exts.pop(slot)
        self.act(slot, "destroy : NULL")

    def disconnect(self, slot):
        # A refused takedown parts the slots all the same; the switch catches up.
        m = self.m
        if slot in m.links or slot == HDLC_TRUNK:
            return self.link_disconnect(slot)
        sink = m.ports.get(slot) or m.exts.get(slot)
        if sink:
            sink.source = m.wish(IDLE) if sink.source else None
        elif m.trunk_source.pop(slot, None):
            m.opened.add(slot)
        self.act(slot, "disconnect : NULL")

    def ioctl(self, slot, device=None, aim=None):
        """A receiver ioctl (on the device given) the port takes, or now and then one it refuses;
        with aim, the device refuses the request aimed at (or a VAD configure's version query)."""
        m, rnd, port = self.m, self.rnd, self.m.ports[slot]
        names = [n for n, (_, d) in IOCTLS.items() if device in (None, d)]
        takes = [n for n in names if port.kind in IOCTLS[n][0]]
        refused = rnd.random() < 0.08 and len(takes) < len(names)
        # Often a switch whose events a port gets, one another port of the channel holds if any,
        # so that the rule chooses among them.
        reported = [n for n in takes if n in ("dtmf-enable", "vad-enable", "sd-enable", "tone-filter")]
        held = [n for n in reported if any(SWITCHES.get(n) in p.wishes for p in m.on(port.channel) if p is not port)]
        name = rnd.choice([n for n in names if n not in takes] if refused else
                          held or reported if reported and rnd.random() < 0.4 else takes)
        if m.fault == "dtmf" and name == "translateDTMF":
            name = "iva-enable"  # (a string the device refuses stops half played)
        text, effects = request(rnd, name)
        if aim:
            self.refuse(device, 1, *(("DSPROC_VAD_VERSION", 0) if name == "vad-params" and rnd.random() < 0.5 else aim))
        shared = m.shared(slot)
        if self.act(slot, "ioctl : " + text, None if refused or not effects else "success") and not refused:
            m.requests += shared
            for key, value in effects:
                port.wishes[key] = m.wish(value)
            if name == "translateDTMF":
                # The string plays out before the next step.
                vx.wait_for(lambda: self.read_receivers(port.channel)["gen"] == OFF, QUIET)
        elif name.startswith("tone-gen") and not refused:
            # A generator the device refused is in no known state: the port's tone goes off,
            # unless another port's newer one sounds there.
            if m.newest(p.wishes.get("gen") for p in m.on(port.channel)) in (None, port.wishes.get("gen")):
                port.wishes["gen"] = m.wish(OFF)
            else:
                port.wishes.pop("gen", None)

    def ext_step(self):
        """An ext slot made (activated and fed at once, as a call does, or left idle naming its
        channel), activated again, deactivated, or fed."""
        m, rnd = self.m, self.rnd
        free, roll = [e for e in EXTS if e not in m.exts], rnd.random()
        if free and (roll < 0.3 or not m.exts):
            slot, receiver = rnd.choice(free), rnd.choice((ts(m.channels[0]), LINE))
            if not self.act(slot, "create : ext : { transmitter %d, receiver %d }" % (7100 + slot, receiver)):
                return
            m.exts[slot] = Slot(receiver=receiver, active=False)
            roll = 0.0 if rnd.random() < 0.7 else 1.0
        else:
            slot = rnd.choice(sorted(m.exts))
        ext = m.exts[slot]
        if roll < 0.55:
            # A second activate leaves the live receive path as it was.
            ext.active |= self.act(slot, "activate : empty : NULL")
            ext.source = ext.source or (m.wish(IDLE) if ext.active else None)
            if roll == 0.0:
                self.connect(rnd.choice(TRUNKS), slot)
        elif roll < 0.7:
            ext.active, ext.source = False, None
            self.act(slot, "deactivate : NULL")
        elif roll < 1.0:
            self.connect(rnd.choice(TRUNKS), slot)

    # ---------------------------------------------------------------- links on the shared timeslot

    def channels_open(self):
        return {int(line.split()[0]) for line in self.board.ask("channels") if "open=1" in line}

    def activated(self, slot, before):
        """The link's channel came up (again) with both routes: out to the shared timeslot, the
        newest wish there, and in from it. Its number: the one that opened, or (the board gave
        a number back) the one hearing the timeslot that no other link holds."""
        m, link = self.m, self.m.links[slot]
        new = self.channels_open() - before
        if len(new) != 1:
            others = {l.channel for s, l in m.links.items() if s != slot and l.in_route}
            new = {c for c in self.channels_open() - others if self.board.ask("switch %d" % c) == "connected 9"}
        self.assertEqual(len(new), 1, "no channel for link %d: %s" % (slot, new) + self.told())
        link.channel = new.pop()
        link.out_wish, link.in_route, m.leftover = m.wish(link.channel), True, None
        m.handed.add(link.channel)
        self.note("link %d on controller channel %d" % (slot, link.channel))

    def released(self, link):
        """The link's channel and its routes went."""
        if link.out_wish and any(w for w in [self.m.t9wish] + [l.out_wish for l in self.m.links.values()
                                                               if l is not link]):
            self.m.link_left += 1
        link.channel, link.out_wish, link.in_route = None, None, False

    def retake(self, link, out=True):
        """A connect of the link made its routes the newest again on the channel it has: the route
        in, and the route out while that is still its wish (out: only the route out)."""
        if not out:
            link.in_route = True
        if link.out_wish or out:
            link.out_wish = self.m.wish(link.channel)

    def source_of_9_goes(self):
        """The shared timeslot's trunk slot leaves its source: a link's path out goes (a data slot
        that nothing feeds loses its channel), and the trunk slot keeps the output on the idle
        byte."""
        m = self.m
        old, m.t9src = m.t9src, None
        if old in m.links:
            link = m.links[old]
            link.dst = False
            if link.out_wish and any(l.out_wish for l in m.links.values() if l is not link):
                m.link_left += 1
            link.out_wish = None
            if link.kind == "hdlc" and not link.src:
                self.released(link)
        m.t9wish = m.wish(IDLE)

    def link_connect(self, src, dst):
        """A connect that involves the shared timeslot's trunk slot or a link; the model follows the
        answer, which must be success on a healthy board."""
        m = self.m
        before = self.channels_open()
        repeat = (dst == HDLC_TRUNK and m.t9src == src) or (dst in m.links and m.links[dst].src)
        if not self.act(src, "connect : %d" % dst):
            return
        m.repeats += repeat
        if dst == HDLC_TRUNK:
            if not repeat and m.t9src is not None:
                self.source_of_9_goes()
            m.t9src = src
            if src in m.links:
                link = m.links[src]
                link.dst = True
                if link.channel:
                    self.retake(link)
                elif link.kind == "hdlc":
                    self.activated(src, before)
            else:
                m.shared_routes += any(l.out_wish for l in m.links.values())
                m.t9wish = m.wish(src)
            return
        link = m.links[dst]
        link.src = True
        if link.channel:
            self.retake(link, out=False)
        else:
            self.activated(dst, before)
        m.shared_routes += bool(m.t9wish and m.t9wish.value != IDLE) + sum(
            1 for l in m.links.values() if l is not link and l.out_wish)

    def link_disconnect(self, slot):
        """A disconnect of the shared timeslot's trunk slot or of a link (its source, the timeslot,
        goes: a data slot still feeding the timeslot keeps its channel, deaf; otherwise the
        channel goes)."""
        m = self.m
        if slot == HDLC_TRUNK:
            if m.t9src is not None:
                self.source_of_9_goes()
        elif m.links[slot].src:
            link = m.links[slot]
            link.src = False
            if link.kind == "hdlc" and link.dst:
                link.in_route = False
            else:
                self.released(link)
        self.act(slot, "disconnect : NULL")

    def link_destroy(self, slot):
        m, link = self.m, self.m.links[slot]
        if link.src:
            link.src = False
            if link.kind != "hdlc" or not link.dst:
                self.released(link)
        if m.t9src == slot:
            self.source_of_9_goes()
        self.released(link)
        del m.links[slot]
        self.act(slot, "destroy : NULL")

    def link_step(self):
        """A link made, connected from or to the shared timeslot (again, too), disconnected,
        activated or destroyed; the timeslot's trunk slot fed from a trunk or left; a source the
        primary-rate link refuses (one on no trunk) changing nothing."""
        m, rnd = self.m, self.rnd
        free = [s for s in LINKS if s not in m.links]
        roll = rnd.random()
        if free and (roll < 0.15 or not m.links):
            slot = rnd.choice(free)
            command = ("create : pstn : isdn : { type pri, trunk 1, log 0, side user : NULL }" if slot == PSTN else
                       "create : hdlcParams : { trunk 1, log 0, address %d }" % (4660 + slot))
            if self.act(slot, command):
                m.links[slot] = Slot(kind="pstn" if slot == PSTN else "hdlc", channel=None, out_wish=None,
                                     in_route=False, src=False, dst=False)
            return
        slot = rnd.choice(sorted(m.links))
        link = m.links[slot]
        if roll < 0.25 and (m.t9src is not None or link.src):
            # A pair connected already, connected again: its routes are the newest again.
            self.link_connect(*((HDLC_TRUNK, slot) if link.src and (m.t9src is None or rnd.random() < 0.5)
                                else (m.t9src, HDLC_TRUNK)))
        elif roll < 0.45:
            self.link_connect(HDLC_TRUNK, slot)
        elif roll < 0.6:
            self.link_connect(slot, HDLC_TRUNK)
        elif roll < 0.7:
            self.link_connect(rnd.choice(TRUNKS), HDLC_TRUNK)
        elif roll < 0.8:
            self.link_disconnect(rnd.choice((slot, HDLC_TRUNK)))
        elif roll < 0.87:
            # With no connection left the link has no timeslot to run on: refused.
            before, connected = self.channels_open(), link.src or (link.dst and link.kind == "hdlc")
            if link.channel:
                self.released(link)
            if self.act(slot, "activate : empty : NULL", "success" if connected else None) and connected:
                self.activated(slot, before)
        elif roll < 0.92 and slot == PSTN and any(p.kind == "mixerOut" for p in m.ports.values()):
            port = rnd.choice(sorted(s for s, p in m.ports.items() if p.kind == "mixerOut"))
            self.act(port, "connect : %d" % slot, None)
        else:
            self.link_destroy(slot)

    def refuse(self, device, count, *aim):
        """The device refuses its next count requests (0: it takes them again); aim: of that
        request name ("any") and first field only. The one place a refusal is made."""
        self.board.ask("fail %s EIO %d %s" % (device, count, " ".join(map(str, aim))))

    def hang_up(self, what):
        """Hangs up a device ("reset": all, the board forgetting what they held); for the switch's,
        waits until the daemon has it open again (a connect before is refused)."""
        seen = len(self.daemon.output())
        self.board.ask("reset" if what == "reset" else "hangup " + what)
        if what in ("reset", "hal"):
            self.assertTrue(vx.wait_for(lambda: "hwMux: device opened" in self.daemon.output()[seen:], SETTLE),
                            "the switch's device is not opened again")

    def fault(self):
        """A device refusing one request, refusing for a while, hung up, or the board reset.
        Returns how many steps a lasting refusal stays."""
        m, rnd = self.m, self.rnd
        kind = rnd.choice(("once", "once", "once", "while", "while", "hangup", "reset"))
        m.unsettled = True
        if kind == "once":
            # One refused request, meant for the step made at once: on the tone and DSP devices,
            # one on the port's timeslot (the mixer's name the unit).
            device, slot = rnd.choice(DEVICES[:3]), rnd.choice(sorted(m.ports))
            aim = () if device == "mixer" else ("any", ts(m.ports[slot].channel))
            m.fault = device
            self.note("the %s device refuses its next request %s" % (device, aim))
            if device == "mixer" or rnd.random() < 0.2:
                self.refuse(device, 1, *aim)
                if rnd.random() < 0.5:
                    self.destroy(slot)
                else:
                    self.create_port(slot, m.ports[slot].kind, m.ports[slot].channel)
            else:
                self.ioctl(slot, device, aim)
            self.refuse(device, 0)
            m.fault = None
            if rnd.random() < 0.5 and m.ports:
                # The next request at once: what the refusal left owed is carried out first.
                self.ioctl(rnd.choice(sorted(m.ports)))
            return 0
        if kind == "while":
            device = rnd.choice(DEVICES)
            self.refuse(device, 1000000)
            m.fault = device
            self.note("the %s device refuses every request" % device)
            return rnd.randint(1, 3)
        device = rnd.choice(DEVICES) if kind == "hangup" else "reset"
        self.hang_up(device)
        # What the daemon puts back first is refused (not on the switch: its periodic requests).
        m.refusing = [d for d in ((device,) if kind == "hangup" else DEVICES[:2]) if d != "hal" and rnd.random() < 0.5]
        for d in m.refusing:
            self.refuse(d, 1)
        self.note(("the %s device hung up" % device if kind == "hangup" else "the board reset") +
                  "".join(", the %s device refusing once" % d for d in m.refusing))
        if kind == "reset":
            m.held.clear()
            # The links lost their channels: the controller, told so, destroys them.
            for slot in sorted(m.links):
                self.destroy(slot)
        return 0

    def random_step(self):
        """One random step; returns how many steps a lasting refusal it made stays."""
        m, rnd = self.m, self.rnd
        roll, free = rnd.random(), [s for s in PORTS if s not in m.ports]
        count = lambda kind, c: sum(1 for p in m.on(c) if p.kind == kind)
        ins = [c for c in m.channels if count("mixerIn", c) < 3]
        outs = [c for c in m.channels if count("mixerOut", c) < 2] + ([OUT] if count("mixerOut", OUT) < 3 else [])
        if free and (roll < 0.12 and ins or not m.ports):
            self.create_port(rnd.choice(free), "mixerIn", rnd.choice(ins or m.channels))
        elif free and roll < 0.2 and outs:
            self.create_port(rnd.choice(free), "mixerOut", rnd.choice(outs))
        elif roll < 0.4:
            self.ioctl(rnd.choice(sorted(m.ports)))
        elif roll < 0.5:
            slot, trunk = rnd.choice(sorted(m.ports)), rnd.choice(TRUNKS)
            self.connect(*((trunk, slot) if m.ports[slot].kind == "mixerIn" else (slot, trunk)))
        elif roll < 0.55:
            self.disconnect(rnd.choice(sorted(m.ports) + list(TRUNKS) + sorted(m.exts) + sorted(m.links)))
        elif roll < 0.64:
            self.destroy(rnd.choice(sorted(m.ports) + sorted(m.exts) + sorted(m.links)))
        elif roll < 0.68:
            slot = rnd.choice(sorted(m.ports))
            self.create_port(slot, m.ports[slot].kind, m.ports[slot].channel)
        elif roll < 0.73:
            self.ext_step()
        elif roll < 0.87 and m.fault != "hal":  # (a link's channel the switch refuses is not patched)
            self.link_step()
        elif not m.fault and m.ports:
            return self.fault()
        elif m.ports:
            self.ioctl(rnd.choice(sorted(m.ports)))
        return 0

    def run_seed(self, seed, steps):
        self.rnd = random.Random(seed)
        m = self.m = Model(seed, tuple(sorted(self.rnd.sample(CHANNELS, self.rnd.choice((2, 3))))))
        # A fresh board and controller, whatever an earlier run left.
        for device in DEVICES:
            self.refuse(device, 0)
        self.new_controller()
        self.hang_up("reset")
        self.assertEqual(self.send_to(None, "query : NULL"), "success")
        for trunk in TRUNKS + (HDLC_TRUNK,):
            # (A timeslot still routed for an earlier run's slot is refused for now.)
            self.assertTrue(vx.wait_for(lambda: self.send_to(trunk, "create : trunk : { trunk 0, timeslot %d }" % trunk)
                                        == "success", SETTLE), "trunk timeslot %d refused" % trunk)
        # (A trunk slot destroyed leaves its output as it was: an earlier run's idle stays.)
        m.opened = {t for t in TRUNKS if self.board.ask("switch %d" % t) == "constant 213"}
        m.leftover = IDLE if self.board.ask("switch %d" % HDLC_TRUNK) == "constant 213" else None
        away = 0
        for step in range(1, steps + 1):
            m.step = step
            # A lasting refusal skips the checks until it ends.
            lasting = self.random_step()
            if lasting or away > 1:
                away = lasting or away - 1
                continue
            if away:
                away = 0
                self.refuse(m.fault, 0)
                self.note("the %s device takes requests again" % m.fault)
                m.fault = None
            self.check(SETTLE if m.unsettled else QUIET)
            # A refusal left for what the daemon puts back first, when it had nothing to.
            for device in m.refusing:
                self.refuse(device, 0)
            m.refusing, m.unsettled = [], False
        if m.fault:
            self.refuse(m.fault, 0)
            m.fault = None
            self.check(SETTLE)
        for slot in sorted(m.ports) + sorted(m.exts) + sorted(m.links):
            m.step += 1
            self.destroy(slot)
            self.check(QUIET)
        print("seed %d, %d steps on channels %s: %d departures from a shared timeslot, %d requests on one, "
              "%d event owners chosen among ports, %d routes onto a shared output, %d connects of a connected "
              "pair, %d routes leaving the shared trunk timeslot to another" %
              (seed, steps, m.channels, m.left, m.requests, len(m.chosen), m.shared_routes, m.repeats, m.link_left),
              file=sys.stderr)
        # What a run must have checked, so that it cannot pass on nothing.
        self.assertGreaterEqual(m.left, steps // 30, "too few departures from a shared timeslot")
        self.assertGreaterEqual(m.requests, steps // 10, "too few requests on a shared timeslot")
        self.assertGreaterEqual(len(m.chosen), steps // 40, "too few event owners chosen among ports")
        self.assertGreaterEqual(m.shared_routes, steps // 100, "too few routes onto a shared output")
        self.assertGreaterEqual(m.repeats, steps // 150, "too few connects of a connected pair")
        self.assertGreaterEqual(m.link_left, steps // 150, "too few routes leaving the shared trunk timeslot")

    def test_random_shared_channels(self):
        for seed in self.seeds:
            with self.subTest(seed=seed):
                self.run_seed(seed, self.steps)


def take_args():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--print-steps", action="store_true")
    global VERBOSE
    VERBOSE = vx.tester_args(SharedChannels, parser).print_steps


if __name__ == "__main__":
    take_args()
    vx.main()
